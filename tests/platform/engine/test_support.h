// Shared by the engine tests: an analyser database from the example schema
// in a temporary folder, and error checks.
#pragma once

// The tests build NewField values with designated initializers, naming only
// the members they set; GCC warns about every member left to its default.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/core/error.h"
#include "platform/engine/database.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

namespace platform::engine::testing {

// Creates `path` with examples/analyser-schema.sql.
inline Database CreateAnalyserDatabase(const std::string& path) {
  Database db = Database::Create(path);
  db.Exec(
      testing_support::ReadFile(testing_support::SourceDir() + "/examples/analyser-schema.sql"));
  return db;
}

// The arguments as Values, in order (a list that formats compactly).
template <typename... Args>
std::vector<Value> Values(const Args&... args) {
  return {Value(args)...};
}

// The platform::Error that `f` throws (number 0 when it throws none).
inline Error ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return e;
  }
  return Error(0, "no error");
}

// The rows of `sql`, each cell as its ToText (Null shown as "NULL"), "|"
// between cells and "\n" after each row: the sqlite3 tool's form.
inline std::string Dump(Database& db, const std::string& sql) {
  std::string text;
  for (const auto& row : db.Query(sql).rows) {
    for (std::size_t i = 0; i < row.size(); ++i) {
      text += (i ? "|" : "") + (row[i].IsNull() ? std::string("NULL") : row[i].ToText());
    }
    text += "\n";
  }
  return text;
}

// Runs the sqlite3 command-line tool on `database` with `sql`.
inline testing_support::RunResult Sqlite3(const std::string& database, const std::string& sql) {
  return testing_support::Run("/usr/bin/sqlite3", {database, sql});
}
// Its standard output and error together.
inline std::string Cli(const std::string& database, const std::string& sql) {
  const auto r = Sqlite3(database, sql);
  return r.out + r.err;
}

}  // namespace platform::engine::testing
