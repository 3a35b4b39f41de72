#include "platform/engine/database/execute_rewrite.h"

#include "platform/engine/database/sql_scanner.h"

namespace platform::engine::internal {

std::string SkippingViolations(std::string_view sql) {
  SqlScanner scanner(sql);
  if (!scanner.Keyword("INSERT") && !scanner.Keyword("UPDATE")) return std::string(sql);
  const std::size_t after_verb = scanner.position();
  if (scanner.Keyword("OR")) return std::string(sql);
  std::string rewritten(sql);
  rewritten.insert(after_verb, " OR IGNORE");
  return rewritten;
}

}  // namespace platform::engine::internal
