#include "catalog_sync/records/assay.h"

#include "platform/core/text.h"

namespace catalog_sync {

bool FlagFromValue(const platform::Value& value) {
  using platform::ValueKind;
  switch (value.kind()) {
    // A boolean's text is the word true or false, which upper-cases to
    // exactly "TRUE" or "FALSE".
    case ValueKind::kBoolean: return value.boolean();
    case ValueKind::kText: {
      const std::string word = platform::UpperTrim(value.text());
      return word == "YES" || word == "TRUE";
    }
    // A number's decimal text, the empty text, null and an error value never
    // read as YES or TRUE.
    default: return false;
  }
}

void Assay::SetMode(std::string_view sMode) {
  mode_ = platform::UpperTrim(sMode);
}

}  // namespace catalog_sync
