#include "shell_package/plan.h"

#include <algorithm>
#include <iterator>

#include "platform/core/files.h"
#include "platform/engine/integrity.h"
#include "platform/history/writer.h"
#include "reshaper/command_line.h"
#include "reshaper/mod_main.h"
#include "reshaper/paths.h"
#include "reshaper/upgrade_steps.h"

namespace shell_package {

namespace {

namespace engine = platform::engine;
using engine::Database;
using platform::Error;
using reshaper::UpgradeStep;

std::vector<std::string> QueryNames(Database& db) {
  std::vector<std::string> names;
  for (const auto& query : engine::SavedQueries(db)) names.push_back(query.name);
  return names;
}

bool Contains(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// The tables that the shell's StructureInfo names and the target has.
std::vector<std::string> ListedTables(Database& target, Database& shell) {
  std::vector<std::string> tables;
  try {
    const engine::Rows rows = shell.Query("SELECT * FROM StructureInfo");
    for (std::size_t row = 0; row < rows.rows.size(); ++row) {
      try {
        const std::string table = engine::FindTable(target, rows.Field(row, "Table").ToText());
        if (!Contains(tables, table)) tables.push_back(table);
      } catch (const Error&) {
        // The structure step stops at this row; it changes no field of it.
      }
    }
  } catch (const Error&) {
    // No StructureInfo: the structure step changes nothing.
  }
  return tables;
}

using TableFields = std::vector<std::pair<std::string, std::vector<engine::FieldInfo>>>;

TableFields FieldsOf(Database& db, const std::vector<std::string>& tables) {
  TableFields fields;
  for (const auto& table : tables) fields.emplace_back(table, engine::TableFields(db, table));
  return fields;
}

const engine::FieldInfo* FindField(const std::vector<engine::FieldInfo>& fields,
                                   const std::string& name) {
  for (const auto& field : fields) {
    if (field.name == name) return &field;
  }
  return nullptr;
}

// Fields in `from` that `to` lacks, per table.
void FieldsMissing(const TableFields& from, const TableFields& to, bool added,
                   std::vector<FieldChange>& out) {
  for (std::size_t t = 0; t < from.size(); ++t) {
    for (const auto& field : from[t].second) {
      if (!FindField(to[t].second, field.name)) out.push_back({added, from[t].first, field});
    }
  }
}

// Watches the steps on the copies and records what each changed.
class Recorder : public reshaper::StepObserver {
 public:
  Recorder(Database& target, Database& shell, PlanReport& report)
      : target_(target), shell_(shell), report_(report), rows_(target) {}

  void Starting(UpgradeStep step) override {
    rows_.Take();
    made_.clear();
    if (step == UpgradeStep::kQueries) queries_before_ = QueryNames(target_);
    if (step == UpgradeStep::kStructure) {
      tables_ = ListedTables(target_, shell_);
      fields_before_ = FieldsOf(target_, tables_);
    }
  }

  void Ended(UpgradeStep step) override {
    if (step == UpgradeStep::kQueries) queries_after_ = QueryNames(target_);
    if (step == UpgradeStep::kStructure) {
      const TableFields after = FieldsOf(target_, tables_);
      FieldsMissing(after, fields_before_, true, report_.fields);
      FieldsMissing(fields_before_, after, false, report_.fields);
    }
    if (step == UpgradeStep::kVersion) TakeVersionChange();
    rows_.Take();
  }

  // Each change recorded as the run records it: its description, then the
  // rows it changed, under its step's group.
  void Changing(const reshaper::StepChange& change, const reshaper::MakeChange& make) override {
    make();
    if (change.schema) report_.history.push_back(*change.schema);
    made_ = rows_.Take();
    std::vector<platform::history::Change> rows =
        platform::history::RowChanges(target_, change.group, made_);
    report_.history.insert(report_.history.end(), std::make_move_iterator(rows.begin()),
                           std::make_move_iterator(rows.end()));
  }

  void StatementRan(std::size_t statement, const std::string& sql) override {
    report_.default_data.push_back({statement, sql, std::move(made_)});
  }

  // The queries the step wrote, up to the one it failed at (`failed`).
  void TakeQueryChanges(const std::optional<std::string>& failed) {
    if (!queries_after_) return;
    for (const auto& query : engine::SavedQueries(shell_)) {
      const bool before = Contains(queries_before_, query.name);
      const bool after = Contains(*queries_after_, query.name);
      if (after) {
        report_.queries.push_back(
            {before ? QueryChange::Kind::kReplaced : QueryChange::Kind::kAdded, query.name,
             query.sql});
      } else if (before) {
        report_.queries.push_back({QueryChange::Kind::kDeleted, query.name, query.sql});
      }
      if (failed && query.name == *failed) return;
    }
  }

 private:
  void TakeVersionChange() {
    for (auto& change : made_) {
      if (change.kind != engine::RowChange::Kind::kUpdated || change.columns.size() != 1) continue;
      report_.version = VersionChange{change.table, change.columns[0], change.old_values[0],
                                      change.new_values[0]};
    }
  }

  Database& target_;
  Database& shell_;
  PlanReport& report_;
  engine::ChangeRecorder rows_;
  std::vector<engine::RowChange> made_;  // the rows of the step's latest change
  std::vector<std::string> queries_before_;
  std::optional<std::vector<std::string>> queries_after_;
  std::vector<std::string> tables_;
  TableFields fields_before_;
};

std::optional<std::string> FailedQuery(const Error& error) {
  if (error.number() != reshaper::failure_code::kCreatingQueries) return std::nullopt;
  for (const auto& [what, value] : error.details()) {
    if (what == "query") return value;
  }
  return std::nullopt;
}

// The compaction as the run records it: the file's size in bytes before
// and after.
platform::history::Change CompactionChange(const PlanReport& report) {
  platform::history::Change change{
      "COMPACTION", platform::history::ChangeKind::kCompaction, report.database, {}, {}};
  change.columns.push_back(
      {"size", static_cast<double>(*report.size_before), static_cast<double>(*report.size_after)});
  return change;
}

[[noreturn]] void Fail(long code, std::vector<Error::Detail> details) {
  Error error(code, reshaper::FailureMessage(code));
  for (auto& [what, value] : details) error.AddDetail(what, value);
  throw error;
}

// The driver's preconditions on the target, as it tests them before it
// reads the command line.
void CheckTarget(const std::string& database, PlanReport& report) {
  namespace code = reshaper::failure_code;
  if (!platform::FileExists(database)) Fail(code::kTargetMissing, {{"file", database}});
  switch (engine::ProbeLockFile(database)) {
    case engine::LockState::kNone: return;
    case engine::LockState::kHeld:
      Fail(code::kDatabaseLocked, {{"lock file", database.substr(0, database.rfind('.')) + ".ldb"},
                                   {"cause", "a running program has the database open"}});
    case engine::LockState::kStale:
      report.notes.push_back("a stale lock file lies beside the database: the run removes it");
      return;
  }
}

void Simulate(PlanReport& report, const std::string& shell_folder) {
  CheckTarget(report.database, report);
  // Checked before the command line, as the run checks the target before
  // it copies the mode's shell.
  Database target = engine::OpenInMemoryCopy(report.database);
  engine::CheckIntegrity(target);
  const reshaper::CommandLine line =
      reshaper::ReadCommandLine(report.command_line, [&](const std::string& sMode) {
        report.shell = shell_folder + reshaper::ShellFileName(sMode);
        // The run copies the shell here; a missing one stops it.
        if (!platform::FileExists(report.shell)) {
          throw Error(platform::err::kFileNotFound).AddDetail("file", report.shell);
        }
      });
  report.mode = line.sMode;
  Database shell = engine::OpenInMemoryCopy(report.shell);
  report.size_before = engine::DatabaseSize(target);
  Recorder recorder(target, shell, report);
  try {
    report.queries_without_view = reshaper::RunUpgradeSteps(line, target, shell, &recorder);
  } catch (const Error& error) {
    recorder.TakeQueryChanges(FailedQuery(error));
    throw;
  }
  recorder.TakeQueryChanges(std::nullopt);
  report.size_after = engine::CompactedSize(target);
  report.history.push_back(CompactionChange(report));
}

}  // namespace

PlanReport PlanUpgrade(const std::string& command_line, const std::string& shell_folder,
                       const std::string& database) {
  PlanReport report;
  report.command_line = command_line;
  report.database = database;
  try {
    Simulate(report, shell_folder);
  } catch (const Error& error) {
    report.failure = error;
  } catch (const std::exception& error) {
    report.failure = Error(platform::err::kDeviceIoError, error.what());
  }
  return report;
}

FailureText DescribeFailure(const Error& error) {
  FailureText text;
  if (const char* message = reshaper::FailureMessage(error.number())) {
    text.code = error.number() - platform::err::kObjectErrorBase;
    text.message = message;
  } else {
    text.message = reshaper::kUnexpectedErrorMessage;
    text.details.emplace_back("error", std::to_string(error.number()) + " " + error.description());
  }
  text.details.insert(text.details.end(), error.details().begin(), error.details().end());
  return text;
}

}  // namespace shell_package
