// list and show: the runs of a history and a run's whole record, as text or
// JSON.
#include <cmath>
#include <iostream>

#include "change_history/commands.h"

namespace change_history {

namespace {

using nlohmann::ordered_json;
using platform::history::Change;
using platform::history::RunEnd;
using platform::history::RunHeader;
using platform::history::RunRecord;
using platform::history::RunSummary;
using platform::history::Seal;

std::string Outcome(const std::optional<RunEnd>& end) {
  if (!end) return "unfinished";
  if (end->succeeded) return "succeeded";
  return "failed (exit status " + std::to_string(end->exit_status) + ")";
}

std::string UserText(const RunHeader& h) {
  return h.sudo_user.empty() ? h.user : h.user + " (sudo " + h.sudo_user + ")";
}

// A value with its type: "\"GLU\" (Text)", "3 (Long)", "Null"; Empty (no
// value: before an insert, after a delete) is a dash.
std::string ValueText(const platform::Value& value) {
  if (value.IsEmpty()) return "\u2014";
  if (value.IsNull()) return "Null";
  return value.Describe() + " (" + platform::KindName(value.kind()) + ")";
}

std::string ChangeText(const Change& change) {
  std::string text = std::string("  ") + platform::history::KindName(change.kind) + " " +
                     change.object + (change.key.empty() ? "" : " " + change.key) + "\n";
  for (const auto& c : change.columns) {
    text += "    " + c.column + ": " + ValueText(c.before) + " \u2192 " + ValueText(c.after) + "\n";
  }
  return text;
}

void PrintRecord(const RunRecord& r) {
  const RunHeader& h = r.header;
  std::cout << "run " << r.number << ": " << h.program << ' ' << h.version << ' ' << h.command_line
            << "\nstarted: " << h.started_utc << " (local offset " << h.utc_offset << ") by "
            << UserText(h) << " on " << h.host << "\ndatabase: " << h.database << '\n';
  if (!h.source.empty()) {
    std::cout << "source: " << h.source << ", " << h.source_size << " bytes, SHA-256 "
              << h.source_sha256 << '\n';
  }
  const std::optional<RunEnd> end =
      r.seal ? std::optional<RunEnd>(r.seal->end) : std::optional<RunEnd>();
  std::cout << "outcome: " << Outcome(end);
  if (end) std::cout << ", ended " << end->ended_utc;
  std::cout << '\n' << (end ? end->message : "");
  if (r.seal) {
    std::cout << "seal " << r.seal->sequence << ": " << r.seal->hash << " (previous "
              << r.seal->previous_hash << ")\n";
  }
  std::cout << "changes: " << r.changes.size() << '\n';
  // A heading each time the group changes, so that changes keep their order.
  for (std::size_t i = 0; i < r.changes.size(); ++i) {
    if (i == 0 || r.changes[i].group != r.changes[i - 1].group) {
      std::cout << r.changes[i].group << ":\n";
    }
    std::cout << ChangeText(r.changes[i]);
  }
}

// --- JSON --------------------------------------------------------------------

ordered_json HeaderJson(const RunHeader& h) {
  return {{"program", h.program},
          {"version", h.version},
          {"command_line", h.command_line},
          {"started_utc", h.started_utc},
          {"utc_offset", h.utc_offset},
          {"user", h.user},
          {"sudo_user", h.sudo_user.empty() ? ordered_json(nullptr) : ordered_json(h.sudo_user)},
          {"host", h.host},
          {"database", h.database},
          {"source", h.source.empty() ? ordered_json(nullptr)
                                      : ordered_json{{"path", h.source},
                                                     {"size", h.source_size},
                                                     {"sha256", h.source_sha256}}}};
}

ordered_json EndJson(const std::optional<RunEnd>& end) {
  if (!end) return nullptr;
  return {{"ended_utc", end->ended_utc},
          {"succeeded", end->succeeded},
          {"exit_status", end->exit_status},
          {"message", end->message}};
}

// {"type": "Long", "value": 3}; null for Empty (no value).
ordered_json ValueJson(const platform::Value& v) {
  if (v.IsEmpty()) return nullptr;
  ordered_json value;
  switch (v.kind()) {
    case platform::ValueKind::kNull: value = nullptr; break;
    case platform::ValueKind::kText: value = v.text(); break;
    case platform::ValueKind::kBoolean: value = v.boolean(); break;
    case platform::ValueKind::kSingle:
    case platform::ValueKind::kDouble:
      value = std::isfinite(v.ToDouble()) ? ordered_json(v.ToDouble()) : ordered_json(v.ToText());
      break;
    case platform::ValueKind::kError: value = v.Describe(); break;
    default: value = v.ToLong();
  }
  return {{"type", platform::KindName(v.kind())}, {"value", std::move(value)}};
}

ordered_json ChangeJson(const Change& change) {
  ordered_json columns = ordered_json::array();
  for (const auto& c : change.columns) {
    columns.push_back(
        {{"column", c.column}, {"before", ValueJson(c.before)}, {"after", ValueJson(c.after)}});
  }
  return {{"group", change.group},
          {"kind", platform::history::KindName(change.kind)},
          {"object", change.object},
          {"key", change.key},
          {"columns", std::move(columns)}};
}

ordered_json RecordJson(const RunRecord& r) {
  ordered_json seal = nullptr;
  if (r.seal) {
    seal = {{"sequence", r.seal->sequence},
            {"end", EndJson(r.seal->end)},
            {"previous_hash", r.seal->previous_hash},
            {"hash", r.seal->hash}};
  }
  ordered_json changes = ordered_json::array();
  for (const Change& change : r.changes) changes.push_back(ChangeJson(change));
  return {{"number", r.number},
          {"header", HeaderJson(r.header)},
          {"seal", std::move(seal)},
          {"changes", std::move(changes)}};
}

}  // namespace

int RunList(Arguments args, const std::string& history) {
  const bool json = TakeOption(args, "--json");
  if (!args.empty()) return 2;
  return WithReader(history, [&](HistoryReader& reader) {
    const std::vector<RunSummary> runs = reader.List();
    if (json) {
      ordered_json list = ordered_json::array();
      for (const RunSummary& run : runs) {
        list.push_back({{"number", run.number},
                        {"header", HeaderJson(run.header)},
                        {"end", EndJson(run.end)},
                        {"changes", run.changes}});
      }
      PrintJson({{"history", history}, {"runs", std::move(list)}});
      return 0;
    }
    for (const RunSummary& run : runs) {
      const RunHeader& h = run.header;
      std::cout << run.number << "  " << h.started_utc << "  " << h.program << ' ' << h.command_line
                << "  " << Outcome(run.end) << "  " << run.changes
                << (run.changes == 1 ? " change" : " changes") << "  " << UserText(h) << '\n';
    }
    return 0;
  });
}

int RunShow(Arguments args, const std::string& history) {
  const bool json = TakeOption(args, "--json");
  const std::optional<std::int64_t> number = args.size() == 1 ? RunNumber(args[0]) : std::nullopt;
  if (!number) return 2;
  return WithReader(history, [&](HistoryReader& reader) {
    const std::optional<RunRecord> record = ReadRun(reader, history, *number);
    if (!record) return 1;
    json ? PrintJson(RecordJson(*record)) : PrintRecord(*record);
    return 0;
  });
}

}  // namespace change_history
