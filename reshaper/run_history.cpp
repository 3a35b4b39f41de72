#include "reshaper/run_history.h"

#include "platform/core/message_box.h"
#include "platform/engine/snapshot.h"
#include "reshaper/paths.h"

namespace reshaper {

namespace history = platform::history;

RunHistory::RunHistory(const std::string& path, const std::string& command_line,
                       const std::string& sMode)
    : writer_(path, "Reshaper", command_line, TargetPath(), ShellSourcePath(sMode)) {}

void RunHistory::Attach(platform::engine::Database& target) {
  writer_.Attach(target);
  target_ = &target;
}

void RunHistory::Detach() {
  if (target_ == nullptr) return;
  target_ = nullptr;
  writer_.Detach();
}

void RunHistory::Changing(const StepChange& change, const MakeChange& make) {
  platform::engine::Transaction transaction = target_->Begin();
  // A recorder of this change alone: a field change alters its table's
  // columns, and the recorder reads column names when it is taken, so no
  // write of an earlier change may still be waiting in it.
  {
    platform::engine::ChangeRecorder recorder(*target_);
    make();
    if (change.schema) writer_.Record({*change.schema});
    writer_.Record(change.group, recorder);
  }
  transaction.Commit();
}

void RunHistory::RecordCompaction(std::uint64_t size_before, std::uint64_t size_after) {
  const auto size = [](std::uint64_t bytes) { return platform::Value(static_cast<double>(bytes)); };
  writer_.Record({{"COMPACTION",
                   history::ChangeKind::kCompaction,
                   TargetPath(),
                   "",
                   {{"size", size(size_before), size(size_after)}}}});
}

void RunHistory::Seal(int exit_status) noexcept {
  writer_.SealOrTell({history::NowUtc(), exit_status == 0, exit_status, platform::MessagesShown()});
}

}  // namespace reshaper
