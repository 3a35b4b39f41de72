// Databases for the upgrader's tests: a small analyser target and shell
// databases, made through the engine so they are what the programs meet.
#pragma once

#include <string>
#include <vector>

#include "platform/core/value.h"
#include "platform/engine/schema.h"

namespace reshaper_test {

// Tests (two rows) and SoftwareVersion (one row, version "1.0.0").
extern const char* const kTargetTables;
// StructureInfo, VersionInfo and DefaultData, without rows.
extern const char* const kShellTables;

// The shells of the program's tests, on top of kTargetTables and
// kShellTables. The install shell adds two fields and a version field, fills
// them by default data (one statement hits an existing key and is skipped)
// and stamps 2.0.0; the ERU shell removes Tests_Name (its default data would
// empty Tests if it ever ran) and stamps 0.9.0.
extern const char* const kInstallShell;
extern const std::vector<platform::engine::SavedQuery> kInstallQueries;
extern const char* const kEruShell;
extern const std::vector<platform::engine::SavedQuery> kEruQueries;

// Creates the database file `path` from `sql` and stores `queries` in it.
void CreateDatabase(const std::string& path, const std::string& sql,
                    const std::vector<platform::engine::SavedQuery>& queries = {});

// Reads from a closed database file (opened and closed around the read).
platform::Value ReadScalar(const std::string& path, const std::string& sql);
std::vector<std::string> FieldNames(const std::string& path, const std::string& table);
std::vector<platform::engine::SavedQuery> QueriesOf(const std::string& path);

// The same reads on an open database.
platform::Value ReadScalar(platform::engine::Database& db, const std::string& sql);
std::vector<std::string> FieldNames(platform::engine::Database& db, const std::string& table);

// The value of the `detail: <what>: ` line in `details`, or "" when none.
std::string DetailValue(const std::vector<std::pair<std::string, std::string>>& details,
                        const std::string& what);

}  // namespace reshaper_test
