// CompactTarget.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/core/error.h"
#include "platform/core/files.h"
#include "platform/core/unique_fd.h"
#include "platform/engine/schema.h"
#include "reshaper/journal.h"
#include "reshaper/mod_procedures.h"
#include "reshaper/paths.h"

namespace reshaper {

namespace {

[[noreturn]] void ThrowErrno(const std::string& operation, const std::string& path) {
  throw platform::ErrorFromErrno(errno, operation, path);
}

// Puts the closed, compacted `scratch` in the place of `target`: it gets the
// target's permissions and owner, is flushed, renamed over the target, and
// the folder is flushed, so a crash at any point leaves either the old or the
// new whole target. Renaming consumes the scratch file.
void ReplaceTargetWith(const std::string& scratch, const std::string& target) {
  struct stat old_stat {};
  if (::stat(target.c_str(), &old_stat) != 0) ThrowErrno("stat", target);
  platform::UniqueFd fd(::open(scratch.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) ThrowErrno("open", scratch);
  struct stat new_stat {};
  if (::fstat(fd.get(), &new_stat) != 0) ThrowErrno("stat", scratch);
  if ((new_stat.st_uid != old_stat.st_uid || new_stat.st_gid != old_stat.st_gid) &&
      ::fchown(fd.get(), old_stat.st_uid, old_stat.st_gid) != 0) {
    ThrowErrno("chown", scratch);
  }
  if (::fchmod(fd.get(), old_stat.st_mode & 07777) != 0) ThrowErrno("chmod", scratch);
  if (::fsync(fd.get()) != 0) ThrowErrno("fsync", scratch);
  if (fd.Close() != 0) ThrowErrno("close", scratch);
  if (::rename(scratch.c_str(), target.c_str()) != 0) ThrowErrno("rename", target);
  platform::SyncFolderOf(target);
}

}  // namespace

bool CompactTarget(StepFailure* failure) {
  return TrapStepFailure("compaction", failure, [&](StepPosition& position) {
    const std::string target = TargetPath();
    const std::string scratch = ScratchPath();
    position = {{"database", target}, {"scratch file", scratch}};
    if (platform::FileExists(scratch)) platform::DeleteFile(scratch, /*force=*/true);
    RollBackHotJournal(target);
    platform::engine::CompactDatabase(target, scratch);
    ReplaceTargetWith(scratch, target);
  });
}

}  // namespace reshaper
