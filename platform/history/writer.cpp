#include "platform/history/writer.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <map>
#include <optional>
#include <ranges>
#include <utility>

#include "platform/core/error.h"
#include "platform/core/files.h"
#include "platform/core/message_box.h"
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
  for (const char* create : {format::kCreateRuns, format::kCreateColumnLists,
                             format::kCreateChanges, format::kCreateSeals}) {
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

// StartRun's facts but for the source's size and SHA-256.
RunHeader RunFacts(const std::string& program, const std::string& command_line,
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
  return header;
}

void SetSourceDigest(RunHeader& header, const FileDigest& digest) {
  header.source_size = digest.size;
  header.source_sha256 = digest.sha256;
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
  std::vector<std::string> key;
  try {
    // Key positions run 1, 2, ... without a gap.
    const std::vector<engine::internal::ColumnInfo>& columns = db.core().Table(table).columns;
    for (int position = 1;; ++position) {
      const auto column =
          std::ranges::find(columns, position, &engine::internal::ColumnInfo::key_position);
      if (column == columns.end()) break;
      key.push_back(column->name);
    }
  } catch (const Error& failure) {
    if (failure.number() != engine::engine_err::kUnknownTable) throw;
  }
  return key;
}

// A row's key: "<column>=<value>" of each key column, joined by ", ", the
// value as `value_of(column)` gives it; "rowid=<rowid>" for a table without
// a declared primary key.
template <typename ValueOf>
void KeyText(std::int64_t rowid, const std::vector<std::string>& key_columns,
             const ValueOf& value_of, std::string& key) {
  key.clear();
  if (key_columns.empty()) {
    key = "rowid=" + std::to_string(rowid);
    return;
  }
  for (const std::string& column : key_columns) {
    if (!key.empty()) key += ", ";
    key += column;
    key += '=';
    key += value_of(column).Describe();
  }
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

// The same for a change as the recorder holds it, from the row itself
// (after an insert or update, before a delete).
Value KeyValue(Database& db, const engine::RowChangeView& change, const std::string& column) {
  const bool deleted = change.kind == engine::RowChange::Kind::kDeleted;
  const std::size_t count = (deleted ? change.before : change.after)->size();
  for (std::size_t i = 0; i < count; ++i) {
    if (change.Name(i) == column) {
      return engine::internal::ToValue(deleted ? change.Before(i) : change.After(i));
    }
  }
  return db.ReadField(change.table, change.rowid, column);
}

template <typename RowChangeOrView>
void KeyOf(Database& db, const RowChangeOrView& change, const std::vector<std::string>& key_columns,
           std::string& key) {
  KeyText(
      change.rowid, key_columns,
      [&](const std::string& column) { return KeyValue(db, change, column); }, key);
}

// The key columns of each table of one database met, read once while the
// recorder's names stay the same (RowChangeView::names_generation): a run
// records thousands of times, and meets few tables.
class KeyColumnsByTable {
 public:
  const std::vector<std::string>& Of(Database& db, const std::string& table,
                                     std::uint64_t names_generation = 0) {
    if (names_generation != generation_ || names_generation == 0) tables_.clear();
    generation_ = names_generation;
    auto found = std::ranges::find(tables_, table, &Table::name);
    if (found == tables_.end()) {
      found = tables_.insert(tables_.end(), {table, KeyColumns(db, table)});
    }
    return found->key;
  }

 private:
  struct Table {
    std::string name;
    std::vector<std::string> key;
  };
  std::vector<Table> tables_;
  std::uint64_t generation_ = 0;
};

// The number of the run's last row in a table: its Ids bound
// to ?1 and ?2.
const std::string kLastInRun = "SELECT coalesce(max(Id) - ?1, 0) FROM {}.";
const std::string kIdsOfRun = " WHERE Id BETWEEN ?1 AND ?2";

// A run holds no more changes or column lists than its range of Ids.
void RequireRoomInRun(std::int64_t n) {
  if (n >= format::kMaxInRun) {
    throw Error(SQLITE_FULL, sqlite3_errstr(SQLITE_FULL))
        .AddDetail("problem", "more changes than a run can hold");
  }
}

// The statements that a record takes on one connection, prepared once: a
// run records after each assay, thousands of times.
struct RecordStatements {
  explicit RecordStatements(sqlite3* connection)
      : db(connection),
        changes_at(db, Sql(std::string("SELECT ") + format::kChangesColumns +
                           " FROM {}.Changes WHERE Id = ?")),
        header(db, Sql(std::string("SELECT ") + format::kHeaderColumns +
                       " FROM {}.Runs WHERE Number = ?")),
        last_changes(db, Sql(kLastInRun + "Changes" + kIdsOfRun)),
        last_list(db, Sql(kLastInRun + "ColumnLists" + kIdsOfRun)),
        insert_header(db, Sql(std::string("INSERT INTO {}.Runs (") + format::kHeaderColumns +
                              ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")),
        insert_list(db, Sql(std::string("INSERT INTO {}.ColumnLists (Id, ") + format::kListColumns +
                            ") VALUES (?, ?, ?)")),
        insert_changes(db, Sql(std::string("INSERT INTO {}.Changes (Id, ") +
                               format::kChangesColumns + ") VALUES (?, ?, ?, ?)")) {}

  sqlite3* db;
  Statement changes_at, header, last_changes, last_list, insert_header, insert_list, insert_changes;
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
  RunHeader header = RunFacts(program, command_line, database, source);
  if (!source.empty()) SetSourceDigest(header, DigestFile(source));
  return header;
}

std::vector<Change> RowChanges(Database& db, const std::string& group,
                               const std::vector<engine::RowChange>& changes) {
  KeyColumnsByTable keys;
  std::vector<Change> out;
  out.reserve(changes.size());
  for (const engine::RowChange& change : changes) {
    Change& row = out.emplace_back();
    row.group = group;
    row.kind = KindOf(change.kind);
    row.object = change.table;
    KeyOf(db, change, keys.Of(db, change.table), row.key);
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
  Impl(const std::string& history_path, const std::string& program, const std::string& command_line,
       const std::string& database, const std::string& source)
      : Impl(history_path, RunFacts(program, command_line, database, source)) {
    if (!source.empty()) source_digest.emplace(source);
  }

  // The run's header, its source's digest waited for the first time.
  const RunHeader& Header() {
    if (source_digest) {
      SetSourceDigest(header, source_digest->Get());
      source_digest.reset();
    }
    return header;
  }

  // The statements of the connection in use. REQUIRES: a Permit on it.
  RecordStatements& Prepared() {
    if (!prepared) prepared.emplace(db->core().db());
    return *prepared;
  }

  // Whether the last row of changes this writer wrote is in the file as
  // written. Certainly so when the connection has rolled nothing back since
  // (AttachedFiles::rollbacks), which spares a read at every record. A
  // rollback since (of the caller's transaction, or of a savepoint around a
  // record) takes the newest writes first: when that row is there, so is
  // everything written before it. Its place may have gone to another run's
  // row meanwhile (a rolled-back header leaves its number free); the content
  // tells them apart.
  bool LastChangesStored(const AttachedFiles& attached, RecordStatements& statements) {
    if (!last.written) return false;
    if (last.rollbacks == attached.rollbacks()) return true;
    StatementUse select(statements.changes_at);
    select->Bind(1, format::IdInRun(run, number));
    return select->Step() && internal::BytesAt(select->get(), 0) == last.group &&
           select->ColumnInt64(1) == last.count && internal::BytesAt(select->get(), 2) == last.body;
  }

  // Whether the run's header is in the file as this run wrote it: a header
  // rolled back since may have left its number to another run.
  bool HeaderStored(RecordStatements& statements) {
    if (run == 0) return false;
    StatementUse select(statements.header);
    select->Bind(1, run);
    return select->Step() && internal::HeaderAt(select->get(), 0) == Header();
  }

  std::int64_t LastInRun(Statement& statement) {
    StatementUse last_in_run(statement);
    last_in_run->Bind(1, format::FirstIdOf(run));
    last_in_run->Bind(2, format::LastIdOf(run));
    return Number(*last_in_run);
  }

  // Brings what the writer knows of its run in line with the file (not
  // yet, or no longer after a rollback): the header, the last row of
  // changes, the column lists. Answers whether the header is to be written.
  bool Resume(const AttachedFiles& attached, RecordStatements& statements) {
    if (LastChangesStored(attached, statements)) return false;
    last.written = false;
    if (!HeaderStored(statements)) {
      number = 0;
      lists.clear();
      recent_lists.clear();
      return true;
    }
    number = LastInRun(statements.last_changes);
    const std::int64_t stored_lists = LastInRun(statements.last_list);
    std::erase_if(lists, [&](const auto& list) { return list.second > stored_lists; });
    recent_lists.clear();
    return false;
  }

  // What the writer knew of the connection in use, when it changes.
  void ForgetConnection() {
    prepared.reset();
    keys = {};
    // Another connection's count says nothing of this one's rollbacks.
    last.rollbacks.reset();
  }

  void WriteHeader(RecordStatements& statements) {
    const RunHeader& facts = Header();
    StatementUse insert(statements.insert_header);
    int index = 1;
    for (const std::string* text : format::HeaderTexts(facts)) {
      Bytes(*insert, index++, *text);
    }
    insert->Bind(index++, facts.source_size);
    Bytes(*insert, index, facts.source_sha256);
    insert->Step();
    run = sqlite3_last_insert_rowid(statements.db);
  }

  // The number of the column list of `object` with the names in `names`;
  // a list the run has none such of yet is added to those to write.
  std::int64_t ListNumber(std::string_view object) {
    list_key.Clear();
    list_key.Text(object);
    list_key.Bytes(names.bytes());
    const auto found = lists.find(list_key.bytes());
    if (found != lists.end()) return found->second;
    const auto list = static_cast<std::int64_t>(lists.size()) + 1;
    RequireRoomInRun(list);
    lists.emplace(list_key.bytes(), list);
    new_lists.push_back(
        {list, std::string(list_key.bytes()), std::string(object), std::string(names.bytes())});
    return list;
  }

  // The number of the column list of `change`'s table and columns, as
  // ListNumber gives it.
  std::int64_t ListOf(const engine::RowChangeView& change) {
    // The same columns of the recorder's same names need no name compared.
    const auto same_columns = [&](const RecentList& recent) {
      return recent.generation != 0 && recent.generation == change.names_generation &&
             recent.all_names == change.names && std::ranges::equal(recent.columns, change.columns);
    };
    const auto same_names = [&](const RecentList& recent) {
      if (recent.names.size() != change.columns.size()) return false;
      for (std::size_t i = 0; i < change.columns.size(); ++i) {
        if (recent.names[i] != change.Name(change.columns[i])) return false;
      }
      return true;
    };
    auto recent = std::ranges::find(recent_lists, change.table, &RecentList::object);
    if (recent != recent_lists.end() && same_columns(*recent)) return recent->number;
    if (recent == recent_lists.end() || !same_names(*recent)) {
      format::EncodeNames(change.columns | std::views::transform([&](std::size_t i) {
                            return std::string_view(change.Name(i));
                          }),
                          names);
      const std::int64_t number = ListNumber(change.table);
      if (recent == recent_lists.end()) {
        recent = recent_lists.emplace(recent);
        recent->object = change.table;
      }
      recent->names.clear();
      for (const std::size_t i : change.columns) recent->names.push_back(change.Name(i));
      recent->number = number;
    }
    recent->generation = change.names_generation;
    recent->all_names = change.names;
    recent->columns.assign(change.columns.begin(), change.columns.end());
    return recent->number;
  }

  // Adds a change of `group` to the record's rows of changes (a row holds
  // one group's changes): `count` columns of column list `list`, whose
  // values `before(i)` and `after(i)` give.
  template <typename Before, typename After>
  void Add(std::string_view group, ChangeKind kind, std::int64_t list, std::string_view key,
           std::size_t count, std::uint8_t sides, const Before& before, const After& after) {
    if (batches_used == 0 || batches[batches_used - 1].group != group ||
        batches[batches_used - 1].body.bytes().size() >= format::kBodyLimit) {
      if (batches_used == batches.size()) batches.emplace_back();
      Batch& batch = batches[batches_used++];
      batch.group.assign(group);
      batch.count = 0;
      batch.body.Clear();
    }
    Batch& batch = batches[batches_used - 1];
    format::AppendChange(kind, list, key, count, sides, before, after, batch.body);
    ++batch.count;
  }

  // Writes what the record added: the header when it is to be written, the
  // new column lists, the rows of changes; in a savepoint when that takes
  // more than one statement (one statement is undone whole when it fails).
  void Write(engine::internal::DatabaseCore& core, RecordStatements& statements, bool header_due) {
    if (batches_used == 0) return;
    std::optional<engine::internal::Savepoint> record;
    if ((header_due ? 1 : 0) + new_lists.size() + batches_used > 1) {
      record.emplace(core.connection, core.statements, "history_record");
    }
    if (header_due) WriteHeader(statements);
    for (const NewList& list : new_lists) {
      StatementUse insert(statements.insert_list);
      insert->Bind(1, format::IdInRun(run, list.number));
      Bytes(*insert, 2, list.object);
      Bytes(*insert, 3, list.names, /*blob=*/true);
      insert->Step();
    }
    RequireRoomInRun(number + static_cast<std::int64_t>(batches_used));
    for (std::size_t b = 0; b < batches_used; ++b) {
      StatementUse insert(statements.insert_changes);
      insert->Bind(1, format::IdInRun(run, number + 1 + static_cast<std::int64_t>(b)));
      Bytes(*insert, 2, batches[b].group);
      insert->Bind(3, batches[b].count);
      Bytes(*insert, 4, batches[b].body.bytes(), /*blob=*/true);
      insert->Step();
    }
    if (record) record->Release();
    const Batch& written = batches[batches_used - 1];
    number += static_cast<std::int64_t>(batches_used);
    last.written = true;
    last.rollbacks = core.attached.rollbacks();
    last.group = written.group;
    last.count = written.count;
    last.body.assign(written.body.bytes());
  }

  // Records what `add` adds: the changes encoded first, then written.
  template <typename AddChanges>
  void Recording(AddChanges add) {
    try {
      AboutHistory(path, [&] {
        engine::internal::DatabaseCore& core = db->core();
        const AttachedFiles::Permit permit(core.attached);
        RecordStatements& statements = Prepared();
        const bool header_due = Resume(core.attached, statements);
        add();
        Write(core, statements, header_due);
      });
    } catch (...) {
      // Undone: the next record learns the run's state from the file.
      last.written = false;
      for (const NewList& list : new_lists) lists.erase(list.key);
      recent_lists.clear();
      new_lists.clear();
      batches_used = 0;
      throw;
    }
    new_lists.clear();
    batches_used = 0;
  }

  std::string path;
  RunHeader header;                                     // through Header()
  std::optional<FileDigestInBackground> source_digest;  // none: in `header`
  Database own;                                         // in memory, with the history attached
  Database* db = &own;                                  // the connection the records go through
  std::int64_t run = 0;     // the header's number; 0 until it is written
  std::int64_t number = 0;  // of the last row of changes written
  // The run's column lists, by their object and Names, and their numbers.
  std::map<std::string, std::int64_t, std::less<>> lists;
  // The list of each object's change before, by its names as the recorder
  // gave them: a record's changes of a table change its every column, and
  // comparing names costs less than encoding and looking them up. Cleared
  // with any list forgotten.
  struct RecentList {
    std::string object;
    std::vector<std::string> names;
    std::int64_t number = 0;
    // The same names as the recorder gave them: its names of the table
    // while `generation` stays the same (see RowChangeView), and the columns
    // of them. None when 0.
    std::uint64_t generation = 0;
    const std::vector<std::string>* all_names = nullptr;
    std::vector<std::size_t> columns;
  };
  std::vector<RecentList> recent_lists;  // a few
  struct NewList {
    std::int64_t number;
    std::string key, object, names;
  };
  std::vector<NewList> new_lists;  // of the record being written
  struct Batch {
    std::string group;
    std::int64_t count = 0;
    format::BlobEncoder body;
  };
  // The record's rows of changes: the first `batches_used`, the others kept
  // for their room.
  std::vector<Batch> batches;
  std::size_t batches_used = 0;
  struct {
    bool written = false;  // false: none yet, or not known to be stored
    // The count of rollbacks of the connection in use when it was written;
    // none since the writer changed connections.
    std::optional<std::uint64_t> rollbacks;
    std::string group;
    std::int64_t count = 0;
    std::string body;
  } last;                               // the row of changes at `number`, as this writer wrote it
  format::BlobEncoder names, list_key;  // of the change being added
  std::string key;                      // of the change being added
  KeyColumnsByTable keys;               // of the tables the recorder's changes are in
  // On `db`: declared after `own`, so finalized before it closes.
  std::optional<RecordStatements> prepared;
};

HistoryWriter::HistoryWriter(const std::string& path, RunHeader header)
    : impl_(AboutHistory(path, [&] { return std::make_unique<Impl>(path, std::move(header)); })) {
  Open();
}

HistoryWriter::HistoryWriter(const std::string& path, const std::string& program,
                             const std::string& command_line, const std::string& database,
                             const std::string& source)
    : impl_(AboutHistory(path, [&] {
        return std::make_unique<Impl>(path, program, command_line, database, source);
      })) {
  Open();
}

void HistoryWriter::Open() {
  const std::string& path = impl_->path;
  AboutHistory(path, [&] {
    impl_->own.Attach(path, kSchema);
    const AttachedFiles::Permit permit(impl_->own.core().attached);
    // Only a file without a page yet takes it.
    impl_->own.core().connection.Exec(Sql("PRAGMA {}.page_size = ") +
                                      std::to_string(format::kPageSize));
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
    impl_->ForgetConnection();
    impl_->db = &db;
  });
}

void HistoryWriter::Detach() {
  AboutHistory(impl_->path, [&] {
    impl_->ForgetConnection();
    Database* attached = std::exchange(impl_->db, &impl_->own);
    attached->Detach(kSchema);
  });
}

void HistoryWriter::Record(const std::vector<Change>& changes) {
  Impl& impl = *impl_;
  impl.Recording([&] {
    for (const Change& change : changes) {
      const std::vector<ColumnChange>& columns = change.columns;
      format::EncodeNames(columns | std::views::transform(&ColumnChange::column), impl.names);
      impl.Add(
          change.group, change.kind, impl.ListNumber(change.object), change.key, columns.size(),
          format::SidesOf(columns),
          [&](std::size_t i) -> const Value& { return columns[i].before; },
          [&](std::size_t i) -> const Value& { return columns[i].after; });
    }
  });
}

void HistoryWriter::Record(const std::string& group, engine::ChangeRecorder& recorder) {
  Impl& impl = *impl_;
  impl.Recording([&] {
    recorder.TakeEach([&](const engine::RowChangeView& change) {
      const auto column = [&](std::size_t i) { return change.columns[i]; };
      const std::int64_t list = impl.ListOf(change);
      KeyOf(*impl.db, change, impl.keys.Of(*impl.db, change.table, change.names_generation),
            impl.key);
      const std::uint8_t sides =
          (change.before ? format::kBefore : 0) | (change.after ? format::kAfter : 0);
      impl.Add(
          group, KindOf(change.kind), list, impl.key, change.columns.size(),
          sides, [&](std::size_t i) -> const auto& { return change.Before(column(i)); },
          [&](std::size_t i) -> const auto& { return change.After(column(i)); });
    });
  });
}

void HistoryWriter::SealOrTell(const RunEnd& end) noexcept {
  const auto tell = [&](long number, const std::string& description) {
    WriteDetail("history", path() + ": not sealed: " + std::to_string(number) + " " + description);
  };
  try {
    Seal(end);
  } catch (const Error& error) {
    tell(error.number(), error.description());
  } catch (const std::exception& error) {
    tell(err::kDeviceIoError, error.what());
  }
}

std::string HistoryWriter::Seal(const RunEnd& end) {
  return AboutHistory(impl_->path, [&] {
    sqlite3* db = impl_->own.core().db();
    const AttachedFiles::Permit permit(impl_->own.core().attached);
    engine::Transaction transaction = impl_->own.Begin();
    RecordStatements statements(db);
    if (!impl_->HeaderStored(statements)) impl_->WriteHeader(statements);
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
