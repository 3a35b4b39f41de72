#include "tests/support/sandbox.h"

#include "tests/support/databases.h"

namespace testing_support {

Sandbox::Sandbox() {
  MakeFolders(databases());
  MakeFolders(program_folder());
}

std::string Sandbox::Install(const char* variable, const std::string& name) {
  return InstallAt(variable, InProgram(name));
}

std::string Sandbox::InstallAt(const char* variable, const std::string& path) {
  CopyFile(BinaryFromEnv(variable), path);
  ChmodFile(path, 0755);
  return path;
}

void Sandbox::CreateDatabase() {
  CreateAnalyserDatabase(database(), SampleDataSql());
}

RunResult Sandbox::Run(const std::string& executable, const std::vector<std::string>& args,
                       StandardError standard_error,
                       const std::map<std::string, std::string>& env) const {
  std::map<std::string, std::string> with_drive = env;
  with_drive.emplace("SYSTEM_DRIVE", drive());
  const std::string path =
      executable.find('/') == std::string::npos ? InProgram(executable) : executable;
  return testing_support::Run(path, args, with_drive, standard_error);
}

}  // namespace testing_support
