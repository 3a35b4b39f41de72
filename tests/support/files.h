// Temporary folders and whole files.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

// A fresh folder under $TMPDIR, removed with its contents on destruction.
class TempDir {
 public:
  // A new folder under $TMPDIR, or under `parent` when given.
  explicit TempDir(const std::string& parent = {});
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + relative, with the missing parent folders made when `make_parents`.
  std::string Sub(const std::string& relative, bool make_parents = false) const;

 private:
  std::string path_;
};

void MakeFolders(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
// The whole number in the environment variable `name`, or `fallback` when unset or empty.
int IntSetting(const char* name, int fallback);
void CopyFile(const std::string& from, const std::string& to);
void ChmodFile(const std::string& path, unsigned mode);
// The ".<name>.tmp" files that a replacement writes beside its destination in `folder`.
std::vector<std::string> TemporaryFilesIn(const std::string& folder);

std::string SourceDir();                           // the source tree, for committed fixtures
std::string ExampleFile(const std::string& name);  // a file of examples/, whole

}  // namespace testing_support
