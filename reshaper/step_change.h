// One change of an upgrade step, described before it is made, and the seam
// through which every change goes: a saved query replaced or added, a field
// added or removed, one default-data statement, the version stamp. A caller
// wraps a change there (its own transaction and a record of it); without a
// seam a step makes its changes directly.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "platform/history/record.h"

namespace reshaper {

struct StepChange {
  // The step's group in the change history: "QUERY", "STRUCTURE",
  // "DEFAULT DATA" or "VERSION".
  std::string group;
  // The change to the schema or the version stamp as the history records it
  // besides its rows (kind, object, SQL or definition or value before and
  // after); none for a default-data statement, which changes rows only.
  std::optional<platform::history::Change> schema;
  // A default-data statement: its position from 1 and its trimmed text;
  // 0 and "" for the other changes.
  std::size_t statement = 0;
  std::string sql;
};

// A change of the schema or the version stamp: `object`'s `column` goes from
// `before` to `after` (Value(): none, as for a query or field added).
inline StepChange SchemaChange(const std::string& group, platform::history::ChangeKind kind,
                               std::string object, std::string column, platform::Value before,
                               platform::Value after) {
  platform::history::Change change{group, kind, std::move(object), {}, {}};
  change.columns.push_back({std::move(column), std::move(before), std::move(after)});
  return {group, std::move(change), 0, ""};
}

using MakeChange = std::function<void()>;

// Makes `change` through `make`. A seam that wraps it calls `make` once and
// lets its failure pass, so that the step fails at the change as it would.
using ChangeSeam = std::function<void(const StepChange& change, const MakeChange& make)>;

inline void MakeThrough(const ChangeSeam& seam, const StepChange& change, const MakeChange& make) {
  if (seam) {
    seam(change, make);
  } else {
    make();
  }
}

}  // namespace reshaper
