// The change history's records as data: one run of a program, the changes it
// made, and the seal that ends it. The writer fills them, the reader reads
// them back, the report prints them; doc/change_history_format.md gives the
// file they are stored in.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/value.h"

namespace platform::history {

// Who ran what, where, on which file, from which source: fixed when a run
// starts and never changed afterwards.
struct RunHeader {
  std::string program;       // "CatalogSync", "Reshaper"
  std::string version;       // the tool set's version
  std::string command_line;  // the program's arguments as it read them
  std::string started_utc;   // "2026-12-09T04:21:07Z"
  std::string utc_offset;    // the local offset at the start, "+01:00"
  std::string user;          // the real user's name (its number when it has none)
  std::string sudo_user;     // SUDO_USER; empty when unset
  std::string host;
  std::string database;  // the analyser database's path
  std::string source;    // the source file's path; empty when the run has none
  std::int64_t source_size = 0;
  std::string source_sha256;  // lower-case hex; empty when the run has no source

  bool operator==(const RunHeader&) const = default;
};

enum class ChangeKind {
  kInsert,         // a row added
  kUpdate,         // columns of a row changed
  kDelete,         // a row removed
  kQueryAdded,     // a saved query that was not there
  kQueryReplaced,  // a saved query's SQL replaced
  kFieldAdded,     // a field appended to a table
  kFieldRemoved,   // a field removed from a table
  kVersion,        // the version stamp
  kCompaction,     // the file compacted
};

// "insert", "update", "delete", "query added", "query replaced",
// "field added", "field removed", "version", "compaction".
const char* KindName(ChangeKind kind);

// One value before and after. Empty (Value()) stands for "no value": the
// before of an insert, the after of a delete. Other kinds keep their type
// (Null, Long, Double, Text, ...), which the history stores beside the value.
struct ColumnChange {
  std::string column;
  Value before;
  Value after;
};

struct Change {
  // What the change belongs to, for grouping: "assay 101" in CatalogSync;
  // the step, "QUERY", "STRUCTURE", "DEFAULT DATA", "VERSION" or
  // "COMPACTION", in Reshaper.
  std::string group;
  ChangeKind kind = ChangeKind::kUpdate;
  // The table of a row change; the saved query of a query change; the
  // "<table>.<field>" of a field change; the table and field of the version.
  std::string object;
  // The row of a row change by its declared primary key, "TestNumber=101"
  // ("A=1, B=2" for several columns), else by its rowid, "rowid=5"; empty
  // for the other kinds.
  std::string key;
  // Row changes: every column of an inserted or deleted row, the changed
  // columns of an update. Queries: "SQL". Fields: "definition" (the field
  // as the shell describes it). Version: the field. Compaction: "size" in
  // bytes.
  std::vector<ColumnChange> columns;
};

// How a run ended, exactly as the operator saw it.
struct RunEnd {
  std::string ended_utc;
  bool succeeded = false;
  int exit_status = 0;
  std::string message;  // what the run wrote to standard error (empty on success)
};

// The seal of a finished run: its place in the chain and the hashes.
struct Seal {
  std::int64_t sequence = 0;  // 1, 2, ... in the order of sealing
  RunEnd end;
  std::string previous_hash;  // the previous seal's hash; 64 zeros for the first
  std::string hash;           // SHA-256 of the run's content and previous_hash
};

struct RunRecord {
  std::int64_t number = 0;  // the run's number in the history, from 1
  RunHeader header;
  std::vector<Change> changes;  // in the order they were made
  std::optional<Seal> seal;     // none: the run did not finish (killed)
};

}  // namespace platform::history
