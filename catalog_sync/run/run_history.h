// The change history of one CatalogSync run: its header, the rows each
// assay changed (committed with them, in the walk's transaction), and its
// seal. Kept only when the Logs folder exists; without it every operation
// here does nothing and the run is as it always was.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "catalog_sync/run/run_state.h"
#include "platform/engine/database.h"
#include "platform/engine/snapshot.h"
#include "platform/history/writer.h"

namespace catalog_sync {

class RunHistory {
 public:
  // `command_line`: the arguments as the program read them.
  explicit RunHistory(std::string command_line);

  // Opens the history when the Logs folder exists, for a run of
  // state.sDatabaseFile from state.sSourceFile, and proves that it can be
  // written. Throws platform::Error, with a `history` detail, when it
  // cannot: the run then fails before it changes anything.
  void Open(const RunState& state);
  bool kept() const { return writer_.has_value(); }

  // From here on the records go through `db`, in its transactions, until
  // Detach. REQUIRES: no transaction open on `db`.
  void Attach(platform::engine::Database& db);
  // Back to the history's own connection, before the attached one closes;
  // nothing when not attached. A detach that fails (a transaction still
  // open after a failed rollback) leaves the attachment to that close,
  // which drops it with the transaction and its records.
  void Detach();

  // Records the rows that `recorder` (on the attached connection) took
  // since the last assay as those of the assay `nTestNumber`, in the
  // current transaction. Nothing for an assay that changed no row.
  void RecordAssay(std::int16_t nTestNumber, platform::engine::ChangeRecorder& recorder);

  // Seals a run that succeeded. Throws platform::Error with a `history`
  // detail when the seal cannot be written.
  void SealSuccess();
  // Seals a run that failed, after its message was shown: that message and
  // `exit_status`, no changes (a failed walk's were rolled back). A seal
  // that cannot be written is told in one more `detail: history:` line; the
  // run's outcome stays. Nothing when a seal was tried already (a failed
  // seal of a success is that run's failure).
  void SealFailure(int exit_status);

 private:
  std::string command_line_;
  std::optional<platform::history::HistoryWriter> writer_;
  platform::engine::Database* attached_ = nullptr;
  bool seal_tried_ = false;
};

}  // namespace catalog_sync
