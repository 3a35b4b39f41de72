#include "platform/history/record.h"

namespace platform::history {

const char* KindName(ChangeKind kind) {
  switch (kind) {
    case ChangeKind::kInsert: return "insert";
    case ChangeKind::kUpdate: return "update";
    case ChangeKind::kDelete: return "delete";
    case ChangeKind::kQueryAdded: return "query added";
    case ChangeKind::kQueryReplaced: return "query replaced";
    case ChangeKind::kFieldAdded: return "field added";
    case ChangeKind::kFieldRemoved: return "field removed";
    case ChangeKind::kVersion: return "version";
    case ChangeKind::kCompaction: return "compaction";
  }
  return "change";
}

}  // namespace platform::history
