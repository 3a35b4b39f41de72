// CompactTarget.
#include <sys/stat.h>

#include "platform/core/files.h"
#include "platform/engine/schema.h"
#include "reshaper/mod_procedures.h"
#include "reshaper/paths.h"

namespace reshaper {

namespace {

// Whatever lies at the scratch name goes; a folder there cannot and fails
// the step.
void DeleteScratch(const std::string& scratch) {
  struct stat st {};
  if (::lstat(scratch.c_str(), &st) == 0) platform::DeleteFile(scratch, /*force=*/true);
}

}  // namespace

bool CompactTarget(StepFailure* failure) {
  return TrapStepFailure("compaction", failure, [&](StepPosition& position) {
    const std::string target = TargetPath();
    const std::string scratch = ScratchPath();
    position = {{"database", target}, {"scratch file", scratch}};
    DeleteScratch(scratch);
    // In place, under SQLite's locks: a copy renamed over the target would
    // drop what other clients commit meanwhile and replace the file under
    // their open connections.
    platform::engine::CompactDatabase(target);
    DeleteScratch(scratch);
  });
}

}  // namespace reshaper
