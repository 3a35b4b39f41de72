// The small databases of Reshaper's tests, made through the engine.
#pragma once

#include <string>
#include <vector>

#include "platform/engine/database.h"
#include "platform/engine/schema.h"

namespace reshaper_test {

// A target: Tests (GLU, CHOL) and SoftwareVersion (one row, "1.0.0").
inline constexpr const char* kTargetTables = R"sql(
CREATE TABLE Tests (Tests_ID SHORT PRIMARY KEY NOT NULL, Tests_Name TEXT(10));
INSERT INTO Tests (Tests_ID, Tests_Name) VALUES (1, 'GLU'), (2, 'CHOL');
CREATE TABLE SoftwareVersion (Version_ID INTEGER PRIMARY KEY, Version_Number TEXT(20));
INSERT INTO SoftwareVersion (Version_Number) VALUES ('1.0.0');
)sql";

// Creates the database `path` from `sql` and stores `queries` in it.
inline void MakeDatabase(const std::string& path, const std::string& sql,
                         const std::vector<platform::engine::SavedQuery>& queries = {}) {
  platform::engine::Database db = platform::engine::Database::Create(path);
  db.Exec(sql);
  for (const auto& q : queries) platform::engine::CreateSavedQuery(db, q.name, q.sql);
}

// A shell: the target's tables (so that its queries prepare, as in a
// release's shell), empty shell tables, then `sql`.
inline void MakeShell(const std::string& path, const std::string& sql,
                      const std::vector<platform::engine::SavedQuery>& queries = {}) {
  MakeDatabase(path, std::string(kTargetTables) + R"sql(
CREATE TABLE StructureInfo ("Table" TEXT(64), Name TEXT(64), DataType TEXT(20), Size TEXT(10),
  DefaultData TEXT(255), Required YESNO, AllowZeroLength YESNO, ValidationRule TEXT(255),
  ValidationText TEXT(255));
CREATE TABLE VersionInfo (TableName TEXT(64), FieldName TEXT(64), VersionNumber TEXT(20));
CREATE TABLE DefaultData (SQL MEMO);
)sql" + sql,
               queries);
}

}  // namespace reshaper_test
