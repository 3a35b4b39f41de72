// report: a run's printable report, for signing.
#include "change_history/commands.h"
#include "platform/core/files.h"
#include "platform/history/report.h"

namespace change_history {

int RunReport(Arguments args, const std::string& history) {
  const std::optional<std::string> html = TakeValue(args, "--html");
  const std::optional<std::int64_t> number = args.size() == 1 ? RunNumber(args[0]) : std::nullopt;
  if (!html || !number) return 2;
  return WithReader(history, [&](HistoryReader& reader) {
    const std::optional<platform::history::RunRecord> record = ReadRun(reader, history, *number);
    if (!record) return 1;
    const std::string page = RenderReport(*record, platform::history::ReportKind::kRun);
    try {
      platform::WriteFileAtomically(*html, page);
    } catch (const platform::Error& error) {
      ReportFailure(*html, error);
      return 1;
    }
    return 0;
  });
}

}  // namespace change_history
