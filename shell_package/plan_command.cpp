// plan: the preview of an upgrade as text or JSON.
#include <algorithm>
#include <iostream>
#include <nlohmann/json.hpp>

#include "platform/core/files.h"
#include "platform/core/message_box.h"
#include "platform/history/digest.h"
#include "platform/history/report.h"
#include "platform/history/writer.h"
#include "shell_package/commands.h"
#include "shell_package/plan.h"

namespace shell_package {

namespace {

namespace engine = platform::engine;
using nlohmann::json;
using platform::history::FileDigest;

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

// The shell is the run's source: the change history names it by its size
// and SHA-256. None when there is no shell or it cannot be read (the
// plan's failure then says why).
std::optional<FileDigest> ShellDigest(const PlanReport& r) {
  if (r.shell.empty()) return std::nullopt;
  try {
    return platform::history::DigestFile(r.shell);
  } catch (const platform::Error&) {
    return std::nullopt;
  }
}

void PrintJson(const PlanReport& r, const std::optional<FileDigest>& digest) {
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
      {"shell_size", digest ? json(digest->size) : json(nullptr)},
      {"shell_sha256", digest ? json(digest->sha256) : json(nullptr)},
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

void PrintText(const PlanReport& r, const std::optional<FileDigest>& digest) {
  std::cout << "plan: Reshaper " << r.command_line << " on " << r.database;
  if (!r.shell.empty()) std::cout << " with " << r.shell;
  std::cout << '\n';
  if (digest) {
    std::cout << "shell: " << r.shell << ", " << digest->size << " bytes, SHA-256 "
              << digest->sha256 << '\n';
  }
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

// The plan as a proposed change in the change history's report, to be
// signed before the run: the header the run would write and every change
// as its record would hold it. Written only for a plan that would succeed.
bool WriteProposal(const std::string& html, const PlanReport& r) {
  try {
    platform::history::RunRecord record;
    record.header = platform::history::StartRun("Reshaper", r.command_line, r.database, r.shell);
    record.changes = r.history;
    platform::WriteFileAtomically(html, RenderReport(record, platform::history::ReportKind::kPlan));
    return true;
  } catch (const platform::Error& error) {
    ReportFailure(html + ": " + std::to_string(error.number()) + " " + error.description());
    platform::WriteDetails(error);
    return false;
  }
}

// The option `--html <file>` taken out of `args`; false when it lacks its
// file.
bool TakeHtml(Arguments& args, std::optional<std::string>& html) {
  const auto at = std::find(args.begin(), args.end(), "--html");
  if (at == args.end()) return true;
  if (at + 1 == args.end()) return false;
  html = *(at + 1);
  args.erase(at, at + 2);
  return true;
}

}  // namespace

int RunPlan(const Arguments& arguments, const Options& options) {
  Arguments args = arguments;
  std::optional<std::string> html;
  if (!TakeHtml(args, html) || args.size() != 3) return 2;
  const PlanReport report = PlanUpgrade(args[0], args[1], args[2]);
  const std::optional<FileDigest> digest = ShellDigest(report);
  options.json ? PrintJson(report, digest) : PrintText(report, digest);
  if (html && !report.failure && !WriteProposal(*html, report)) return 1;
  return report.failure ? 1 : 0;
}

}  // namespace shell_package
