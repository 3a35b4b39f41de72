// Shared by the engine tests: an analyser database from the example schema
// in a temporary folder, and error checks.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "platform/core/error.h"
#include "platform/engine/database.h"
#include "tests/support/test_support.h"

namespace platform::engine::testing {

// Creates `path` with examples/analyser-schema.sql.
inline Database CreateAnalyserDatabase(const std::string& path) {
  Database db = Database::Create(path);
  db.Exec(
      testing_support::ReadFile(testing_support::SourceDir() + "/examples/analyser-schema.sql"));
  return db;
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

inline std::string DetailOf(const Error& e, const std::string& what) {
  for (const auto& [name, value] : e.details()) {
    if (name == what) return value;
  }
  return "";
}

// Runs the sqlite3 command-line tool on `database` with `sql`.
inline testing_support::RunResult Sqlite3(const std::string& database, const std::string& sql) {
  return testing_support::Run("/usr/bin/sqlite3", {database, sql});
}

}  // namespace platform::engine::testing
