// The run's change history: each change of the upgrade steps commits with
// its record in one transaction on the target (both or neither), the
// compaction, which cannot run in a transaction, is recorded right after it,
// and the run ends with its seal. Changes made before a failure stay
// recorded, as they stay made.
#pragma once

#include <cstdint>
#include <string>

#include "platform/engine/database.h"
#include "platform/history/writer.h"
#include "reshaper/upgrade_steps.h"

namespace reshaper {

class RunHistory final : public StepObserver {
 public:
  // Opens the history at `path` for the run of `command_line` (as read) on
  // the target, whose shell is the mode `sMode`'s source in the program
  // folder, and proves that it can be written. Throws platform::Error with a
  // "history" detail naming the file.
  RunHistory(const std::string& path, const std::string& command_line, const std::string& sMode);

  // From now on the records go through `target`'s connection.
  // REQUIRES: no transaction open on `target`; Detach before it is closed.
  void Attach(platform::engine::Database& target);
  // Back to the history's own connection; nothing when not attached.
  void Detach();

  // Makes `change` in a transaction of its own on the target and records it
  // there with the rows it changed, then commits both; a failure rolls both
  // back and passes on. REQUIRES: attached.
  void Changing(const StepChange& change, const MakeChange& make) override;

  // Records the compaction just made: the target's size in bytes before and
  // after. Throws platform::Error with a "history" detail.
  void RecordCompaction(std::uint64_t size_before, std::uint64_t size_after);

  // Seals the run with all it showed (platform::MessagesShown) and
  // `exit_status`. A seal that cannot be written leaves the run unsealed and
  // adds one `detail: history:` line to what the run shows.
  // REQUIRES: detached; called once, after the run's last message.
  void Seal(int exit_status) noexcept;

 private:
  platform::history::HistoryWriter writer_;
  platform::engine::Database* target_ = nullptr;
};

}  // namespace reshaper
