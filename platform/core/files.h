// The file operations of the original platform, on Linux.
//
// Fixed paths of the system are written as on the analyser ("C:\..."); the
// folder that stands for "C:\" is $SYSTEM_DRIVE ("/" when unset or empty).
// Every failure throws platform::Error with the platform's number ("File not
// found" 53, "Permission denied" 70, "Path not found" 76, "Disk full" 61,
// "Device I/O error" 57) and the path as a detail.
//
// Read-only means the owner lacks the write bit; the programs often run as
// root, for whom the kernel ignores permission bits, so the rule is checked
// here from the mode bits.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/core/unique_fd.h"

namespace platform {

// "C:\Corvista1000\Logs\QVRInstall.log" -> "$SYSTEM_DRIVE/Corvista1000/Logs/
// QVRInstall.log". A path that does not start with "C:\" is returned with
// '\' turned into '/'.
std::string SystemPath(std::string_view fixed_path);

// Folder of the running executable (symbolic links resolved), without a
// trailing separator, and its file name without the last extension.
std::string ProgramFolder();
std::string ProgramBaseName();

bool FileExists(const std::string& path);
// Whether anything but a folder sits at the name itself, a dangling
// symbolic link included (FileExists follows links).
bool EntryExists(const std::string& path);
bool IsReadOnly(const std::string& path);  // false when the file is missing

// Replaces `destination` with a copy of `source` (a regular file), also a
// read-only one. The copy is written beside the destination under a fixed
// temporary name, flushed, given the old destination's permissions, and
// renamed over it, so the destination is always either the old or the new
// whole file. Whatever lies at the temporary name is removed, never written
// through: the file written is always one created for this copy.
void CopyFileOver(const std::string& source, const std::string& destination);

// Plain delete refuses a read-only file with "Permission denied"; forced
// delete deletes it all the same. A missing file is "File not found".
void DeleteFile(const std::string& path, bool force);

// Creates (or truncates) an empty regular file at `path` and flushes it and
// its folder; a link or special file at the name is replaced, not followed.
void CreateEmptyFile(const std::string& path);

// Replaces `path` with `bytes` as CopyFileOver does: temporary file beside
// it, fsync, rename over (a read-only old file is replaced too), fsync of
// the folder. A failure leaves the old file as it was. When `path` is a
// symbolic link, the file it resolves to is replaced, in that file's folder,
// and the link stays; a link to anything but a regular file is refused with
// "Device I/O error" and the file left as it is.
void WriteFileAtomically(const std::string& path, std::string_view bytes);

// The whole content of a file.
std::string ReadWholeFile(const std::string& path);

// `path` opened for reading; throws the platform error of open(2) with the
// path ("File not found" for a missing file, ...). Anything but a regular
// file (a FIFO, a device, a folder) is refused with "Device I/O error" and a
// detail that says what it is, before any read and without blocking.
UniqueFd OpenForReading(const std::string& path);

// The size of an open file: a size checked on the descriptor holds for the
// file that is read, whatever the name names now.
std::uint64_t SizeOf(const UniqueFd& fd, const std::string& path);
// Appends to `out` at most `limit` bytes from the file's current offset:
// fewer only at the end of the file. A file that another program keeps
// growing is cut at the limit instead of being read for as long as it grows.
void ReadUpTo(const UniqueFd& fd, const std::string& path, std::size_t limit, std::string& out);

// Appends `line` to the file with one write(2) on an O_APPEND descriptor and
// fsyncs it (and its folder when the file was created), so that a power cut
// keeps every line written; the file is created when missing, its folder
// never is. Refuses a read-only file, a symbolic link at `path` and anything
// but a regular file.
void AppendToFile(const std::string& path, std::string_view bytes);

// Gives the owner the write bit, keeping the other bits.
void SetAttributesNormal(const std::string& path);

// fsync of a file, and of the folder that holds a path.
void SyncFile(const std::string& path);
void SyncFolderOf(const std::string& path);

// The folder part of a path ("." when there is none), and the file name.
std::string FolderOf(const std::string& path);
std::string FileNameOf(const std::string& path);

}  // namespace platform
