#include "tests/reshaper/reshaper_fixture.h"

namespace reshaper_test {

using platform::engine::Database;

const char* const kTargetTables = R"sql(
CREATE TABLE Tests (Tests_ID SHORT PRIMARY KEY NOT NULL, Tests_Name TEXT(10));
INSERT INTO Tests (Tests_ID, Tests_Name) VALUES (1, 'GLU'), (2, 'CHOL');
CREATE TABLE SoftwareVersion (Version_ID INTEGER PRIMARY KEY, Version_Number TEXT(20));
INSERT INTO SoftwareVersion (Version_Number) VALUES ('1.0.0');
)sql";

const char* const kShellTables = R"sql(
CREATE TABLE StructureInfo ("Table" TEXT(64), Name TEXT(64), DataType TEXT(20), Size TEXT(10),
  DefaultData TEXT(255), Required YESNO, AllowZeroLength YESNO, ValidationRule TEXT(255),
  ValidationText TEXT(255));
CREATE TABLE VersionInfo (TableName TEXT(64), FieldName TEXT(64), VersionNumber TEXT(20));
CREATE TABLE DefaultData (SQL MEMO);
)sql";

// Adds two fields and a version field, fills them by default data (one
// statement hits an existing key and is skipped), stamps 2.0.0.
const char* const kInstallShell = R"sql(
INSERT INTO StructureInfo VALUES
  ('Tests', 'Tests_Reflex', 'BOOLEAN', NULL, '0', NULL, NULL, NULL, NULL),
  ('Tests', 'Tests_Note', 'text', '40', NULL, NULL, NULL, NULL, NULL),
  ('SoftwareVersion', 'Version_Build', 'LONG', NULL, NULL, NULL, NULL, NULL, NULL);
INSERT INTO VersionInfo VALUES ('SoftwareVersion', 'Version_Number', '2.0.0');
INSERT INTO DefaultData VALUES
  ('INSERT INTO Tests (Tests_ID, Tests_Name) VALUES (3, ''ALT'')'),
  ('INSERT INTO Tests (Tests_ID, Tests_Name) VALUES (1, ''DUP'')'),
  ('UPDATE SoftwareVersion SET Version_Build = 7');
)sql";
const std::vector<platform::engine::SavedQuery> kInstallQueries{
    {"QTests", "SELECT Tests_ID, Tests_Name FROM Tests"}};

// Removes Tests_Name; its default data would empty Tests if it ever ran.
const char* const kEruShell = R"sql(
INSERT INTO StructureInfo ("Table", Name) VALUES ('Tests', 'Tests_Name'), ('Tests', 'Tests_Gone');
INSERT INTO VersionInfo VALUES ('SoftwareVersion', 'Version_Number', '0.9.0');
INSERT INTO DefaultData VALUES ('DELETE FROM Tests');
)sql";
const std::vector<platform::engine::SavedQuery> kEruQueries{{"QEru", "SELECT Tests_ID FROM Tests"}};

void CreateDatabase(const std::string& path, const std::string& sql,
                    const std::vector<platform::engine::SavedQuery>& queries) {
  Database db = Database::Create(path);
  db.Exec(sql);
  for (const auto& query : queries) platform::engine::CreateSavedQuery(db, query.name, query.sql);
  db.Close();
}

platform::Value ReadScalar(Database& db, const std::string& sql) {
  const auto rows = db.Query(sql);
  return rows.empty() ? platform::Value() : rows.rows[0][0];
}

std::vector<std::string> FieldNames(Database& db, const std::string& table) {
  std::vector<std::string> names;
  for (const auto& field : platform::engine::TableFields(db, table)) names.push_back(field.name);
  return names;
}

platform::Value ReadScalar(const std::string& path, const std::string& sql) {
  Database db = Database::Open(path);
  return ReadScalar(db, sql);
}

std::vector<std::string> FieldNames(const std::string& path, const std::string& table) {
  Database db = Database::Open(path);
  return FieldNames(db, table);
}

std::vector<platform::engine::SavedQuery> QueriesOf(const std::string& path) {
  Database db = Database::Open(path);
  return platform::engine::SavedQueries(db);
}

std::string DetailValue(const std::vector<std::pair<std::string, std::string>>& details,
                        const std::string& what) {
  for (const auto& [w, value] : details) {
    if (w == what) return value;
  }
  return "";
}

}  // namespace reshaper_test
