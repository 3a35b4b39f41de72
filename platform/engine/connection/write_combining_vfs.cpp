#include "platform/engine/connection/write_combining_vfs.h"

#include <sqlite3.h>

#include <algorithm>
#include <mutex>
#include <new>
#include <vector>

namespace platform::engine::internal {

namespace {

// The default VFS writes at most 128 KiB - 1 bytes a call (it masks the size
// to 17 bits and answers SQLITE_FULL for the rest), so no more is held.
constexpr std::size_t kHeldBytesLimit = 96 * 1024;

// A file of this VFS: its own part, then the default VFS's file.
struct CombiningFile {
  sqlite3_file base{};  // first: SQLite sees a CombiningFile as a sqlite3_file
  sqlite3_file* real = nullptr;
  sqlite3_int64 held_offset = 0;  // where the held bytes belong
  std::vector<char> held;         // written to `real` yet
};

CombiningFile* Ours(sqlite3_file* file) {
  return reinterpret_cast<CombiningFile*>(file);
}

sqlite3_file* RealOf(sqlite3_file* file) {
  return Ours(file)->real;
}

// The files that hold bytes, for the calls that write out every file's.
// SQLite may use connections from several threads, so the list and every
// file's held bytes are guarded by one mutex.
std::mutex held_mutex;
std::vector<CombiningFile*> files_holding;

// REQUIRES: held_mutex.
int WriteOut(CombiningFile* file) {
  if (file->held.empty()) return SQLITE_OK;
  const int rc = file->real->pMethods->xWrite(
      file->real, file->held.data(), static_cast<int>(file->held.size()), file->held_offset);
  file->held.clear();
  std::erase(files_holding, file);
  return rc;
}

// REQUIRES: held_mutex.
int WriteOutAll() {
  int result = SQLITE_OK;
  while (!files_holding.empty()) {
    const int rc = WriteOut(files_holding.back());
    if (result == SQLITE_OK) result = rc;
  }
  return result;
}

// Holds a write that continues the file's held bytes, or starts them when
// none are held. False when it does neither.
// REQUIRES: held_mutex.
bool Hold(CombiningFile* file, const void* data, int size, sqlite3_int64 offset) {
  const auto bytes = static_cast<std::size_t>(size);
  if (file->held.empty()) {
    if (bytes >= kHeldBytesLimit) return false;
    file->held.reserve(kHeldBytesLimit);
    file->held_offset = offset;
    files_holding.push_back(file);
  } else if (offset != file->held_offset + static_cast<sqlite3_int64>(file->held.size()) ||
             file->held.size() + bytes > kHeldBytesLimit) {
    return false;
  }
  const char* begin = static_cast<const char*>(data);
  file->held.insert(file->held.end(), begin, begin + size);
  return true;
}

// Runs `call` once the bytes held for `file` are written out; a failure to
// write them is the call's failure.
template <typename Call>
int AfterWriteOut(sqlite3_file* file, Call call) {
  {
    const std::lock_guard<std::mutex> lock(held_mutex);
    if (const int rc = WriteOut(Ours(file)); rc != SQLITE_OK) return rc;
  }
  return call();
}

// The same for a call that reads `size` bytes at `offset`: bytes held
// elsewhere in the file stay held.
template <typename Call>
int AfterWriteOutOf(sqlite3_file* file, sqlite3_int64 offset, int size, Call call) {
  {
    const std::lock_guard<std::mutex> lock(held_mutex);
    const CombiningFile* ours = Ours(file);
    const sqlite3_int64 held_end =
        ours->held_offset + static_cast<sqlite3_int64>(ours->held.size());
    if (offset < held_end && ours->held_offset < offset + size) {
      if (const int rc = WriteOut(Ours(file)); rc != SQLITE_OK) return rc;
    }
  }
  return call();
}

// The same once every file's held bytes are written out.
template <typename Call>
int AfterWriteOutAll(Call call) {
  {
    const std::lock_guard<std::mutex> lock(held_mutex);
    if (const int rc = WriteOutAll(); rc != SQLITE_OK) return rc;
  }
  return call();
}

sqlite3_vfs* default_vfs = nullptr;
sqlite3_vfs combining_vfs;
sqlite3_io_methods methods[4];  // by the default VFS's files' iVersion

int Close(sqlite3_file* file) {
  const int written = AfterWriteOut(file, [] { return SQLITE_OK; });
  sqlite3_file* real = RealOf(file);
  const int rc = real->pMethods->xClose(real);
  Ours(file)->~CombiningFile();
  return written != SQLITE_OK ? written : rc;
}

int Read(sqlite3_file* file, void* data, int size, sqlite3_int64 offset) {
  sqlite3_file* real = RealOf(file);
  return AfterWriteOutOf(file, offset, size,
                         [&] { return real->pMethods->xRead(real, data, size, offset); });
}

int Write(sqlite3_file* file, const void* data, int size, sqlite3_int64 offset) {
  {
    const std::lock_guard<std::mutex> lock(held_mutex);
    if (Hold(Ours(file), data, size, offset)) return SQLITE_OK;
    if (const int rc = WriteOut(Ours(file)); rc != SQLITE_OK) return rc;
    if (Hold(Ours(file), data, size, offset)) return SQLITE_OK;
  }
  sqlite3_file* real = RealOf(file);
  return real->pMethods->xWrite(real, data, size, offset);
}

int Truncate(sqlite3_file* file, sqlite3_int64 size) {
  sqlite3_file* real = RealOf(file);
  return AfterWriteOut(file, [&] { return real->pMethods->xTruncate(real, size); });
}

int Sync(sqlite3_file* file, int flags) {
  sqlite3_file* real = RealOf(file);
  return AfterWriteOut(file, [&] { return real->pMethods->xSync(real, flags); });
}

int FileSize(sqlite3_file* file, sqlite3_int64* size) {
  sqlite3_file* real = RealOf(file);
  return AfterWriteOut(file, [&] { return real->pMethods->xFileSize(real, size); });
}

int Lock(sqlite3_file* file, int level) {
  sqlite3_file* real = RealOf(file);
  return AfterWriteOutAll([&] { return real->pMethods->xLock(real, level); });
}

int Unlock(sqlite3_file* file, int level) {
  sqlite3_file* real = RealOf(file);
  return AfterWriteOutAll([&] { return real->pMethods->xUnlock(real, level); });
}

int CheckReservedLock(sqlite3_file* file, int* reserved) {
  sqlite3_file* real = RealOf(file);
  return AfterWriteOutAll([&] { return real->pMethods->xCheckReservedLock(real, reserved); });
}

// Some controls size, map or sync the file; none is on a hot path.
int FileControl(sqlite3_file* file, int op, void* arg) {
  sqlite3_file* real = RealOf(file);
  return AfterWriteOutAll([&] { return real->pMethods->xFileControl(real, op, arg); });
}

int SectorSize(sqlite3_file* file) {
  sqlite3_file* real = RealOf(file);
  return real->pMethods->xSectorSize(real);
}

int DeviceCharacteristics(sqlite3_file* file) {
  sqlite3_file* real = RealOf(file);
  return real->pMethods->xDeviceCharacteristics(real);
}

int ShmMap(sqlite3_file* file, int region, int size, int extend, void volatile** out) {
  sqlite3_file* real = RealOf(file);
  return AfterWriteOutAll([&] { return real->pMethods->xShmMap(real, region, size, extend, out); });
}

int ShmLock(sqlite3_file* file, int offset, int n, int flags) {
  sqlite3_file* real = RealOf(file);
  return AfterWriteOutAll([&] { return real->pMethods->xShmLock(real, offset, n, flags); });
}

void ShmBarrier(sqlite3_file* file) {
  sqlite3_file* real = RealOf(file);
  AfterWriteOutAll([&] {
    real->pMethods->xShmBarrier(real);
    return SQLITE_OK;
  });
}

int ShmUnmap(sqlite3_file* file, int remove) {
  sqlite3_file* real = RealOf(file);
  return AfterWriteOutAll([&] { return real->pMethods->xShmUnmap(real, remove); });
}

// Pages read through a memory map bypass Read: they must see what is held.
int Fetch(sqlite3_file* file, sqlite3_int64 offset, int size, void** out) {
  sqlite3_file* real = RealOf(file);
  return AfterWriteOutOf(file, offset, size,
                         [&] { return real->pMethods->xFetch(real, offset, size, out); });
}

int Unfetch(sqlite3_file* file, sqlite3_int64 offset, void* page) {
  sqlite3_file* real = RealOf(file);
  return real->pMethods->xUnfetch(real, offset, page);
}

// Our methods for a default-VFS file with methods `real`, of the same
// version, so that SQLite calls no method that the real file lacks.
// REQUIRES: held_mutex (the table is filled on first use).
const sqlite3_io_methods* MethodsFor(const sqlite3_io_methods* real) {
  const int version = std::min(real->iVersion, 3);
  sqlite3_io_methods& m = methods[version];
  m = sqlite3_io_methods{version,
                         Close,
                         Read,
                         Write,
                         Truncate,
                         Sync,
                         FileSize,
                         Lock,
                         Unlock,
                         CheckReservedLock,
                         FileControl,
                         SectorSize,
                         DeviceCharacteristics,
                         version >= 2 ? ShmMap : nullptr,
                         version >= 2 ? ShmLock : nullptr,
                         version >= 2 ? ShmBarrier : nullptr,
                         version >= 2 ? ShmUnmap : nullptr,
                         version >= 3 ? Fetch : nullptr,
                         version >= 3 ? Unfetch : nullptr};
  return &m;
}

int Open(sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* out_flags) {
  auto* ours = new (file) CombiningFile;
  ours->real = reinterpret_cast<sqlite3_file*>(ours + 1);
  const int rc = AfterWriteOutAll(
      [&] { return default_vfs->xOpen(default_vfs, name, ours->real, flags, out_flags); });
  // SQLite closes a file whose methods are set, also after a failed open.
  if (ours->real->pMethods == nullptr) {
    ours->~CombiningFile();
    file->pMethods = nullptr;
    return rc;
  }
  const std::lock_guard<std::mutex> lock(held_mutex);
  ours->base.pMethods = MethodsFor(ours->real->pMethods);
  return rc;
}

int Delete(sqlite3_vfs*, const char* name, int sync_dir) {
  return AfterWriteOutAll([&] { return default_vfs->xDelete(default_vfs, name, sync_dir); });
}

// An existence check answers by the file's size: a journal counts only with
// bytes in it.
int Access(sqlite3_vfs*, const char* name, int flags, int* result) {
  return AfterWriteOutAll([&] { return default_vfs->xAccess(default_vfs, name, flags, result); });
}

void Register() {
  default_vfs = sqlite3_vfs_find(nullptr);
  combining_vfs = *default_vfs;
  combining_vfs.zName = "engine-write-combining";
  combining_vfs.szOsFile = static_cast<int>(sizeof(CombiningFile)) + default_vfs->szOsFile;
  combining_vfs.pNext = nullptr;
  combining_vfs.xOpen = Open;
  combining_vfs.xDelete = Delete;
  combining_vfs.xAccess = Access;
  sqlite3_vfs_register(&combining_vfs, /*makeDflt=*/0);
}

}  // namespace

const char* WriteCombiningVfs() {
  static std::once_flag once;
  std::call_once(once, Register);
  return combining_vfs.zName;
}

}  // namespace platform::engine::internal
