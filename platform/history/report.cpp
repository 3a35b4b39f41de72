#include "platform/history/report.h"

#include <algorithm>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform::history {

namespace {

// Printed on A4 by a browser: the headers of a table repeat on each page and
// no row is split between two pages unless it is taller than a page. Long
// words (hashes, paths, SQL) wrap anywhere so that no table runs off the
// paper. Nothing refers to a file or address outside the page.
constexpr const char* kStyle = R"css(
@page { size: A4; margin: 15mm 12mm 18mm 12mm; }
body { font-family: sans-serif; font-size: 10pt; color: #000; margin: 0 auto; max-width: 190mm; }
h1 { font-size: 15pt; margin: 0 0 3mm; }
h2 { font-size: 12pt; margin: 6mm 0 2mm; break-after: avoid; }
h3 { font-size: 10.5pt; margin: 4mm 0 1mm; break-after: avoid; }
.proposed { border: 2px solid #000; padding: 2mm 3mm; font-weight: bold; margin: 0 0 3mm; }
table { border-collapse: collapse; width: 100%; }
thead { display: table-header-group; }
tr { break-inside: avoid; page-break-inside: avoid; }
th, td { border: 1px solid #777; padding: 1mm 1.5mm; text-align: left; vertical-align: top;
         overflow-wrap: anywhere; }
th { background: #eee; }
.facts th { width: 32mm; }
.changes, .values { table-layout: fixed; }
.changes { font-size: 9pt; }
.changes th:nth-child(1) { width: 18%; }
.changes th:nth-child(2) { width: 13%; }
.changes th:nth-child(3) { width: 9%; }
.values, .values td { border: none; padding: 0 1mm 0 0; }
.values td.column { width: 32%; }
.values td.arrow { width: 4mm; }
pre, .text { white-space: pre-wrap; font-family: monospace; font-size: 8.5pt; margin: 0; }
.type { font-size: 7pt; color: #555; margin-left: 1mm; }
.signature { border: 1px solid #777; padding: 2mm 3mm; margin: 0 0 4mm; break-inside: avoid; }
.signature .line { border-bottom: 1px solid #000; height: 8mm; margin: 1mm 0 0; }
.signature .line span { font-size: 8pt; color: #555; }
@media print { body { max-width: none; } }
)css";

std::string Escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

// A header line whose value is already markup.
std::string FactRow(std::string_view name, const std::string& value_html) {
  return "<tr><th>" + Escape(name) + "</th><td>" + value_html + "</td></tr>\n";
}

std::string Code(const std::string& text) {
  return "<span class=\"text\">" + Escape(text) + "</span>";
}

std::string OrDash(const std::string& text) {
  return text.empty() ? "\u2014" : Escape(text);
}

std::string SourceHtml(const RunHeader& h) {
  if (h.source.empty()) return "\u2014";
  return Code(h.source) + "<br>" + std::to_string(h.source_size) + " bytes, SHA-256 " +
         Code(h.source_sha256);
}

std::string OutcomeHtml(const std::optional<Seal>& seal) {
  if (!seal) return "<b>unfinished</b>: the run has no seal (it did not end)";
  const RunEnd& end = seal->end;
  std::string html = std::string("<b>") + (end.succeeded ? "succeeded" : "failed") +
                     "</b>, exit status " + std::to_string(end.exit_status) + ", ended " +
                     Escape(end.ended_utc);
  if (!end.message.empty()) html += "<pre>" + Escape(end.message) + "</pre>";
  return html;
}

std::string ChainHtml(const Seal& seal) {
  return "seal " + std::to_string(seal.sequence) + ": " + Code(seal.hash) +
         "<br>previous: " + Code(seal.previous_hash);
}

std::string HeaderBlock(const RunRecord& record, ReportKind kind) {
  const RunHeader& h = record.header;
  std::string html = "<table class=\"facts\">\n";
  html += FactRow("Analyser database", Code(h.database));
  html += FactRow("Host", OrDash(h.host));
  html += FactRow("User", OrDash(h.user));
  html += FactRow("Sudo user", OrDash(h.sudo_user));
  html += FactRow(kind == ReportKind::kRun ? "Started" : "Prepared",
                  Escape(h.started_utc) + " (local offset " + Escape(h.utc_offset) + ")");
  html += FactRow("Program", Escape(h.program) + " " + Escape(h.version));
  html += FactRow("Command line", Code(h.command_line));
  html += FactRow("Source", SourceHtml(h));
  if (kind == ReportKind::kRun) {
    html += FactRow("Outcome", OutcomeHtml(record.seal));
    if (record.seal) html += FactRow("Chain hash", ChainHtml(*record.seal));
  }
  return html + "</table>\n";
}

// A value and, in small print beside it, its type; Empty (no value) is a
// dash.
std::string ValueHtml(const Value& value) {
  if (value.IsEmpty()) return "\u2014";
  if (value.IsNull()) return "<i>Null</i>";
  const std::string text = value.kind() == ValueKind::kText ? value.text() : value.Describe();
  return "<span class=\"text\">" + Escape(text) + "</span><span class=\"type\">" +
         Escape(platform::KindName(value.kind())) + "</span>";
}

std::string ValuesHtml(const std::vector<ColumnChange>& columns) {
  std::string html = "<table class=\"values\">";
  for (const ColumnChange& c : columns) {
    html += "<tr><td class=\"column\">" + Escape(c.column) + "</td><td>" + ValueHtml(c.before) +
            "</td><td class=\"arrow\">\u2192</td><td>" + ValueHtml(c.after) + "</td></tr>";
  }
  return html + "</table>";
}

// One row per change, so that a change is never split between pages.
std::string ChangeRow(const Change& change) {
  return "<tr><td>" + Escape(change.object) + "</td><td>" + Escape(change.key) + "</td><td>" +
         KindName(change.kind) + "</td><td>" + ValuesHtml(change.columns) + "</td></tr>\n";
}

std::string GroupTable(std::span<const Change> changes) {
  std::string html = "<h3>" + Escape(changes.front().group) + " (" +
                     std::to_string(changes.size()) +
                     (changes.size() == 1 ? " change" : " changes") + ")</h3>\n" +
                     "<table class=\"changes\"><thead><tr><th>Object</th><th>Key</th>"
                     "<th>Kind</th><th>Column: before \u2192 after</th></tr></thead><tbody>\n";
  for (const Change& change : changes) html += ChangeRow(change);
  return html + "</tbody></table>\n";
}

// The changes in the order they were made, a table for each run of changes
// of one group.
std::string ChangesBlock(const std::vector<Change>& changes) {
  std::string html = "<h2>Changes (" + std::to_string(changes.size()) + ")</h2>\n";
  if (changes.empty()) html += "<p>No change.</p>\n";
  for (auto first = changes.begin(); first != changes.end();) {
    const auto end = std::find_if(
        first, changes.end(), [&](const Change& change) { return change.group != first->group; });
    html += GroupTable({first, end});
    first = end;
  }
  return html;
}

std::string SignatureBlock(std::string_view role, std::string_view meaning) {
  std::string html = "<div class=\"signature\"><b>" + Escape(role) + "</b>";
  for (const char* line : {"Name", "Signature", "Date"}) {
    html += std::string("<div class=\"line\"><span>") + line + "</span></div>";
  }
  return html + "<p>Meaning of signature: " + Escape(meaning) + "</p></div>\n";
}

std::string SignatureBlocks(ReportKind kind) {
  const bool plan = kind == ReportKind::kPlan;
  return "<h2>Signatures</h2>\n" +
         SignatureBlock("Prepared by", plan ? "I prepared this plan of the change."
                                            : "I prepared this record of the run.") +
         SignatureBlock("Reviewed by", plan ? "I reviewed the proposed changes listed above."
                                            : "I reviewed the changes listed above.") +
         SignatureBlock("Approved by", plan ? "I approve that the run makes these changes."
                                            : "I approve the changes listed above.");
}

std::string Title(const RunRecord& record, ReportKind kind) {
  if (kind == ReportKind::kPlan) return "Proposed change: " + record.header.program;
  return "Change record: " + record.header.program + " run " + std::to_string(record.number);
}

}  // namespace

std::string RenderReport(const RunRecord& record, ReportKind kind) {
  const std::string title = Escape(Title(record, kind));
  std::string html =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" + title +
      "</title>\n<style>" + kStyle + "</style>\n</head>\n<body>\n<h1>" + title + "</h1>\n";
  if (kind == ReportKind::kPlan) {
    html +=
        "<p class=\"proposed\">A proposed change: a plan of what the run would do, not a run. "
        "To be signed before the run; its record names the same source by its SHA-256.</p>\n";
  }
  html += HeaderBlock(record, kind) + ChangesBlock(record.changes) + SignatureBlocks(kind);
  return html + "</body>\n</html>\n";
}

}  // namespace platform::history
