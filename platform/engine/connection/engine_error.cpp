#include "platform/engine/connection/engine_error.h"

#include <sys/stat.h>

#include <cstdio>
#include <map>
#include <mutex>
#include <string>

#include "platform/engine/connection/engine_failure.h"

namespace platform::engine {

const char* DescribeEngineError(long number) {
  switch (number) {
    case engine_err::kValueDoesNotFit: return "The value does not fit the field";
    case engine_err::kUnknownTable: return "The table does not exist";
    case engine_err::kUnknownField: return "The field does not exist";
    case engine_err::kBadFieldSize: return "The field size is not valid";
    case engine_err::kUnknownFieldType: return "The field type is not known";
    case engine_err::kUntranslatableRule: return "The validation rule cannot be translated";
    case engine_err::kNameInUse: return "The name is already in use";
    case engine_err::kUnknownQuery: return "The saved query does not exist";
    case engine_err::kCannotDropField: return "The field cannot be deleted";
    case engine_err::kDestinationExists: return "The destination file already exists";
    case engine_err::kDatabaseInUse: return "The database is open";
    case engine_err::kNotASelect: return "The statement returns no rows";
    case engine_err::kValidationFailed: return "The value breaks the validation rule";
    case engine_err::kNoSuchRow: return "The row does not exist";
    case engine_err::kUnsupportedSource: return "The source does not select one table's rows";
    case engine_err::kNotAnAction: return "The statement changes no data";
    default: return "Unknown engine error";
  }
}

namespace internal {

namespace {

// The notes of the read-only connections. SQLite 3.40 keeps no client data
// on a connection, and its failures are built from the bare handle.
struct ReadOnlyNotes {
  std::mutex mutex;
  std::map<sqlite3*, std::map<std::string, std::string>> notes;  // by schema
};
ReadOnlyNotes& Notes() {
  static ReadOnlyNotes notes;
  return notes;
}

void AddReadOnlyNote(sqlite3* db, Error& error) {
  if ((sqlite3_extended_errcode(db) & 0xFF) != SQLITE_READONLY) return;
  ReadOnlyNotes& notes = Notes();
  const std::lock_guard guard(notes.mutex);
  const auto it = notes.notes.find(db);
  if (it == notes.notes.end()) return;
  for (const auto& [schema, note] : it->second) error.AddDetail("read-only", note);
}

}  // namespace

std::optional<std::string> ReadOnlyNote(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || (st.st_mode & S_IWUSR) != 0) return std::nullopt;
  char mode[16];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
  return path + " (mode " + mode + ")";
}

void NoteReadOnly(sqlite3* db, std::string note, const std::string& schema) {
  ReadOnlyNotes& notes = Notes();
  const std::lock_guard guard(notes.mutex);
  notes.notes[db][schema] = std::move(note);
}

void ForgetReadOnly(sqlite3* db) {
  ReadOnlyNotes& notes = Notes();
  const std::lock_guard guard(notes.mutex);
  notes.notes.erase(db);
}

void ForgetReadOnly(sqlite3* db, const std::string& schema) {
  ReadOnlyNotes& notes = Notes();
  const std::lock_guard guard(notes.mutex);
  const auto it = notes.notes.find(db);
  if (it == notes.notes.end()) return;
  it->second.erase(schema);
  if (it->second.empty()) notes.notes.erase(it);
}

Error SqliteFailure(sqlite3* db, std::string_view sql) {
  Error error(sqlite3_extended_errcode(db), sqlite3_errmsg(db));
  if (!sql.empty()) error.AddDetail("SQL", std::string(sql));
  AddReadOnlyNote(db, error);
  return error;
}

Error EngineFailure(long number) {
  return Error(number, DescribeEngineError(number));
}

void RefuseNulCharacter(std::string_view sql) {
  const std::size_t nul = sql.find('\0');
  if (nul == std::string_view::npos) return;
  throw Error(SQLITE_MISUSE, "The SQL text holds a NUL character")
      .AddDetail("SQL before the NUL", std::string(sql.substr(0, nul)));
}

}  // namespace internal
}  // namespace platform::engine
