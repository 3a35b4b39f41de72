#include "catalog_sync/run/run_history.h"

#include <string>
#include <utility>

#include "platform/core/error.h"
#include "platform/core/message_box.h"

namespace catalog_sync {

namespace history = platform::history;

RunHistory::RunHistory(std::string command_line) : command_line_(std::move(command_line)) {}

void RunHistory::Open(const RunState& state) {
  const std::optional<std::string> path = history::DefaultHistoryPath();
  if (!path) return;
  writer_.emplace(*path, "CatalogSync", command_line_, state.sDatabaseFile, state.sSourceFile);
}

void RunHistory::Attach(platform::engine::Database& db) {
  if (!writer_) return;
  writer_->Attach(db);
  attached_ = &db;
}

void RunHistory::Detach() {
  if (!attached_) return;
  attached_ = nullptr;
  try {
    writer_->Detach();
  } catch (const platform::Error&) {
    // The connection closes next; see the header.
  }
}

void RunHistory::RecordAssay(std::int16_t nTestNumber, platform::engine::ChangeRecorder& recorder) {
  if (!attached_) return;
  writer_->Record("assay " + std::to_string(nTestNumber), recorder);
}

void RunHistory::SealSuccess() {
  if (!writer_) return;
  seal_tried_ = true;
  writer_->Seal({history::NowUtc(), true, 0, std::string()});
}

void RunHistory::SealFailure(int exit_status) {
  if (!writer_ || seal_tried_) return;
  Detach();
  seal_tried_ = true;
  writer_->SealOrTell({history::NowUtc(), false, exit_status, platform::MessagesShown()});
}

}  // namespace catalog_sync
