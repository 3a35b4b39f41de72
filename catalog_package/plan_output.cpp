#include "catalog_package/plan_output.h"

#include <cmath>
#include <string_view>

namespace catalog_package {

namespace {

using Outcome = AssayPlan::Outcome;
using Kind = RowChange::Kind;
using nlohmann::ordered_json;

const char* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::kSkippedTestNumberZero:
    case Outcome::kSkippedUnknownMode: return "skipped";
    case Outcome::kDeleted:
    case Outcome::kKitsOnly:
    case Outcome::kNothingToDelete: return "deleted";
    case Outcome::kAdded: return "added";
    case Outcome::kUpdated: return "updated";
  }
  return "";
}

// Why an assay was skipped, or what a DELETE found; empty otherwise.
std::string Reason(const AssayPlan& assay) {
  switch (assay.outcome) {
    case Outcome::kSkippedTestNumberZero: return "test number 0";
    case Outcome::kSkippedUnknownMode: return "unknown mode";
    case Outcome::kKitsOnly: return "name does not match, kits only";
    case Outcome::kNothingToDelete: return "no such test";
    default: return "";
  }
}

const char* PartVerb(Kind kind) {
  switch (kind) {
    case Kind::kInserted: return "added";
    case Kind::kUpdated: return "overwritten";
    case Kind::kDeleted: return "deleted";
  }
  return "";
}

const char* RangeVerb(const RowChange* range) {
  if (!range) return "kept";
  return range->kind == Kind::kInserted ? "added" : "updated";
}

const char* KindName(Kind kind) {
  switch (kind) {
    case Kind::kInserted: return "inserted";
    case Kind::kUpdated: return "updated";
    case Kind::kDeleted: return "deleted";
  }
  return "";
}

// --- Text --------------------------------------------------------------------

// An inserted row as "column value" pairs (nulls left out), wrapped to
// lines of about kWidth characters.
void AppendInsertedRow(std::string& out, const RowChange& change, std::string_view indent) {
  constexpr std::size_t kWidth = 96;
  std::size_t line = 0;  // the size of the line's items so far, without its indent
  std::string value;
  for (std::size_t i = 0; i < change.columns.size(); ++i) {
    if (change.new_values[i].IsNull()) continue;
    value = change.new_values[i].Describe();
    const std::size_t item = change.columns[i].size() + 1 + value.size();
    if (line != 0 && indent.size() + line + item + 2 > kWidth) {
      out += ",\n";
      line = 0;
    }
    if (line == 0) {
      out.append(indent);
    } else {
      out += ", ";
      line += 2;
    }
    out.append(change.columns[i]).append(1, ' ').append(value);
    line += item;
  }
  if (line != 0) out += '\n';
}

// An update as "column: old → new", one line each; nothing for a deleted
// row.
void AppendColumns(std::string& out, const RowChange& change, std::string_view indent) {
  if (change.kind == Kind::kInserted) return AppendInsertedRow(out, change, indent);
  if (change.kind == Kind::kDeleted) return;
  for (std::size_t i = 0; i < change.columns.size(); ++i) {
    out.append(indent).append(change.columns[i]).append(": ");
    out.append(change.old_values[i].Describe()).append(" \u2192 ");
    out.append(change.new_values[i].Describe()).append(1, '\n');
  }
}

std::string Heading(const AssayPlan& assay) {
  const catalog_sync::AssayVisit& v = assay.visit;
  std::string out = "assay " + std::to_string(v.nPosition) + ": test " +
                    std::to_string(v.nTestNumber) + ", mode " +
                    (v.sMode.empty() ? "(empty)" : v.sMode) + ": " + OutcomeName(assay.outcome);
  if (const std::string reason = Reason(assay); !reason.empty()) out += " (" + reason + ")";
  return out + '\n';
}

void AppendDeletion(std::string& out, const AssayPlan& assay) {
  if (assay.removed.empty()) return;
  out += "  rows removed:";
  for (const auto& [table, count] : assay.removed) {
    out += " " + table + " " + std::to_string(count);
  }
  out += '\n';
}

void AppendAddModify(std::string& out, const AssayPlan& assay) {
  if (assay.test_row) {
    AppendColumns(out, *assay.test_row, "  ");
  } else {
    out += "  Tests row unchanged\n";
  }
  for (const PartChange& part : assay.parts) {
    out.append("  part ").append(std::to_string(part.part)).append(1, ' ');
    out.append(PartVerb(part.change->kind)).append(1, '\n');
    AppendColumns(out, *part.change, "    ");
  }
  out += std::string("  normal range ") + RangeVerb(assay.range) + '\n';
  if (assay.range) AppendColumns(out, *assay.range, "    ");
}

std::string SummaryLine(const CatalogPlan& plan) {
  const PlanSummary& s = plan.summary;
  std::string out = "summary: " + std::to_string(s.added) + " added, " + std::to_string(s.updated) +
                    " updated, " + std::to_string(s.deleted) + " deleted, " +
                    std::to_string(s.skipped) + " skipped";
  if (plan.failure) {
    out += "; the run would fail";
    if (plan.failed_position) out += " at assay " + std::to_string(*plan.failed_position);
    out += " and leave the database as it was";
  }
  return out + '\n';
}

// --- JSON ----------------------------------------------------------------------

