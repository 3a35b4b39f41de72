// A table's columns fed from a record's properties, named once in a mapping
// table and resolved against the record's property table (record_properties.h),
// so that every column takes the property's value in the property's own kind.
#pragma once

#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "catalog_sync/db/row_edit.h"
#include "platform/core/value.h"

namespace catalog_sync::db {

// One line of a mapping: the column and the property that fills it.
struct ColumnFromProperty {
  std::string_view column;
  std::string_view property;
};

template <typename Record>
struct ColumnSource {
  std::string_view column;
  platform::Value (*get)(const Record&);
};

// The mapping with each property name replaced by its getter, in the
// mapping's order. Throws std::logic_error for a property the table lacks
// (a misspelt mapping line, found by the first write).
template <typename Record, typename Property>
std::vector<ColumnSource<Record>> ResolveColumns(std::span<const ColumnFromProperty> mapping,
                                                 std::span<const Property> properties) {
  std::vector<ColumnSource<Record>> columns;
  for (const ColumnFromProperty& line : mapping) {
    const Property* found = nullptr;
    for (const Property& p : properties) {
      if (p.name == line.property) found = &p;
    }
    if (found == nullptr) {
      throw std::logic_error("no property " + std::string(line.property) + " for column " +
                             std::string(line.column));
    }
    columns.push_back({line.column, found->get});
  }
  return columns;
}

// Sets every mapped column of `row` from `record`, in order.
template <typename Record>
void SetColumns(RowEdit& row, const std::vector<ColumnSource<Record>>& columns,
                const Record& record) {
  row.Reserve(columns.size());
  for (const ColumnSource<Record>& c : columns) row.Set(std::string(c.column), c.get(record));
}

}  // namespace catalog_sync::db
