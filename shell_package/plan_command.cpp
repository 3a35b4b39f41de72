// plan: the preview of an upgrade as text or JSON.
#include <iostream>
#include <nlohmann/json.hpp>

#include "shell_package/commands.h"
#include "shell_package/plan.h"

namespace shell_package {

namespace {

namespace engine = platform::engine;
using nlohmann::json;

const char* KindName(QueryChange::Kind kind) {
  switch (kind) {
    case QueryChange::Kind::kAdded: return "added";
    case QueryChange::Kind::kReplaced: return "replaced";
    case QueryChange::Kind::kDeleted: return "deleted";
  }
  return "";
}

const char* KindName(engine::RowChange::Kind kind) {
  switch (kind) {
    case engine::RowChange::Kind::kInserted: return "inserted";
    case engine::RowChange::Kind::kUpdated: return "updated";
    case engine::RowChange::Kind::kDeleted: return "deleted";
  }
  return "";
}

json ValueJson(const platform::Value& value) {
  if (value.IsNull() || value.IsEmpty()) return nullptr;
  if (value.kind() == platform::ValueKind::kText) return value.text();
  return value.ToDouble();
}

json ValuesJson(const std::vector<platform::Value>& values) {
  json list = json::array();
  for (const auto& v : values) list.push_back(ValueJson(v));
  return list;
}

json PropertiesJson(const engine::FieldProperties& p) {
  return {{"default_value", ValueJson(p.default_value)},
          {"required", p.required},
          {"allow_zero_length", p.allow_zero_length},
          {"validation_rule", p.validation_rule},
          {"validation_text", p.validation_text}};
}

json RowChangeJson(const engine::RowChange& c) {
  return {{"kind", KindName(c.kind)},
          {"table", c.table},
          {"rowid", c.rowid},
          {"columns", c.columns},
          {"old", ValuesJson(c.old_values)},
          {"new", ValuesJson(c.new_values)}};
}

json FailureJson(const PlanReport& report) {
  if (!report.failure) return nullptr;
  const FailureText text = DescribeFailure(*report.failure);
  json details = json::array();
  for (const auto& [what, value] : text.details)
    details.push_back({{"what", what}, {"value", value}});
  return {{"code", text.code ? json(*text.code) : json(nullptr)},
          {"message", text.message},
          {"details", details}};
}

void PrintJson(const PlanReport& r) {
  json queries = json::array();
  for (const auto& q : r.queries)
    queries.push_back({{"change", KindName(q.kind)}, {"name", q.name}, {"sql", q.sql}});
  json fields = json::array();
  for (const auto& f : r.fields) {
    fields.push_back({{"change", f.added ? "added" : "removed"},
                      {"table", f.table},
                      {"name", f.field.name},
                      {"type", f.field.declared_type},
                      {"properties", PropertiesJson(f.field.properties)}});
  }
  json statements = json::array();
  for (const auto& s : r.default_data) {
    json changes = json::array();
    for (const auto& c : s.changes) changes.push_back(RowChangeJson(c));
    statements.push_back({{"statement", s.statement},
                          {"sql", s.sql},
                          {"rows_changed", s.changes.size()},
                          {"rows_skipped", nullptr},
                          {"changes", changes}});
  }
  json version = nullptr;
  if (r.version) {
    version = {{"table", r.version->table},
               {"field", r.version->field},
               {"from", ValueJson(r.version->from)},
               {"to", ValueJson(r.version->to)}};
  }
  const json document = {
      {"command_line", r.command_line},
      {"database", r.database},
      {"shell", r.shell.empty() ? json(nullptr) : json(r.shell)},
      {"mode", r.mode.empty() ? json(nullptr) : json(r.mode)},
      {"outcome", r.failure ? "failure" : "success"},
      {"failure", FailureJson(r)},
      {"notes", r.notes},
      {"queries", queries},
      {"queries_without_view", r.queries_without_view},
      {"fields", fields},
      {"default_data", statements},
      {"version", version},
      {"size",
       {{"before", r.size_before ? json(*r.size_before) : json(nullptr)},
        {"after_compaction", r.size_after ? json(*r.size_after) : json(nullptr)}}}};
  std::cout << document.dump(2) << '\n';
}

std::string Joined(const std::vector<std::string>& columns,
                   const std::vector<platform::Value>& values) {
  std::string text;
  for (std::size_t i = 0; i < columns.size() && i < values.size(); ++i) {
    text += (i ? ", " : "") + columns[i] + "=" + values[i].Describe();
  }
  return text;
}

void PrintRowChange(const engine::RowChange& c) {
  std::cout << "    " << KindName(c.kind) << ' ' << c.table << " row " << c.rowid << ": ";
  if (c.kind == engine::RowChange::Kind::kUpdated) {
    for (std::size_t i = 0; i < c.columns.size(); ++i) {
      std::cout << (i ? ", " : "") << c.columns[i] << ' ' << c.old_values[i].Describe() << " -> "
                << c.new_values[i].Describe();
    }
  } else {
    std::cout << Joined(c.columns,
                        c.kind == engine::RowChange::Kind::kInserted ? c.new_values : c.old_values);
  }
  std::cout << '\n';
}

void PrintText(const PlanReport& r) {
  std::cout << "plan: Reshaper " << r.command_line << " on " << r.database;
  if (!r.shell.empty()) std::cout << " with " << r.shell;
  std::cout << '\n';
  for (const auto& note : r.notes) std::cout << "note: " << note << '\n';
  for (const auto& q : r.queries)
    std::cout << "query " << KindName(q.kind) << ": " << q.name << '\n';
  for (const auto& name : r.queries_without_view)
    std::cout << "query without view: " << name << '\n';
  for (const auto& f : r.fields) {
    const auto& p = f.field.properties;
    std::cout << "field " << (f.added ? "added" : "removed") << ": " << f.table << '.'
              << f.field.name << ' ' << f.field.declared_type;
    if (f.added) {
      std::cout << " default " << p.default_value.Describe() << ", required "
                << (p.required ? "yes" : "no") << ", zero length "
                << (p.allow_zero_length ? "allowed" : "refused");
      if (!p.validation_rule.empty()) std::cout << ", rule \"" << p.validation_rule << '"';
      if (!p.validation_text.empty()) std::cout << ", text \"" << p.validation_text << '"';
    }
    std::cout << '\n';
  }
  for (const auto& s : r.default_data) {
    std::cout << "default data " << s.statement << ": " << s.changes.size()
              << " rows changed, rows skipped not counted: " << s.sql << '\n';
    for (const auto& c : s.changes) PrintRowChange(c);
  }
  if (r.version) {
    std::cout << "version: " << r.version->table << '.' << r.version->field << ' '
              << r.version->from.Describe() << " -> " << r.version->to.Describe() << '\n';
  }
  if (r.size_before) {
    std::cout << "size: " << *r.size_before << " bytes";
    if (r.size_after) std::cout << ", " << *r.size_after << " bytes after compaction";
    std::cout << '\n';
  }
  if (!r.failure) {
    std::cout << "outcome: the run would succeed\n";
    return;
  }
  const FailureText text = DescribeFailure(*r.failure);
  std::cout << "outcome: the run would fail\nReshaper: " << text.message << '\n';
  for (const auto& [what, value] : text.details)
    std::cout << "detail: " << what << ": " << value << '\n';
}

}  // namespace

int RunPlan(const Arguments& args, const Options& options) {
  if (args.size() != 3) return 2;
  const PlanReport report = PlanUpgrade(args[0], args[1], args[2]);
  options.json ? PrintJson(report) : PrintText(report);
  return report.failure ? 1 : 0;
}

}  // namespace shell_package