ordered_json ValueJson(const platform::Value& v) {
  switch (v.kind()) {
    case platform::ValueKind::kEmpty:
    case platform::ValueKind::kNull: return nullptr;
    case platform::ValueKind::kText: return v.text();
    case platform::ValueKind::kDouble:
    case platform::ValueKind::kSingle: {
      const double d = v.ToDouble();
      if (!std::isfinite(d)) return v.ToText();
      return d;
    }
    case platform::ValueKind::kBoolean: return v.boolean();
    default: return v.ToLong();
  }
}

// {"column": {"old": .., "new": ..}}, "old" left out for an insert, "new"
// for a delete.
ordered_json ColumnsJson(const RowChange& change) {
  ordered_json columns = ordered_json::object();
  for (std::size_t i = 0; i < change.columns.size(); ++i) {
    ordered_json column = ordered_json::object();
    if (change.kind != Kind::kInserted) column["old"] = ValueJson(change.old_values[i]);
    if (change.kind != Kind::kDeleted) column["new"] = ValueJson(change.new_values[i]);
    columns[change.columns[i]] = std::move(column);
  }
  return columns;
}

ordered_json ChangeJson(const RowChange& change) {
  return {{"table", change.table},
          {"rowid", change.rowid},
          {"kind", KindName(change.kind)},
          {"columns", ColumnsJson(change)}};
}

void AddAddModifyJson(ordered_json& out, const AssayPlan& assay) {
  out["tests_row"] = assay.test_row ? ColumnsJson(*assay.test_row) : ordered_json::object();
  ordered_json parts = ordered_json::array();
  for (const PartChange& part : assay.parts) {
    parts.push_back({{"part", part.part},
                     {"change", PartVerb(part.change->kind)},
                     {"columns", ColumnsJson(*part.change)}});
  }
  out["parts"] = std::move(parts);
  out["range"] = {{"change", RangeVerb(assay.range)},
                  {"columns", assay.range ? ColumnsJson(*assay.range) : ordered_json::object()}};
}

}  // namespace

ordered_json AssayJson(const AssayPlan& assay) {
  const catalog_sync::AssayVisit& v = assay.visit;
  ordered_json out = {{"position", v.nPosition},
                      {"test", v.nTestNumber},
                      {"mode", v.sMode},
                      {"name", v.sTestName},
                      {"outcome", OutcomeName(assay.outcome)}};
  const std::string reason = Reason(assay);
  out["reason"] = reason.empty() ? ordered_json(nullptr) : ordered_json(reason);
  if (v.action == catalog_sync::AssayAction::kDeleted) {
    ordered_json removed = ordered_json::object();
    for (const auto& [table, count] : assay.removed) removed[table] = count;
    out["removed"] = std::move(removed);
  }
  if (v.action == catalog_sync::AssayAction::kAddedOrModified) AddAddModifyJson(out, assay);
  ordered_json changes = ordered_json::array();
  for (const RowChange& change : assay.changes) changes.push_back(ChangeJson(change));
  out["changes"] = std::move(changes);
  return out;
}

namespace {

ordered_json FailureJson(const CatalogPlan& plan) {
  if (!plan.failure) return nullptr;
  ordered_json details = ordered_json::array();
  for (const auto& [what, value] : plan.failure->details) {
    details.push_back({{"what", what}, {"value", value}});
  }
  return {{"title", plan.failure->title},
          {"prompt", plan.failure->prompt},
          {"details", std::move(details)},
          {"text", platform::BoxText(*plan.failure)},
          {"position",
           plan.failed_position ? ordered_json(*plan.failed_position) : ordered_json(nullptr)}};
}

}  // namespace

std::string AssayText(const AssayPlan& assay) {
  std::string out = Heading(assay);
  if (assay.visit.action == catalog_sync::AssayAction::kDeleted) AppendDeletion(out, assay);
  if (assay.visit.action == catalog_sync::AssayAction::kAddedOrModified) {
    AppendAddModify(out, assay);
  }
  return out;
}

std::string SourceText(const std::string& source, const std::optional<FileDigest>& digest) {
  if (!digest) return "";
  return "source: " + source + ", " + std::to_string(digest->size) + " bytes, SHA-256 " +
         digest->sha256 + '\n';
}

std::string EndText(const CatalogPlan& plan) {
  std::string out;
  if (plan.failure) out += platform::BoxText(*plan.failure);
  return out + SummaryLine(plan);
}

ordered_json PlanJson(const CatalogPlan& plan, ordered_json assays, const std::string& source,
                      const std::optional<FileDigest>& digest, const std::string& database) {
  const PlanSummary& s = plan.summary;
  return {{"source", source},
          {"source_size", digest ? ordered_json(digest->size) : ordered_json(nullptr)},
          {"source_sha256", digest ? ordered_json(digest->sha256) : ordered_json(nullptr)},
          {"database", database},
          {"run", plan.keyword.empty() ? ordered_json(nullptr) : ordered_json(plan.keyword)},
          {"succeeds", !plan.failure},
          {"assays", std::move(assays)},
          {"failure", FailureJson(plan)},
          {"summary",
           {{"added", s.added},
            {"updated", s.updated},
            {"deleted", s.deleted},
            {"skipped", s.skipped}}}};
}

}  // namespace catalog_package
