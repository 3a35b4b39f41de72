#include "tests/reshaper/program_fixture.h"

#include <sys/stat.h>
#include <unistd.h>

#include <regex>

#include "tests/reshaper/reshaper_fixture.h"

namespace reshaper_test {

using testing_support::Exists;
using testing_support::MakeFolders;
using testing_support::ReadFile;

const char* const kStart = "Reshaper program start";

void ReshaperProgramTest::SetUp() {
  MakeFolders(program_);
  MakeFolders(databases_);
  MakeFolders(logs_);
  testing_support::CopyFile(testing_support::BinaryFromEnv("RESHAPER_BIN"), binary_);
  testing_support::ChmodFile(binary_, 0755);
  CreateDatabase(target_, kTargetTables);
  MakeShell("InstallShell.mdb", kInstallShell, kInstallQueries);
  MakeShell("ERUShell.mdb", kEruShell, kEruQueries);
}

void ReshaperProgramTest::MakeShell(const std::string& name, const std::string& sql,
                                    const std::vector<platform::engine::SavedQuery>& queries) {
  const std::string path = program_ + "/" + name;
  if (Exists(path)) ::unlink(path.c_str());
  // The shell holds the target's tables too, so that its queries prepare.
  CreateDatabase(path, std::string(kTargetTables) + kShellTables + sql, queries);
}

testing_support::RunResult ReshaperProgramTest::Reshaper(const std::vector<std::string>& args) {
  return testing_support::Run(binary_, args, {{"SYSTEM_DRIVE", drive_}});
}

std::vector<std::string> ReshaperProgramTest::LogLines() {
  const std::string text = ReadFile(log_);
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      ADD_FAILURE() << "log line without CR LF: " << text.substr(start);
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

bool ReshaperProgramTest::IsLogLine(const std::string& line, const std::string& text) {
  static const std::regex date(R"( \d{4}-\d\d-\d\d \d\d:\d\d:\d\d$)");
  return line.size() > text.size() && line.compare(0, text.size(), text) == 0 &&
         std::regex_match(line.substr(text.size()), date);
}

void ReshaperProgramTest::ExpectLog(const std::vector<std::string>& texts) {
  const auto lines = LogLines();
  ASSERT_EQ(lines.size(), texts.size()) << ReadFile(log_);
  for (std::size_t i = 0; i < texts.size(); ++i) {
    EXPECT_TRUE(IsLogLine(lines[i], texts[i])) << lines[i];
  }
}

ino_t ReshaperProgramTest::TargetInode() {
  struct stat st {};
  EXPECT_EQ(::stat(target_.c_str(), &st), 0);
  return st.st_ino;
}

std::string ReshaperProgramTest::Version() {
  return ReadScalar(target_, "SELECT Version_Number FROM SoftwareVersion").ToText();
}

long ReshaperProgramTest::TestCount() {
  return ReadScalar(target_, "SELECT count(*) FROM Tests").ToLong();
}

}  // namespace reshaper_test
