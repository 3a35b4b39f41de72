// The form of an action statement that skips the rows a key or constraint
// refuses: INSERT and UPDATE get SQLite's OR IGNORE conflict clause.
#pragma once

#include <string>
#include <string_view>

namespace platform::engine::internal {

// "INSERT INTO ..." -> "INSERT OR IGNORE INTO ...", "UPDATE t ..." ->
// "UPDATE OR IGNORE t ...". A statement with its own conflict clause,
// DELETE, REPLACE and statements beginning with WITH stay as they are.
std::string SkippingViolations(std::string_view sql);

}  // namespace platform::engine::internal
