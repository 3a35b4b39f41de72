#include "platform/engine/integrity.h"

#include <sqlite3.h>

#include <sstream>
#include <string>

#include "platform/core/error.h"
#include "platform/engine/connection/mapped_reads.h"
#include "platform/engine/connection/statement.h"
#include "platform/engine/rows/database_core.h"

namespace platform::engine {

namespace {

// quick_check stops after this many problems: enough for the operator, and
// a badly damaged file is not walked to its end. The main file only: a file
// attached to the connection (the change history) is not the database's.
constexpr const char* kQuickCheck = "PRAGMA main.quick_check(5)";

// One detail per line of a problem's text, without the heading that SQLite
// sets before the first problem of each attached database ("*** in database
// main ***"): only the main database is ever checked.
void AddProblems(Error& damaged, const std::string& text) {
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("*** ", 0) != 0) damaged.AddDetail("problem", line);
  }
}

}  // namespace

void CheckIntegrity(Database& db) {
  const internal::MappedReads mapped(db.core().db());
  internal::Statement check(db.core().db(), kQuickCheck);
  Error damaged(SQLITE_CORRUPT, sqlite3_errstr(SQLITE_CORRUPT));
  damaged.AddDetail("database", db.path());
  bool sound = false;
  while (check.Step()) {
    const std::string text = check.Column(0).ToText();
    if (text == "ok") {
      sound = true;
    } else {
      AddProblems(damaged, text);
    }
  }
  if (!sound) throw damaged;
}

void CheckDatabaseIntegrity(const std::string& path) {
  Database db = Database::Open(path);
  CheckIntegrity(db);
  db.Close();
}

}  // namespace platform::engine
