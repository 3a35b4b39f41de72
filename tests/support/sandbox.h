// The analyser workstation of one test: a temporary system drive with the
// database folder, a program folder holding copies of the built programs,
// and runs of those programs against that drive. Every program test, fault
// row, crash and concurrency campaign starts from one.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/process.h"

namespace testing_support {

class Sandbox {
 public:
  // Makes <root>/drive/Corvista1000/Databases and <root>/program. Neither the
  // database nor the Logs folder exists until a test creates it.
  Sandbox();

  const std::string& root() const { return dir_.path(); }
  // root() + "/" + relative, as TempDir::Sub.
  std::string Sub(const std::string& relative, bool make_parents = false) const {
    return dir_.Sub(relative, make_parents);
  }

  std::string drive() const { return Sub("drive"); }
  std::string databases() const { return Sub("drive/Corvista1000/Databases"); }
  std::string logs() const { return Sub("drive/Corvista1000/Logs"); }
  std::string database() const { return databases() + "/Corvista1k.mdb"; }
  std::string lock_file() const { return databases() + "/Corvista1k.ldb"; }
  std::string program_folder() const { return Sub("program"); }
  // A file of the program folder.
  std::string InProgram(const std::string& name) const { return program_folder() + "/" + name; }
  // The completion marker of the program `name` ("CatalogSync", "Reshaper").
  std::string marker(const std::string& name) const { return drive() + "/" + name + ".txt"; }

  // Copies the binary that CTest names in `variable` (e.g. "CATALOGSYNC_BIN")
  // to `path` (by default the program folder under `name`), executable;
  // returns the copy's path.
  std::string Install(const char* variable, const std::string& name);
  std::string InstallAt(const char* variable, const std::string& path);
  // The analyser database from the example schema and sample data.
  void CreateDatabase();

  // Runs `executable` (a path, or the name of a program of the program
  // folder) with the sandbox's drive as SYSTEM_DRIVE, plus `env`.
  RunResult Run(const std::string& executable, const std::vector<std::string>& args,
                StandardError standard_error = StandardError::kFile,
                const std::map<std::string, std::string>& env = {}) const;

 private:
  TempDir dir_;
};

}  // namespace testing_support
