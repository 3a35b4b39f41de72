#include "platform/engine/connection/attached_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "platform/core/error.h"
#include "platform/core/files.h"
#include "platform/core/unique_fd.h"
#include "platform/engine/connection/engine_failure.h"
#include "platform/engine/connection/sql_quoting.h"
#include "platform/engine/connection/statement.h"

namespace platform::engine::internal {

namespace {

// The file as a "file:" URI with its mode, so that a read-only file is
// opened read-only also for root. Every byte but the unreserved ones and
// '/' is percent-encoded ('?', '#' and '%' would end or change the path);
// an absolute path gets an empty authority, so that "//x" is no host.
std::string UriOf(const std::string& path, bool read_only) {
  std::string uri = path.starts_with('/') ? "file://" : "file:";
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
        (byte >= '0' && byte <= '9') || c == '/' || c == '-' || c == '.' || c == '_' || c == '~') {
      uri += c;
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
      uri += escaped;
    }
  }
  return uri + (read_only ? "?mode=ro" : "?mode=rw");
}

std::string LinkTargetOf(const std::string& path) {
  char target[4096];
  const ssize_t size = ::readlink(path.c_str(), target, sizeof target);
  return size < 0 ? std::string() : std::string(target, static_cast<std::size_t>(size));
}

// The file is ours to write at its name only: a symbolic link there is
// refused, not followed (it could lead the history's writes into any file),
// and a missing file is created by us, never through a link planted at the
// name. Anything but a regular file fails as a file the programs read does.
void PrepareFile(const std::string& path) {
  for (;;) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
      if (S_ISLNK(st.st_mode)) {
        throw Error(err::kDeviceIoError).AddDetail("link to", LinkTargetOf(path));
      }
      if (!S_ISREG(st.st_mode)) OpenForReading(path);  // throws what it is
      return;
    }
    if (errno != ENOENT) throw ErrorFromErrno(errno, "stat", path);
    UniqueFd created(
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (created.valid()) return;
    // Another program created it in between: checked as any file found.
    if (errno != EEXIST) throw ErrorFromErrno(errno, "create", path);
  }
}

// SQLite opens "<path>-journal" following links: one planted there would
// take the journal's bytes wherever it leads. A regular file is a hot
// journal, the only copy of a killed transaction's old pages: it stays.
void RemoveForeignJournal(const std::string& path) {
  const std::string journal = path + "-journal";
  struct stat st {};
  if (::lstat(journal.c_str(), &st) != 0 || S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) return;
  if (::unlink(journal.c_str()) != 0 && errno != ENOENT) {
    throw ErrorFromErrno(errno, "unlink", journal);
  }
}

void Run(sqlite3* db, const std::string& sql, const std::string& first,
         const std::optional<std::string>& second = std::nullopt) {
  Statement statement(db, sql);
  statement.Bind(1, Value(first));
  if (second) statement.Bind(2, Value(*second));
  while (statement.Step()) {
  }
}

}  // namespace

void AttachedFiles::Attach(sqlite3* db, const std::string& path, const std::string& schema) {
  try {
    PrepareFile(path);
    RemoveForeignJournal(path);
    const std::optional<std::string> read_only = ReadOnlyNote(path);
    File file{path, std::make_unique<LockFileShare>(path)};
    if (files_.empty()) Watch(db);
    const Permit permit(*this);
    try {
      Run(db, "ATTACH DATABASE ? AS ?", UriOf(path, read_only.has_value()), schema);
    } catch (...) {
      if (files_.empty()) Unwatch(db);
      throw;
    }
    files_.emplace(schema, std::move(file));
    if (read_only) NoteReadOnly(db, *read_only, schema);
    try {
      Statement journal(db, "PRAGMA " + QuoteIdentifier(schema) + ".journal_mode=DELETE");
      journal.Step();
    } catch (...) {
      Detach(db, schema);
      throw;
    }
  } catch (Error& failure) {
    throw std::move(failure.AddDetail("database", path));
  }
}

void AttachedFiles::Detach(sqlite3* db, const std::string& schema) {
  {
    const Permit permit(*this);
    Run(db, "DETACH DATABASE ?", schema);
  }
  ForgetReadOnly(db, schema);
  files_.erase(schema);
  if (files_.empty()) Unwatch(db);
}

void AttachedFiles::Watch(sqlite3* db) {
  sqlite3_set_authorizer(db, &AttachedFiles::Authorize, this);
  sqlite3_rollback_hook(db, &AttachedFiles::OnRollback, this);
}

void AttachedFiles::Unwatch(sqlite3* db) {
  sqlite3_set_authorizer(db, nullptr, nullptr);
  sqlite3_rollback_hook(db, nullptr, nullptr);
}

void AttachedFiles::OnRollback(void* self) {
  ++static_cast<AttachedFiles*>(self)->rollbacks_;
}

int AttachedFiles::Authorize(void* self, int action, const char* operation, const char*,
                             const char* schema, const char*) {
  auto& files = *static_cast<AttachedFiles*>(self);
  // Counted when prepared, which for a rollback is when it runs: the engine
  // prepares none ahead (see rollbacks()).
  if ((action == SQLITE_TRANSACTION || action == SQLITE_SAVEPOINT) && operation != nullptr &&
      sqlite3_stricmp(operation, "ROLLBACK") == 0) {
    ++files.rollbacks_;
  }
  if (files.permits_ > 0) return SQLITE_OK;
  if (action == SQLITE_ATTACH || action == SQLITE_DETACH || action == SQLITE_CREATE_TEMP_TRIGGER) {
    return SQLITE_DENY;
  }
  if (schema == nullptr) return SQLITE_OK;
  for (const auto& [name, file] : files.files_) {
    if (sqlite3_stricmp(name.c_str(), schema) == 0) return SQLITE_DENY;
  }
  return SQLITE_OK;
}

void AttachedFiles::RemoveOrphanSuperJournals(const std::string& main_path) {
  namespace fs = std::filesystem;
  const std::string prefix = FileNameOf(main_path) + "-mj";
  // Best effort: an orphan that stays harms nothing but the folder's looks.
  std::error_code error;
  for (fs::directory_iterator it(FolderOf(main_path), error), end; !error && it != end;
       it.increment(error)) {
    if (it->path().filename().string().starts_with(prefix) &&
        it->symlink_status(error).type() == fs::file_type::regular) {
      ::unlink(it->path().c_str());
    }
  }
}

}  // namespace platform::engine::internal
