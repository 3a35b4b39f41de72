// Temporary folders and whole files for the tests.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

// A fresh folder under $TMPDIR, removed with its contents on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + relative; creates missing parent folders of `relative`
  // when `make_parents` is set.
  std::string Sub(const std::string& relative, bool make_parents = false) const;

 private:
  std::string path_;
};

void MakeFolders(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
// The whole number in the environment variable `name`, or `fallback` when
// it is unset or empty (the campaigns' sizes).
int IntSetting(const char* name, int fallback);
void CopyFile(const std::string& from, const std::string& to);
void ChmodFile(const std::string& path, unsigned mode);
// The files in `folder` that a replacement writes beside its destination
// (".<name>.tmp"), which a run that failed must have removed.
std::vector<std::string> TemporaryFilesIn(const std::string& folder);

// The source tree's folder, for committed fixtures.
std::string SourceDir();
// A committed file of examples/ (the schema, sample data, shells' SQL), whole.
std::string ExampleFile(const std::string& name);

}  // namespace testing_support
