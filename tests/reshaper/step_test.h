// A gtest fixture for one upgrade step: a target and a shell database in a
// temporary folder, both open as the driver holds them.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "reshaper/mod_procedures.h"
#include "tests/reshaper/reshaper_fixture.h"
#include "tests/support/test_support.h"

namespace reshaper_test {

class StepTest : public ::testing::Test {
 protected:
  // The target gets kTargetTables + `target_sql`, the shell kShellTables +
  // `shell_sql` and `shell_queries`; both are then opened. The shell also
  // holds the target's tables, as a release's shell does, so that its
  // queries prepare.
  void Build(const std::string& shell_sql,
             const std::vector<platform::engine::SavedQuery>& shell_queries = {},
             const std::string& target_sql = "",
             const std::vector<platform::engine::SavedQuery>& target_queries = {}) {
    CreateDatabase(target_path_, std::string(kTargetTables) + target_sql, target_queries);
    CreateDatabase(shell_path_, std::string(kTargetTables) + kShellTables + shell_sql,
                   shell_queries);
    target_.emplace(platform::engine::Database::Open(target_path_));
    shell_.emplace(platform::engine::Database::Open(shell_path_));
  }

  platform::engine::Database& target() { return *target_; }
  platform::engine::Database& shell() { return *shell_; }
  std::string Detail(const std::string& what) const { return DetailValue(failure_.details, what); }

  testing_support::TempDir dir_;
  std::string target_path_ = dir_.Sub("Corvista1k.mdb");
  std::string shell_path_ = dir_.Sub("InstallShell.mdb");
  std::optional<platform::engine::Database> target_;
  std::optional<platform::engine::Database> shell_;
  reshaper::StepFailure failure_;
};

}  // namespace reshaper_test
