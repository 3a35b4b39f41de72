// The triggers that enforce a field's Required, AllowZeroLength = false and
// ValidationRule inside the file, for every program that writes to it:
// "SysField:<table>.<field>:insert" (BEFORE INSERT) and
// "SysField:<table>.<field>:update" (BEFORE UPDATE OF the field). They use
// only SQLite's own functions, so the sqlite3 tool is held to them too.
#pragma once

#include <string>
#include <string_view>

#include "platform/engine/schema.h"

namespace platform::engine::internal {

// Creates the triggers (none when the properties enforce nothing). The rule
// must have been checked with TranslateValidationRule.
void CreateFieldEnforcement(Database& db, std::string_view table, std::string_view field,
                            const FieldProperties& properties);
void DropFieldEnforcement(Database& db, std::string_view table, std::string_view field);

}  // namespace platform::engine::internal
