// ShellPackage plan: what Reshaper would do with a command line, a shell
// folder and a target, found by running Reshaper's own command-line reader
// and steps, in their fixed order, on in-memory copies of the target and the
// shell. Nothing is written: no file, lock file, log line or marker.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/error.h"
#include "platform/engine/schema.h"
#include "platform/engine/snapshot.h"
#include "platform/history/record.h"

namespace shell_package {

struct QueryChange {
  enum class Kind { kAdded, kReplaced, kDeleted };  // deleted: its re-creation failed
  Kind kind;
  std::string name;
  std::string sql;
};

struct FieldChange {
  bool added;  // else removed
  std::string table;
  platform::engine::FieldInfo field;
};

struct StatementEffect {
  std::size_t statement;  // from 1, in the order the step runs them
  std::string sql;
  std::vector<platform::engine::RowChange> changes;
  // Rows the statement skipped for a key or constraint are not counted: the
  // engine does not report them.
};

struct VersionChange {
  std::string table;
  std::string field;
  platform::Value from;
  platform::Value to;
};

struct PlanReport {
  std::string command_line;
  std::string database;
  std::string shell;  // the shell the run would open; "" when none was chosen
  std::string mode;
  std::vector<std::string> notes;
  std::vector<QueryChange> queries;
  std::vector<FieldChange> fields;
  std::vector<StatementEffect> default_data;
  std::optional<VersionChange> version;  // when the version step stored a value
  // Saved queries that the run keeps without a view (it names them in
  // `detail:` lines): they select what the target lacks after the steps.
  std::vector<std::string> queries_without_view;
  std::optional<std::int64_t> size_before;
  std::optional<std::int64_t> size_after;  // after compaction, on success
  std::optional<platform::Error> failure;  // the failure the run would end with
  // Every change as the run's record in the change history holds it, in
  // the order made: each query, field and version change as the step
  // describes it, each default-data statement's rows, the compaction.
  std::vector<platform::history::Change> history;
};

// The run of Reshaper with `command_line` on the target `database`, the
// shells coming from `shell_folder` (which stands for Reshaper's program
// folder). The report stops where the run would stop.
PlanReport PlanUpgrade(const std::string& command_line, const std::string& shell_folder,
                       const std::string& database);

// The message box text a failure ends with and its `detail:` facts, as
// Reshaper shows them.
struct FailureText {
  std::optional<long> code;  // the failure code; none for an unexpected error
  std::string message;
  std::vector<platform::Error::Detail> details;
};
FailureText DescribeFailure(const platform::Error& error);

}  // namespace shell_package
