#include "platform/history/writer.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <map>
#include <utility>

#include "platform/core/error.h"
#include "platform/core/files.h"
#include "platform/engine/connection/savepoint.h"
#include "platform/engine/connection/statement.h"
#include "platform/engine/connection/stored_value.h"
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

void Text(Statement& statement, int index, const std::string& text) {
  statement.Bind(index, Value(text));
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
// key order; none for a table without one (its rows go by rowid).
std::vector<std::string> KeyColumns(Database& db, const std::string& table) {
  const Value params[] = {Value(table)};
  std::vector<std::string> columns;
  for (const auto& row :
       db.Query("SELECT name FROM pragma_table_info(?, 'main') WHERE pk > 0 ORDER BY pk", params)
           .rows) {
    columns.push_back(row[0].ToText());
  }
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

  // The header's number in the file, writing the header when it is not
  // there (not yet, or rolled back since), and the last position of the
  // run's changes. REQUIRES: a Permit on `db`.
  std::pair<std::int64_t, std::int64_t> EnsureHeader(sqlite3* db) {
    if (run != 0 && internal::ReadHeader(db, kSchema, run) == header) {
      Statement last(db, Sql("SELECT coalesce(max(Position), 0) FROM {}.Changes WHERE Run = ?"));
      last.Bind(1, run);
      return {run, Number(last)};
    }
    Statement insert(db, Sql(std::string("INSERT INTO {}.Runs (") + format::kHeaderColumns +
                             ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    int index = 1;
    for (const std::string* text :
         {&header.program, &header.version, &header.command_line, &header.started_utc,
          &header.utc_offset, &header.user, &header.sudo_user, &header.host, &header.database,
          &header.source}) {
      Text(insert, index++, *text);
    }
    insert.Bind(index++, header.source_size);
    Text(insert, index, header.source_sha256);
    insert.Step();
    run = sqlite3_last_insert_rowid(db);
    return {run, 0};
  }

  void Insert(sqlite3* db, std::int64_t position, const Change& change) {
    if (!insert_change) {
      insert_change.emplace(db, Sql("INSERT INTO {}.Changes (Run, Position, GroupName, Kind, "
                                    "Object, Key, Columns) VALUES (?, ?, ?, ?, ?, ?, ?)"));
    }
    StatementUse insert(*insert_change);
    insert->Bind(1, run);
    insert->Bind(2, position);
    Text(*insert, 3, change.group);
    Text(*insert, 4, KindName(change.kind));
    Text(*insert, 5, change.object);
    Text(*insert, 6, change.key);
    insert->Bind(7, engine::internal::StoredValue(
                        engine::internal::Blob{format::EncodeColumns(change.columns)}));
    insert->Step();
  }

  std::string path;
  RunHeader header;
  Database own;          // in memory, with the history attached
  Database* db = &own;   // the connection the records go through
  std::int64_t run = 0;  // the header's number; 0 until it is written
  // On `db`: declared after `own`, so finalized before it closes.
  std::optional<Statement> insert_change;
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
    impl_->insert_change.reset();
    impl_->db = &db;
  });
}

void HistoryWriter::Detach() {
  AboutHistory(impl_->path, [&] {
    impl_->insert_change.reset();
    Database* attached = std::exchange(impl_->db, &impl_->own);
    attached->Detach(kSchema);
  });
}

void HistoryWriter::Record(const std::vector<Change>& changes) {
  AboutHistory(impl_->path, [&] {
    engine::internal::DatabaseCore& core = impl_->db->core();
    const AttachedFiles::Permit permit(core.attached);
    engine::internal::Savepoint record(core.connection);
    std::int64_t position = impl_->EnsureHeader(core.db()).second;
    for (const Change& change : changes) impl_->Insert(core.db(), ++position, change);
    record.Release();
  });
}

std::string HistoryWriter::Seal(const RunEnd& end) {
  return AboutHistory(impl_->path, [&] {
    sqlite3* db = impl_->own.core().db();
    const AttachedFiles::Permit permit(impl_->own.core().attached);
    engine::Transaction transaction = impl_->own.Begin();
    const std::int64_t run = impl_->EnsureHeader(db).first;
    const LastSeal previous = ReadLastSeal(db);
    const std::int64_t sequence = previous.sequence + 1;
    const std::string hash = *internal::HashOfRun(db, kSchema, sequence, run, end, previous.hash);
    Statement insert(
        db, Sql(std::string("INSERT INTO {}.Seals (Sequence, Run, ") + format::kEndColumns +
                ", PreviousHash, Hash) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"));
    insert.Bind(1, sequence);
    insert.Bind(2, run);
    Text(insert, 3, end.ended_utc);
    insert.Bind(4, std::int64_t{end.succeeded ? 1 : 0});
    insert.Bind(5, std::int64_t{end.exit_status});
    Text(insert, 6, end.message);
    Text(insert, 7, previous.hash);
    Text(insert, 8, hash);
    insert.Step();
    transaction.Commit();
    return hash;
  });
}

const std::string& HistoryWriter::path() const {
  return impl_->path;
}

}  // namespace platform::history
