// Writing a run's change history: "C:\Corvista1000\Logs\ChangeHistory.db",
// beside the install log.
//
// A run's record is written in three parts: its header (RunHeader) with its
// first change or at its seal, whichever comes first; its changes as the run
// makes them, in the transaction of the connection they go through; its seal
// when the run ends. A program attaches the history to the connection that
// changes the analyser database, so that a change and its record commit in
// one transaction (SQLite's commit of the two files is atomic in rollback-
// journal mode): a crash or a rolled-back transaction leaves both or neither.
// Nothing here rewrites or deletes a record that has been written.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/engine/database.h"
#include "platform/engine/snapshot.h"
#include "platform/history/record.h"

namespace platform::history {

// The history's path under the system drive, when its folder (the install
// log's "C:\Corvista1000\Logs") exists; none otherwise: the run then writes
// no history.
std::optional<std::string> DefaultHistoryPath();

// The facts of a run that starts now: the time (UTC and the local offset),
// the real user, SUDO_USER, the host, the tool set's version; with the
// source's size and SHA-256 when `source` is not empty. Throws
// platform::Error when the source cannot be read.
RunHeader StartRun(const std::string& program, const std::string& command_line,
                   const std::string& database, const std::string& source);

// The changes of a ChangeRecorder::Take as history changes of `group`: each
// row keyed by its table's declared primary key (read from `db`), else by
// its rowid; values keep their types.
std::vector<Change> RowChanges(platform::engine::Database& db, const std::string& group,
                               const std::vector<platform::engine::RowChange>& changes);

class HistoryWriter {
 public:
  // Opens the history at `path` on a connection of its own under the
  // engine's rules (lock file; read-only by its mode bits, also for root;
  // no symbolic link followed where the file is created), creating the file
  // and its schema when missing, and proves that it can be written: a write
  // that it rolls back. Throws platform::Error (its number SQLite's or the
  // platform's) with a "history" detail naming the file: read-only by its
  // mode, 8 with a "read-only" detail; locked past the 5 s busy timeout, 5;
  // a folder at the name, 57 ("system: not a regular file: a folder"); a
  // symbolic link at the name, 57 ("link to"); no database, 26.
  HistoryWriter(const std::string& path, RunHeader header);
  // As above, for a run that starts now: StartRun's facts, but the source's
  // size and SHA-256 are read on a thread of their own meanwhile, so that a
  // source of megabytes does not hold the program up. A source that cannot
  // be opened fails here (a "history" detail besides the file's own); one
  // that cannot be read to its end, the first record or the seal.
  HistoryWriter(const std::string& path, const std::string& program,
                const std::string& command_line, const std::string& database,
                const std::string& source);
  HistoryWriter(const HistoryWriter&) = delete;
  HistoryWriter& operator=(const HistoryWriter&) = delete;
  ~HistoryWriter();

  // From now on the records go through `db`'s connection (the history is
  // attached to it as schema "history"), so they share its transactions.
  // Statements that `db` runs for anyone else cannot reach the history
  // (SQLite's authorizer refuses them with 23). A transaction begun on `db`
  // (Database::Begin, BEGIN IMMEDIATE) holds the history's write lock too,
  // until it ends. REQUIRES: no transaction open on `db`; `db` is neither
  // moved nor closed before Detach (or this writer's end, which detaches).
  void Attach(platform::engine::Database& db);
  // Back to the writer's own connection. REQUIRES: no transaction open.
  void Detach();

  // Records `changes` in the current transaction of the connection in use,
  // so that they commit or roll back with the changes they describe (a
  // transaction of their own when none is open), writing the run's header
  // first when it is not in the file: not yet, or no longer after a
  // rollback. Writes nothing, not even the header, for no change. Throws
  // platform::Error with a "history" detail; what it wrote is then undone
  // (a savepoint, or the one statement it took), the caller's transaction
  // stays open and the caller rolls it back: no change without its record.
  void Record(const std::vector<Change>& changes);
  // Records what `recorder` (on the attached database) takes now as
  // changes of `group`, as Record(RowChanges(...)) would, in the same way,
  // without building them first: a run records tens of thousands of rows.
  void Record(const std::string& group, platform::engine::ChangeRecorder& recorder);

  // Seals the run: writes the header when missing (a run that changed
  // nothing, or whose changes were rolled back), then `end`, and chains the
  // hash of the run's whole content to the last seal's, in one write
  // transaction of its own on the writer's own connection, attached or not
  // (another program sealing meanwhile is waited for). Answers the run's
  // hash. Throws platform::Error with a "history" detail; the run then
  // stays unsealed. REQUIRES: called once, last; no transaction open on an
  // attached connection (its write lock would hold the seal up past the
  // busy timeout: 5).
  std::string Seal(const RunEnd& end);
  // Seal for a run whose messages are shown already: a seal that cannot be
  // written is told in one more line, "detail: history: <path>: not sealed:
  // <number> <description>", and the run stays unsealed (unfinished).
  void SealOrTell(const RunEnd& end) noexcept;

  const std::string& path() const;

  struct Impl;

 private:
  void Open();  // the constructors' common part

  std::unique_ptr<Impl> impl_;
};

// The current time as the history writes it: "2026-12-09T04:21:07Z".
std::string NowUtc();

}  // namespace platform::history
