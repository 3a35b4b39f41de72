#include "catalog_sync/records/assay_collection.h"

#include <string>

#include "platform/core/error.h"

namespace catalog_sync {

void AssayCollection::Add(Assay assay) {
  assays_.push_back(std::move(assay));
}

void AssayCollection::Reserve(std::int32_t count) {
  if (count > 0) assays_.reserve(static_cast<std::size_t>(count));
}

const Assay& AssayCollection::Item(std::int32_t i) const {
  if (i < 1 || i > Count()) {
    throw platform::Error(platform::err::kSubscriptOutOfRange)
        .AddDetail("assay position", std::to_string(i) + " of 1.." + std::to_string(Count()));
  }
  return assays_[static_cast<std::size_t>(i - 1)];
}

}  // namespace catalog_sync
