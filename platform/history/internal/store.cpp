#include "platform/history/internal/store.h"

#include <string_view>

#include "platform/engine/connection/statement.h"
#include "platform/history/digest.h"
#include "platform/history/internal/format.h"

namespace platform::history::internal {

namespace {

using engine::internal::Statement;

std::string_view BytesAt(sqlite3_stmt* row, int column) {
  const void* bytes = sqlite3_column_blob(row, column);
  const int size = sqlite3_column_bytes(row, column);
  return bytes == nullptr
             ? std::string_view()
             : std::string_view(static_cast<const char*>(bytes), static_cast<std::size_t>(size));
}

std::string_view BytesAt(const Statement& statement, int column) {
  return BytesAt(statement.get(), column);
}

// A statement of `schema` with the run's number bound to its one '?'.
struct OfRun : Statement {
  OfRun(sqlite3* db, const std::string& schema, std::string_view sql, std::int64_t run)
      : Statement(db, format::InSchema(sql, schema)) {
    Bind(1, run);
  }
};

constexpr std::string_view kChangesOfRun =
    "SELECT GroupName, Kind, Object, Key, Columns FROM {}.Changes WHERE Run = ? ORDER BY "
    "Position";

}  // namespace

std::string TextAt(sqlite3_stmt* row, int column) {
  return std::string(BytesAt(row, column));
}

RunHeader HeaderAt(sqlite3_stmt* row, int first) {
  RunHeader header;
  int column = first;
  for (std::string* text : format::HeaderTexts(header)) {
    *text = BytesAt(row, column++);
  }
  header.source_size = sqlite3_column_int64(row, column++);
  header.source_sha256 = BytesAt(row, column);
  return header;
}

RunEnd EndAt(sqlite3_stmt* row, int first) {
  RunEnd end;
  end.ended_utc = BytesAt(row, first);
  end.succeeded = sqlite3_column_int64(row, first + 1) != 0;
  end.exit_status = sqlite3_column_int(row, first + 2);
  end.message = BytesAt(row, first + 3);
  return end;
}

std::optional<RunHeader> ReadHeader(sqlite3* db, const std::string& schema, std::int64_t run) {
  OfRun select(db, schema,
               std::string("SELECT ") + format::kHeaderColumns + " FROM {}.Runs WHERE Number = ?",
               run);
  if (!select.Step()) return std::nullopt;
  return HeaderAt(select.get(), 0);
}

std::vector<Change> ReadChanges(sqlite3* db, const std::string& schema, std::int64_t run) {
  OfRun select(db, schema, kChangesOfRun, run);
  std::vector<Change> changes;
  while (select.Step()) {
    Change& change = changes.emplace_back();
    change.group = BytesAt(select, 0);
    change.kind = format::KindNamed(BytesAt(select, 1));
    change.object = BytesAt(select, 2);
    change.key = BytesAt(select, 3);
    change.columns = format::DecodeColumns(BytesAt(select, 4));
  }
  return changes;
}

std::optional<std::string> HashOfRun(sqlite3* db, const std::string& schema, std::int64_t sequence,
                                     std::int64_t run, const RunEnd& end,
                                     const std::string& previous_hash) {
  const std::optional<RunHeader> header = ReadHeader(db, schema, run);
  if (!header) return std::nullopt;
  OfRun count(db, schema, "SELECT count(*) FROM {}.Changes WHERE Run = ?", run);
  count.Step();
  format::Encoder encoder;
  encoder.RunStart(sequence, run, *header, count.ColumnInt64(0));
  Sha256 hash;
  OfRun select(db, schema, kChangesOfRun, run);
  while (select.Step()) {
    encoder.Change(BytesAt(select, 0), BytesAt(select, 1), BytesAt(select, 2), BytesAt(select, 3),
                   BytesAt(select, 4));
    hash.Add(encoder.Take());
  }
  encoder.RunEnd(end, previous_hash);
  hash.Add(encoder.Take());
  return hash.FinishHex();
}

}  // namespace platform::history::internal
