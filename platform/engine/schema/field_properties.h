// The table SysFieldProperties: one row per field the engine created
// (TableName, FieldName, DefaultValue, Required, AllowZeroLength,
// ValidationRule, ValidationText).
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "platform/engine/schema.h"

namespace platform::engine::internal {

// Stores the properties of one field, replacing any earlier row of it.
void SaveFieldProperties(Database& db, std::string_view table, std::string_view field,
                         const FieldProperties& properties);
// The stored properties of `table`'s fields, by upper-cased field name.
std::map<std::string, FieldProperties> LoadFieldProperties(Database& db, std::string_view table);
void RemoveFieldProperties(Database& db, std::string_view table, std::string_view field);

}  // namespace platform::engine::internal
