#include "platform/engine/connection/connection.h"

#include <mutex>
#include <optional>
#include <string>

#include "platform/core/text.h"
#include "platform/engine/connection/engine_failure.h"

namespace platform::engine::internal {

namespace {

constexpr int kBusyTimeoutMs = 5000;

// UCASE(x): platform::UpperCase of the text of x; NULL stays NULL.
void UpperCaseFunction(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) {
    sqlite3_result_null(context);
    return;
  }
  const unsigned char* text = sqlite3_value_text(args[0]);
  const int size = sqlite3_value_bytes(args[0]);
  const std::string upper = UpperCase(std::string_view(reinterpret_cast<const char*>(text), size));
  sqlite3_result_text64(context, upper.data(), upper.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

}  // namespace

void SetUpSqliteOnce() {
  static std::once_flag once;
  std::call_once(once, [] { sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0); });
}

Connection::Connection(const std::string& path, bool create, const char* vfs) {
  const std::optional<std::string> read_only = create ? std::nullopt : ReadOnlyNote(path);
  // URIs are taken so that a file can be attached read-only (AttachedFiles);
  // a path of ours is never read as one.
  const int flags = (read_only ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) |
                    (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_URI;
  const std::string name = path.starts_with("file:") ? "./" + path : path;
  SetUpSqliteOnce();
  if (sqlite3_open_v2(name.c_str(), &db_, flags, vfs) != SQLITE_OK) {
    Error failure = db_ == nullptr ? Error(SQLITE_NOMEM, "out of memory") : SqliteFailure(db_);
    sqlite3_close_v2(db_);
    db_ = nullptr;
    throw std::move(failure.AddDetail("database", path));
  }
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  if (read_only) NoteReadOnly(db_, *read_only);
  try {
    if (sqlite3_create_function_v2(db_, "UCASE", 1,
                                   SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, nullptr,
                                   UpperCaseFunction, nullptr, nullptr, nullptr) != SQLITE_OK) {
      throw SqliteFailure(db_);
    }
    // Also reads the schema: a file that is no database fails here.
    Exec("PRAGMA journal_mode=DELETE");
  } catch (Error& failure) {
    ForgetReadOnly(db_);
    sqlite3_close_v2(db_);
    db_ = nullptr;
    throw std::move(failure.AddDetail("database", path));
  }
}

Connection::~Connection() {
  ForgetReadOnly(db_);
  sqlite3_close_v2(db_);
}

void Connection::TakeReadOnlyFrom(const std::string& source) {
  const std::optional<std::string> note = ReadOnlyNote(source);
  if (!note) return;
  // Reloaded as a read-only in-memory file rather than by query_only, which
  // also refuses BEGIN IMMEDIATE: a read-only file takes that and fails at
  // its first write, and so must the copy.
  sqlite3_int64 size = 0;
  unsigned char* bytes = sqlite3_serialize(db_, "main", &size, 0);
  if (bytes == nullptr) throw Error(SQLITE_NOMEM, "out of memory");
  if (sqlite3_deserialize(db_, "main", bytes, size, size,
                          SQLITE_DESERIALIZE_FREEONCLOSE | SQLITE_DESERIALIZE_READONLY) !=
      SQLITE_OK) {
    throw SqliteFailure(db_);
  }
  NoteReadOnly(db_, *note);
  read_only_copy_ = true;
}

void Connection::Begin() {
  // A read-only file grants the reserved lock of BEGIN IMMEDIATE and fails
  // at the first write; a read-only in-memory copy refuses that lock at
  // once, so it begins deferred and fails at the same write.
  Exec(read_only_copy_ ? "BEGIN" : "BEGIN IMMEDIATE");
}

void Connection::Exec(std::string_view sql) {
  RefuseNulCharacter(sql);
  const std::string text(sql);
  if (sqlite3_exec(db_, text.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
    throw SqliteFailure(db_, text);
  }
}

}  // namespace platform::engine::internal
