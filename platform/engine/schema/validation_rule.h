// Validation rules of the original engine's form, whose left operand is the
// field itself (">0", ">=0 And <=100", "Between 1 And 9", "In (\"A\",\"B\")",
// "Is Not Null", "<>\"\"", "Like \"A*\"", with Not, Or, And and parentheses),
// parsed and written out as an SQL expression. Literals are re-emitted as
// SQL literals (strings quoted with '' doubled, numbers from their checked
// digits); nothing of the rule's text is pasted.
#pragma once

#include <string>
#include <string_view>

namespace platform::engine::internal {

// The SQL condition of `rule` with `operand` (SQL text, e.g. NEW."Field") as
// the field. Throws engine_err::kUntranslatableRule for any other text.
std::string TranslateValidationRule(std::string_view rule, std::string_view operand);

}  // namespace platform::engine::internal
