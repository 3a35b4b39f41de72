#include "platform/history/internal/store.h"

#include <map>
#include <string_view>

#include "platform/engine/connection/statement.h"
#include "platform/history/digest.h"
#include "platform/history/internal/format.h"

namespace platform::history::internal {

namespace {

using engine::internal::Statement;

std::string_view BytesAt(const Statement& statement, int column) {
  return internal::BytesAt(statement.get(), column);
}

// A statement of `schema` with the run's number bound to its one '?'.
struct OfRun : Statement {
  OfRun(sqlite3* db, const std::string& schema, std::string_view sql, std::int64_t run)
      : Statement(db, format::InSchema(sql, schema)) {
    Bind(1, run);
  }
};

// A statement of `schema` over the rows of a run: its range of Ids bound
// to ?1 and ?2.
struct RowsOfRun : Statement {
  RowsOfRun(sqlite3* db, const std::string& schema, std::string_view sql, std::int64_t run)
      : Statement(db, format::InSchema(sql, schema)) {
    Bind(1, format::FirstIdOf(run));
    Bind(2, format::LastIdOf(run));
  }
};

const std::string kChangesOfRun = std::string("SELECT ") + format::kChangesColumns +
                                  " FROM {}.Changes WHERE Id BETWEEN ?1 AND ?2 ORDER BY Id";
const std::string kListsOfRun = std::string("SELECT Id, ") + format::kListColumns +
                                " FROM {}.ColumnLists WHERE Id BETWEEN ?1 AND ?2 ORDER BY Id";

// Hashed in pieces of about this size: a run of many changes is never
// held whole.
constexpr std::size_t kPiece = 1 << 16;

}  // namespace

std::string_view BytesAt(sqlite3_stmt* row, int column) {
  const void* bytes = sqlite3_column_blob(row, column);
  const int size = sqlite3_column_bytes(row, column);
  return bytes == nullptr
             ? std::string_view()
             : std::string_view(static_cast<const char*>(bytes), static_cast<std::size_t>(size));
}

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
  format::ColumnLists lists;
  RowsOfRun list(db, schema, kListsOfRun, run);
  while (list.Step()) {
    lists[list.ColumnInt64(0) & format::kMaxInRun] = {TextAt(list.get(), 1),
                                                      format::DecodeNames(BytesAt(list, 2))};
  }
  RowsOfRun select(db, schema, kChangesOfRun, run);
  std::vector<Change> changes;
  while (select.Step()) {
    format::DecodeBody(BytesAt(select, 2), select.ColumnInt64(1), TextAt(select.get(), 0), lists,
                       changes);
  }
  return changes;
}

std::optional<std::string> HashOfRun(sqlite3* db, const std::string& schema, std::int64_t sequence,
                                     std::int64_t run, const RunEnd& end,
                                     const std::string& previous_hash) {
  const std::optional<RunHeader> header = ReadHeader(db, schema, run);
  if (!header) return std::nullopt;
  Sha256 hash;
  format::Encoder encoder;
  const auto hash_full_pieces = [&] {
    if (encoder.bytes().size() < kPiece) return;
    hash.Add(encoder.bytes());
    encoder.Clear();
  };
  encoder.RunStart(sequence, run, *header);
  RowsOfRun list(db, schema, kListsOfRun, run);
  while (list.Step()) {
    encoder.List(list.ColumnInt64(0) & format::kMaxInRun, BytesAt(list, 1), BytesAt(list, 2));
    hash_full_pieces();
  }
  encoder.NoMore();
  RowsOfRun select(db, schema, kChangesOfRun, run);
  while (select.Step()) {
    encoder.Changes(BytesAt(select, 0), select.ColumnInt64(1), BytesAt(select, 2));
    hash_full_pieces();
  }
  encoder.NoMore();
  encoder.RunEnd(end, previous_hash);
  hash.Add(encoder.bytes());
  return hash.FinishHex();
}

}  // namespace platform::history::internal
