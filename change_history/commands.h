// The subcommands of ChangeHistory. Each takes the arguments after its name
// and the history's path, and returns the exit status: 0 done, 1 failed
// (told on stderr; for verify, the chain does not hold), 2 wrong usage.
#pragma once

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/error.h"
#include "platform/history/reader.h"

namespace change_history {

using Arguments = std::vector<std::string>;
using platform::history::HistoryReader;

// list [--json]: the runs, one line each.
int RunList(Arguments args, const std::string& history);
// show <run> [--json]: a run's whole record.
int RunShow(Arguments args, const std::string& history);
// verify [--json]: the chain of seals checked.
int RunVerify(Arguments args, const std::string& history);
// report <run> --html <file>: the run's printable report.
int RunReport(Arguments args, const std::string& history);

// Opens the history read-only and runs `command` on it; a platform::Error
// on the way is told by ReportFailure about the history, with status 1.
int WithReader(const std::string& history, const std::function<int(HistoryReader&)>& command);

// The record of run `number`; none, told on stderr, when there is no such
// run.
std::optional<platform::history::RunRecord> ReadRun(HistoryReader& reader,
                                                    const std::string& history,
                                                    std::int64_t number);

// "ChangeHistory: <file>: <number> <description>" and the error's detail
// lines on stderr.
void ReportFailure(const std::string& file, const platform::Error& error);

// The run number of a command line: a whole number from 1; none otherwise.
std::optional<std::int64_t> RunNumber(const std::string& text);

// Takes the option `name` out of `args`, wherever it stands; whether it was
// there.
bool TakeOption(Arguments& args, const std::string& name);
// Takes the option `name` and the value after it out of `args`; none when
// it is missing or has no value.
std::optional<std::string> TakeValue(Arguments& args, const std::string& name);

// The document on stdout, texts that are no UTF-8 with replacement marks.
void PrintJson(const nlohmann::ordered_json& document);

}  // namespace change_history
