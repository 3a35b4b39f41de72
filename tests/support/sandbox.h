// One test's analyser workstation: a temporary system drive with the database folder, a
// program folder with copies of the built programs, and runs of them against that drive.
#pragma once

#include <string>
#include <vector>

#include "tests/support/databases.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

namespace testing_support {

class Sandbox : public TempDir {
 public:
  // Makes drive/Corvista1000/Databases and program; no database, no Logs folder yet.
  Sandbox() {
    MakeFolders(databases());
    MakeFolders(program_folder());
  }

  const std::string& root() const { return path(); }
  std::string drive() const { return Sub("drive"); }
  std::string databases() const { return Sub("drive/Corvista1000/Databases"); }
  std::string logs() const { return Sub("drive/Corvista1000/Logs"); }
  std::string database() const { return databases() + "/Corvista1k.mdb"; }
  std::string lock_file() const { return databases() + "/Corvista1k.ldb"; }
  std::string program_folder() const { return Sub("program"); }
  std::string InProgram(const std::string& name) const { return program_folder() + "/" + name; }
  // The completion marker of the program `name` ("CatalogSync", "Reshaper").
  std::string marker(const std::string& name) const { return drive() + "/" + name + ".txt"; }

  // Copies the binary that CTest names in `variable` (BinaryFromEnv) to the program folder as
  // `name`, or to `path`, executable; returns the copy's path.
  std::string Install(const char* variable, const std::string& name) {
    return InstallAt(variable, InProgram(name));
  }
  std::string InstallAt(const char* variable, const std::string& path) {
    CopyFile(BinaryFromEnv(variable), path);
    ChmodFile(path, 0755);
    return path;
  }
  // The analyser database from the example schema and sample data.
  void CreateDatabase() { CreateAnalyserDatabase(database(), SampleDataSql()); }

  // Runs `executable` (a path, or in the program folder) with the drive as SYSTEM_DRIVE.
  RunResult Run(const std::string& executable, const std::vector<std::string>& args,
                StandardError standard_error = StandardError::kFile) const {
    return testing_support::Run(
        executable.find('/') == std::string::npos ? InProgram(executable) : executable, args,
        {{"SYSTEM_DRIVE", drive()}}, standard_error);
  }
};

}  // namespace testing_support
