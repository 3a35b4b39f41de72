#include "platform/history/writer.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <map>
#include <utility>

#include "platform/core/error.h"
#include "platform/core/files.h"
#include "platform/engine/connection/engine_failure.h"
#include "platform/engine/connection/savepoint.h"
#include "platform/engine/connection/statement.h"
#include "platform/engine/engine_error.h"
#include "platform/engine/rows/database_core.h"
#include "platform/history/digest.h"
#include "platform/history/internal/format.h"
#include "platform/history/internal/store.h"

namespace platform::history {

using engine::Database;
using engine::internal::AttachedFiles;
using engine::internal::Statement;
using engine::internal::StatementUse;

namespace {

const std::string kSchema = format::kAttachedSchema;

std::string Sql(std::string_view sql) {
  return format::InSchema(sql, kSchema);
}

// Runs `work`, naming the history in whatever it throws.
template <typename Work>
auto AboutHistory(const std::string& path, Work work) {
  try {
    return work();
  } catch (Error& failure) {
    failure.AddDetail("history", path);
    throw;
  }
}

// The number in the first row of `statement`.
std::int64_t Number(Statement& statement) {
  statement.Step();
  return statement.ColumnInt64(0);
}

struct LastSeal {
  std::int64_t sequence = 0;  // 0: none yet
  std::string hash{format::kNoPreviousHash};
};

LastSeal ReadLastSeal(sqlite3* db) {
  Statement last(db, Sql("SELECT Sequence, Hash FROM {}.Seals ORDER BY Sequence DESC LIMIT 1"));
  if (!last.Step()) return {};
  return {last.ColumnInt64(0), last.Column(1).ToText()};
}

// Binds bytes that outlive the statement's step without copying them.
void Bytes(Statement& statement, int index, std::string_view bytes, bool blob = false) {
  const int bound =
      blob ? sqlite3_bind_blob64(statement.get(), index, bytes.data(), bytes.size(), SQLITE_STATIC)
           : sqlite3_bind_text64(statement.get(), index, bytes.data(), bytes.size(), SQLITE_STATIC,
                                 SQLITE_UTF8);
  if (bound != SQLITE_OK) {
    throw engine::internal::SqliteFailure(sqlite3_db_handle(statement.get()), statement.sql());
  }
}

// The schema of a new file, or the proof that an existing one can be
// written: a write of its format version, rolled back. Both need the write
// lock, which a history locked past the busy timeout does not give.
void PrepareSchema(Database& own) {
  engine::internal::Connection& connection = own.core().connection;
  engine::Transaction transaction = own.Begin();
  Statement user_version(own.core().db(), Sql("PRAGMA {}.user_version"));
  const std::int64_t version = Number(user_version);
  if (version != 0) {
    connection.Exec(Sql("PRAGMA {}.user_version = ") + std::to_string(version));
    return;  // rolled back
  }
  for (const char* create : {format::kCreateRuns, format::kCreateChanges, format::kCreateSeals}) {
    connection.Exec(Sql(create));
  }
  connection.Exec(Sql("PRAGMA {}.application_id = ") + std::to_string(format::kApplicationId));
  connection.Exec(Sql("PRAGMA {}.user_version = ") + std::to_string(format::kFormatVersion));
  transaction.Commit();
}

std::string TimeText(const char* format, const std::tm& time) {
  char text[32];
  return std::string(text, std::strftime(text, sizeof text, format, &time));
}

std::string UtcOffset(const std::tm& local) {
  // Offsets are within a day: two digits of hours, two of minutes.
  const int minutes = static_cast<int>(local.tm_gmtoff / 60) % (24 * 60);
  const int magnitude = minutes < 0 ? -minutes : minutes;
  char text[8];
  std::snprintf(text, sizeof text, "%c%02d:%02d", minutes < 0 ? '-' : '+', magnitude / 60,
                magnitude % 60);
  return text;
}

std::string RealUser() {
  const uid_t uid = ::getuid();
  const passwd* entry = ::getpwuid(uid);
  return entry != nullptr ? entry->pw_name : std::to_string(uid);
}

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

ChangeKind KindOf(engine::RowChange::Kind kind) {
  switch (kind) {
    case engine::RowChange::Kind::kInserted: return ChangeKind::kInsert;
    case engine::RowChange::Kind::kUpdated: return ChangeKind::kUpdate;
    case engine::RowChange::Kind::kDeleted: return ChangeKind::kDelete;
  }
  return ChangeKind::kUpdate;
}

// The declared primary key's columns of `table` in the main database, in
// key order, from the engine's catalog of the connection's tables; none for
// a table without one, or one dropped since (its rows go by rowid).
std::vector<std::string> KeyColumns(Database& db, const std::string& table) {
  std::vector<std::pair<int, std::string>> key;
  try {
    for (const engine::internal::ColumnInfo& column : db.core().Table(table).columns) {
      if (column.key_position != 0) key.emplace_back(column.key_position, column.name);
    }
  } catch (const Error& failure) {
    if (failure.number() != engine::engine_err::kUnknownTable) throw;
  }
  std::sort(key.begin(), key.end());
  std::vector<std::string> columns;
  for (auto& [position, name] : key) columns.push_back(std::move(name));
  return columns;
}

// The key column's value: the change's own when it carries the column (an
// insert's, a delete's, an update's new value), else the row's as it is now.
Value KeyValue(Database& db, const engine::RowChange& change, const std::string& column) {
  const std::vector<Value>& values =
      change.kind == engine::RowChange::Kind::kDeleted ? change.old_values : change.new_values;
  for (std::size_t i = 0; i < change.columns.size(); ++i) {
    if (change.columns[i] == column) return values[i];
  }
  return db.ReadField(change.table, change.rowid, column);
}

std::string KeyOf(Database& db, const engine::RowChange& change,
                  const std::vector<std::string>& key_columns) {
  if (key_columns.empty()) return "rowid=" + std::to_string(change.rowid);
  std::string key;
  for (const std::string& column : key_columns) {
    key += (key.empty() ? "" : ", ") + column + "=" + KeyValue(db, change, column).Describe();
  }
  return key;
}

// The statements that a record takes on one connection, prepared once: a
// run records after each assay, thousands of times.
struct RecordStatements {
  explicit RecordStatements(sqlite3* connection)
      : db(connection),
        header(db, Sql(std::string("SELECT ") + format::kHeaderColumns +
                       " FROM {}.Runs WHERE Number = ?")),
        last_position(db, Sql("SELECT coalesce(max(Position), 0) FROM {}.Changes WHERE Run = ?")),
        insert_header(db, Sql(std::string("INSERT INTO {}.Runs (") + format::kHeaderColumns +
                              ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")),
        insert_change(db, Sql("INSERT INTO {}.Changes (Run, Position, GroupName, Kind, Object, "
                              "Key, Columns) VALUES (?, ?, ?, ?, ?, ?, ?)")) {}

  sqlite3* db;
  Statement header, last_position, insert_header, insert_change;
};

}  // namespace

std::optional<std::string> DefaultHistoryPath() {
  const std::string path = SystemPath("C:\\Corvista1000\\Logs\\ChangeHistory.db");
  struct stat st {};
  if (::stat(FolderOf(path).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
  return path;
}

std::string NowUtc() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  ::gmtime_r(&now, &utc);
  return TimeText("%Y-%m-%dT%H:%M:%SZ", utc);
}

RunHeader StartRun(const std::string& program, const std::string& command_line,
                   const std::string& database, const std::string& source) {
  RunHeader header;
  header.program = program;
  header.version = CORVISTA_VERSION;
  header.command_line = command_line;
  const std::time_t now = std::time(nullptr);
  std::tm utc{}, local{};
  ::gmtime_r(&now, &utc);
  ::localtime_r(&now, &local);
  header.started_utc = TimeText("%Y-%m-%dT%H:%M:%SZ", utc);
  header.utc_offset = UtcOffset(local);
  header.user = RealUser();
  const char* sudo_user = std::getenv("SUDO_USER");
  header.sudo_user = sudo_user != nullptr ? sudo_user : "";
  header.host = HostName();
  header.database = database;
  header.source = source;
  if (!source.empty()) {
    const FileDigest digest = DigestFile(source);
    header.source_size = digest.size;
    header.source_sha256 = digest.sha256;
  }
  return header;
}

std::vector<Change> RowChanges(Database& db, const std::string& group,
                               const std::vector<engine::RowChange>& changes) {
  std::map<std::string, std::vector<std::string>> keys;  // by table
  std::vector<Change> out;
  out.reserve(changes.size());
  for (const engine::RowChange& change : changes) {
    auto key_columns = keys.find(change.table);
    if (key_columns == keys.end()) {
      key_columns = keys.emplace(change.table, KeyColumns(db, change.table)).first;
    }
    Change& row = out.emplace_back();
    row.group = group;
    row.kind = KindOf(change.kind);
    row.object = change.table;
    row.key = KeyOf(db, change, key_columns->second);
    row.columns.reserve(change.columns.size());
    for (std::size_t i = 0; i < change.columns.size(); ++i) {
      row.columns.push_back({change.columns[i],
                             change.old_values.empty() ? Value() : change.old_values[i],
                             change.new_values.empty() ? Value() : change.new_values[i]});
    }
  }
  return out;
}

struct HistoryWriter::Impl {
  Impl(const std::string& history_path, RunHeader run_header)
      : path(history_path), header(std::move(run_header)), own(Database::CreateInMemory(path)) {}

  // The statements of the connection in use. REQUIRES: a Permit on it.
  RecordStatements& Prepared() {
    if (!prepared) prepared.emplace(db->core().db());
    return *prepared;
  }

  // Whether the run's header is in the file as this run wrote it: a header
  // rolled back since may have left its number to another run.
  bool HeaderStored(RecordStatements& statements) {
    if (run == 0) return false;
    StatementUse select(statements.header);
    select->Bind(1, run);
    return select->Step() && internal::HeaderAt(select->get(), 0) == header;
  }

  // The last position of the run's changes, writing the header first when
  // it is not in the file (not yet, or no longer after a rollback).
  std::int64_t EnsureHeader(RecordStatements& statements) {
    if (HeaderStored(statements)) {
      StatementUse last(statements.last_position);
      last->Bind(1, run);
      return Number(*last);
    }
    StatementUse insert(statements.insert_header);
    int index = 1;
    for (const std::string* text : format::HeaderTexts(header)) {
      Bytes(*insert, index++, *text);
    }
    insert->Bind(index++, header.source_size);
    Bytes(*insert, index, header.source_sha256);
    insert->Step();
    run = sqlite3_last_insert_rowid(statements.db);
    return 0;
  }

  void Insert(RecordStatements& statements, std::int64_t position, const Change& change) {
    StatementUse insert(statements.insert_change);
    insert->Bind(1, run);
    insert->Bind(2, position);
    Bytes(*insert, 3, change.group);
    Bytes(*insert, 4, KindName(change.kind));
    Bytes(*insert, 5, change.object);
    Bytes(*insert, 6, change.key);
    const std::string columns = format::EncodeColumns(change.columns);
    Bytes(*insert, 7, columns, true);
    insert->Step();
  }

  std::string path;
  RunHeader header;
  Database own;          // in memory, with the history attached
  Database* db = &own;   // the connection the records go through
  std::int64_t run = 0;  // the header's number; 0 until it is written
  // On `db`: declared after `own`, so finalized before it closes.
  std::optional<RecordStatements> prepared;
};

HistoryWriter::HistoryWriter(const std::string& path, RunHeader header)
    : impl_(AboutHistory(path, [&] { return std::make_unique<Impl>(path, std::move(header)); })) {
  AboutHistory(path, [&] {
    impl_->own.Attach(path, kSchema);
    const AttachedFiles::Permit permit(impl_->own.core().attached);
    PrepareSchema(impl_->own);
  });
}

HistoryWriter::~HistoryWriter() {
  if (impl_->db == &impl_->own || !impl_->db->IsOpen()) return;
  try {
    Detach();
  } catch (const Error&) {
    // The connection drops the attachment when it closes.
  }
}

void HistoryWriter::Attach(Database& db) {
  AboutHistory(impl_->path, [&] {
    db.Attach(impl_->path, kSchema);
    impl_->prepared.reset();
    impl_->db = &db;
  });
}

void HistoryWriter::Detach() {
  AboutHistory(impl_->path, [&] {
    impl_->prepared.reset();
    Database* attached = std::exchange(impl_->db, &impl_->own);
    attached->Detach(kSchema);
  });
}

void HistoryWriter::Record(const std::vector<Change>& changes) {
  AboutHistory(impl_->path, [&] {
    engine::internal::DatabaseCore& core = impl_->db->core();
    const AttachedFiles::Permit permit(core.attached);
    engine::internal::Savepoint record(core.connection);
    RecordStatements& statements = impl_->Prepared();
    std::int64_t position = impl_->EnsureHeader(statements);
    for (const Change& change : changes) impl_->Insert(statements, ++position, change);
    record.Release();
  });
}

std::string HistoryWriter::Seal(const RunEnd& end) {
  return AboutHistory(impl_->path, [&] {
    sqlite3* db = impl_->own.core().db();
    const AttachedFiles::Permit permit(impl_->own.core().attached);
    engine::Transaction transaction = impl_->own.Begin();
    RecordStatements statements(db);
    impl_->EnsureHeader(statements);
    const std::int64_t run = impl_->run;
    const LastSeal previous = ReadLastSeal(db);
    const std::int64_t sequence = previous.sequence + 1;
    const std::string hash = *internal::HashOfRun(db, kSchema, sequence, run, end, previous.hash);
    Statement insert(
        db, Sql(std::string("INSERT INTO {}.Seals (Sequence, Run, ") + format::kEndColumns +
                ", PreviousHash, Hash) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"));
    insert.Bind(1, sequence);
    insert.Bind(2, run);
    Bytes(insert, 3, end.ended_utc);
    insert.Bind(4, std::int64_t{end.succeeded ? 1 : 0});
    insert.Bind(5, std::int64_t{end.exit_status});
    Bytes(insert, 6, end.message);
    Bytes(insert, 7, previous.hash);
    Bytes(insert, 8, hash);
    insert.Step();
    transaction.Commit();
    return hash;
  });
}

const std::string& HistoryWriter::path() const {
  return impl_->path;
}

}  // namespace platform::history
