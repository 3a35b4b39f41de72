// Temporary folders and files of a test, and where the sources are.
#include "tests/support/files.h"

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace testing_support {

namespace fs = std::filesystem;

TempDir::TempDir(const std::string& parent)
    : path_((parent.empty() ? fs::temp_directory_path() : fs::path(parent)) / "cvtest.XXXXXX") {
  if (!::mkdtemp(path_.data())) std::abort();
}

TempDir::~TempDir() {
  std::error_code ec;
  // Write bits back first, so that read-only fixtures go too; never through a link (/dev/zero).
  for (auto it = fs::recursive_directory_iterator(path_, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (!it->is_symlink(ec)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
  }
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

std::string TempDir::Sub(const std::string& relative, bool make_parents) const {
  const std::string full = path_ + "/" + relative;
  if (make_parents) MakeFolders(fs::path(full).parent_path().string());
  return full;
}

void MakeFolders(const std::string& path) {
  fs::create_directories(path);
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) ADD_FAILURE() << "cannot write " << path;
}

std::string ReadFile(const std::string& path) {
  // Whole buffers: a character iterator doubles the program tables' time in
  // the debug and ASan builds, which read databases of megabytes.
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

int IntSetting(const char* name, int fallback) {
  const char* value = std::getenv(name);
  return value && *value ? std::atoi(value) : fallback;
}

bool Exists(const std::string& path) {
  return ::access(path.c_str(), F_OK) == 0;
}

void CopyFile(const std::string& from, const std::string& to) {
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
}

void ChmodFile(const std::string& path, unsigned mode) {
  ::chmod(path.c_str(), mode);
}

std::vector<std::string> TemporaryFilesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.find(".tmp") != std::string::npos) names.push_back(name);
  }
  return names;
}

std::string SourceDir() {
  return PROJECT_SOURCE_DIR;
}

std::string ExampleFile(const std::string& name) {
  return ReadFile(SourceDir() + "/examples/" + name);
}
}  // namespace testing_support
