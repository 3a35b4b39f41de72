#include "platform/history/reader.h"

#include "platform/core/error.h"
#include "platform/core/files.h"
#include "platform/engine/connection/engine_failure.h"
#include "platform/engine/connection/read_only_source.h"
#include "platform/engine/connection/statement.h"
#include "platform/history/internal/format.h"
#include "platform/history/internal/store.h"

namespace platform::history {

using engine::internal::Statement;

namespace {

const std::string kSchema = "main";

std::string Sql(std::string_view sql) {
  return format::InSchema(sql, kSchema);
}

// A read transaction: one consistent state for one answer, held no longer,
// so that a writer's commit never waits for a reader long.
class ReadTransaction {
 public:
  explicit ReadTransaction(sqlite3* db) : db_(db) { Exec("BEGIN"); }
  ReadTransaction(const ReadTransaction&) = delete;
  ReadTransaction& operator=(const ReadTransaction&) = delete;
  ~ReadTransaction() { sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr); }

 private:
  void Exec(const char* sql) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
      throw engine::internal::SqliteFailure(db_, sql);
    }
  }
  sqlite3* db_;
};

// A history that holds no table: a run was killed between creating the
// file and committing its schema (the rollback of its journal leaves the file
// empty). It holds no record, rather than being damaged.
bool HoldsNothing(sqlite3* db) {
  Statement tables(db, Sql("SELECT count(*) FROM {}.sqlite_schema"));
  return tables.Step() && tables.ColumnInt64(0) == 0;
}

constexpr const char* kBrokenContent = "the run's record does not match its hash";
constexpr const char* kBrokenChain =
    "its previous hash is not the hash of the run sealed before it";
constexpr const char* kMissingHeader = "the run's header is missing";

}  // namespace

struct HistoryReader::Impl {
  // A run killed mid-commit leaves a journal that its next run would roll
  // back; the reader rolls it back itself, so that a history can be read
  // (and verified) right after a crash.
  explicit Impl(const std::string& history_path)
      : path(history_path), source(path, engine::internal::ReadOnlySource::HotJournal::kRollBack) {}

  template <typename Work>
  auto Reading(Work work) {
    try {
      const ReadTransaction transaction(source.get());
      return work(source.get());
    } catch (Error& failure) {
      failure.AddDetail("history", path);
      throw;
    }
  }

  std::string path;
  engine::internal::ReadOnlySource source;
};

HistoryReader::HistoryReader(const std::string& path) {
  if (!FileExists(path)) throw Error(err::kFileNotFound).AddDetail("history", path);
  impl_ = std::make_unique<Impl>(path);
}

HistoryReader::~HistoryReader() = default;

std::vector<RunSummary> HistoryReader::List() {
  return impl_->Reading([](sqlite3* db) {
    if (HoldsNothing(db)) return std::vector<RunSummary>();
    Statement select(
        db, Sql(std::string("SELECT r.Number, (SELECT coalesce(sum(c.ChangeCount), 0) FROM "
                            "{}.Changes c WHERE c.Id BETWEEN r.Number << ") +
                std::to_string(format::kRunShift) + " AND (r.Number << " +
                std::to_string(format::kRunShift) + ") + " + std::to_string(format::kMaxInRun) +
                "), s.Run, " + format::kHeaderColumns + ", " + format::kEndColumns +
                " FROM {}.Runs r LEFT JOIN {}.Seals s ON s.Run = r.Number ORDER BY r.Number"));
    std::vector<RunSummary> runs;
    while (select.Step()) {
      RunSummary& run = runs.emplace_back();
      run.number = select.ColumnInt64(0);
      run.changes = select.ColumnInt64(1);
      run.header = internal::HeaderAt(select.get(), 3);
      if (sqlite3_column_type(select.get(), 2) != SQLITE_NULL) {
        run.end = internal::EndAt(select.get(), 15);
      }
    }
    return runs;
  });
}

std::optional<RunRecord> HistoryReader::Read(std::int64_t number) {
  return impl_->Reading([number](sqlite3* db) -> std::optional<RunRecord> {
    if (HoldsNothing(db)) return std::nullopt;
    std::optional<RunHeader> header = internal::ReadHeader(db, kSchema, number);
    if (!header) return std::nullopt;
    RunRecord record;
    record.number = number;
    record.header = *std::move(header);
    record.changes = internal::ReadChanges(db, kSchema, number);
    Statement seal(db, Sql(std::string("SELECT Sequence, PreviousHash, Hash, ") +
                           format::kEndColumns + " FROM {}.Seals WHERE Run = ?"));
    seal.Bind(1, number);
    if (seal.Step()) {
      record.seal = Seal{seal.ColumnInt64(0), internal::EndAt(seal.get(), 3),
                         internal::TextAt(seal.get(), 1), internal::TextAt(seal.get(), 2)};
    }
    return record;
  });
}

HistoryReader::Verdict HistoryReader::Verify() {
  Verdict verdict;
  std::int64_t sequence = 0;
  std::string previous_hash(format::kNoPreviousHash);
  // Seal by seal, each in a read transaction of its own: a history of
  // years is verified without holding a writer up for the whole walk.
  for (bool more = true; more && !verdict.broken_run;) {
    more = impl_->Reading([&](sqlite3* db) {
      if (HoldsNothing(db)) return false;
      Statement next(
          db, Sql(std::string("SELECT Sequence, Run, PreviousHash, Hash, ") + format::kEndColumns +
                  " FROM {}.Seals WHERE Sequence > ? ORDER BY Sequence LIMIT 1"));
      next.Bind(1, sequence);
      if (!next.Step()) return false;
      ++verdict.sealed;
      sequence = next.ColumnInt64(0);
      const std::int64_t run = next.ColumnInt64(1);
      const std::string stored_previous = internal::TextAt(next.get(), 2);
      const std::string stored_hash = internal::TextAt(next.get(), 3);
      const std::optional<std::string> hash = internal::HashOfRun(
          db, kSchema, sequence, run, internal::EndAt(next.get(), 4), stored_previous);
      const char* reason = !hash                              ? kMissingHeader
                           : stored_previous != previous_hash ? kBrokenChain
                           : *hash != stored_hash             ? kBrokenContent
                                                              : nullptr;
      if (reason != nullptr) {
        verdict.broken_run = run;
        verdict.broken_reason = reason;
      }
      previous_hash = stored_hash;
      return true;
    });
  }
  impl_->Reading([&](sqlite3* db) {
    if (HoldsNothing(db)) return 0;
    Statement unfinished(
        db, Sql("SELECT Number FROM {}.Runs WHERE Number NOT IN (SELECT Run FROM {}.Seals) "
                "ORDER BY Number"));
    while (unfinished.Step()) verdict.unfinished.push_back(unfinished.ColumnInt64(0));
    return 0;
  });
  return verdict;
}

}  // namespace platform::history
