// Numbers of the engine's own failures. Failures that SQLite reports carry
// SQLite's extended result code and message instead.
//
// Every engine failure is a platform::Error; facts for the operator (table,
// column, value, SQL) ride along as details.
#pragma once

namespace platform::engine {

namespace engine_err {
inline constexpr long kValueDoesNotFit = 3001;     // "The value does not fit the field"
inline constexpr long kUnknownTable = 3002;        // "The table does not exist"
inline constexpr long kUnknownField = 3003;        // "The field does not exist"
inline constexpr long kBadFieldSize = 3004;        // "The field size is not valid"
inline constexpr long kUnknownFieldType = 3005;    // "The field type is not known"
inline constexpr long kUntranslatableRule = 3006;  // "The validation rule cannot be translated"
inline constexpr long kNameInUse = 3007;           // "The name is already in use"
inline constexpr long kUnknownQuery = 3008;        // "The saved query does not exist"
inline constexpr long kCannotDropField = 3009;     // "The field cannot be deleted"
inline constexpr long kDestinationExists = 3010;   // "The destination file already exists"
inline constexpr long kDatabaseInUse = 3011;       // "The database is open"
inline constexpr long kNotASelect = 3012;          // "The statement returns no rows"
inline constexpr long kValidationFailed = 3013;    // "The value breaks the validation rule"
inline constexpr long kNoSuchRow = 3014;           // "The row does not exist"
inline constexpr long kUnsupportedSource = 3015;   // "The source does not select one table's rows"
inline constexpr long kNotAnAction = 3016;         // "The statement changes no data"
}  // namespace engine_err

// The fixed description of an engine number above.
const char* DescribeEngineError(long number);

}  // namespace platform::engine
