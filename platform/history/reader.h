// Reading a change history, for the ChangeHistory tool: never writes a
// record, and reads in short transactions so that it never holds a run up.
// A journal left by a run killed mid-commit is rolled back on opening, as
// the next run would (the file returns to its last commit).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/history/record.h"

namespace platform::history {

// One line of `list`.
struct RunSummary {
  std::int64_t number = 0;
  RunHeader header;
  std::optional<RunEnd> end;  // none: unfinished
  std::int64_t changes = 0;
};

class HistoryReader {
 public:
  // Opens the history at `path` read-only. Throws platform::Error (a missing
  // file: 53 "File not found" naming it; no history: SQLite's error).
  explicit HistoryReader(const std::string& path);
  HistoryReader(const HistoryReader&) = delete;
  HistoryReader& operator=(const HistoryReader&) = delete;
  ~HistoryReader();

  std::vector<RunSummary> List();
  // The whole record of run `number`; none when there is no such run.
  std::optional<RunRecord> Read(std::int64_t number);

  struct Verdict {
    std::int64_t sealed = 0;               // seals checked
    std::vector<std::int64_t> unfinished;  // runs without a seal
    // The first sealed run whose content or chain does not match its hash,
    // and why; none when the chain holds.
    std::optional<std::int64_t> broken_run;
    std::string broken_reason;
  };
  // Walks the seals in order, recomputing each hash from the stored content.
  Verdict Verify();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform::history
