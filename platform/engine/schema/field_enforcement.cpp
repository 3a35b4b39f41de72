#include "platform/engine/schema/field_enforcement.h"

#include "platform/engine/connection/sql_quoting.h"
#include "platform/engine/schema/validation_rule.h"

namespace platform::engine::internal {

namespace {

std::string TriggerName(std::string_view table, std::string_view field, const char* event) {
  return QuoteIdentifier("SysField:" + std::string(table) + "." + std::string(field) + ":" + event);
}

std::string Refusal(const std::string& message, const std::string& condition) {
  return "SELECT RAISE(ABORT, " + QuoteSqlString(message) + ") WHERE " + condition + "; ";
}

// The trigger body's checks, with `value` (NEW."field") as the field.
std::string Checks(std::string_view table, std::string_view field, const FieldProperties& p) {
  const std::string name = std::string(table) + "." + std::string(field);
  const std::string value = "NEW." + QuoteIdentifier(field);
  std::string checks;
  if (p.required) {
    checks += Refusal("You must enter a value in the '" + name + "' field.", value + " IS NULL");
  }
  if (!p.allow_zero_length) {
    checks += Refusal("Field '" + name + "' cannot be a zero-length string.", value + " = ''");
  }
  if (!p.validation_rule.empty()) {
    const std::string message = !p.validation_text.empty()
                                    ? p.validation_text
                                    : "One or more values are prohibited by the validation rule '" +
                                          p.validation_rule + "' set for '" + name + "'.";
    // A rule that yields null (a null field) passes, as in the original engine.
    checks += Refusal(message,
                      "NOT coalesce(" + TranslateValidationRule(p.validation_rule, value) + ", 1)");
  }
  return checks;
}

}  // namespace

void CreateFieldEnforcement(Database& db, std::string_view table, std::string_view field,
                            const FieldProperties& properties) {
  const std::string checks = Checks(table, field, properties);
  if (checks.empty()) return;
  const std::string on = " ON " + QuoteIdentifier(table) + " BEGIN " + checks + "END";
  db.Exec("CREATE TRIGGER " + TriggerName(table, field, "insert") + " BEFORE INSERT" + on);
  db.Exec("CREATE TRIGGER " + TriggerName(table, field, "update") + " BEFORE UPDATE OF " +
          QuoteIdentifier(field) + on);
}

void DropFieldEnforcement(Database& db, std::string_view table, std::string_view field) {
  db.Exec("DROP TRIGGER IF EXISTS " + TriggerName(table, field, "insert") +
          "; DROP TRIGGER IF EXISTS " + TriggerName(table, field, "update"));
}

}  // namespace platform::engine::internal
