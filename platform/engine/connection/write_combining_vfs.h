// A SQLite VFS that passes everything to the system's default VFS, except
// that consecutive writes which continue one another in one file reach the
// system as one write.
//
// Why: a rollback journal gets three writes per page (page number, page,
// checksum), and a compaction writes every page of the database twice (the
// journal's copy and the page), so a 500 MB compaction made some 540,000
// small writes; on a virtual machine each system call costs more than
// copying its 4 KiB.
//
// The contract that keeps crash safety. SQLite's own rule is that a write
// counts only once the file has been synced: it syncs a journal before it
// overwrites any page that the journal saves, and a database before it
// deletes its journal, and it recovers from any loss or reordering of the
// writes made since a file's last sync (as a power cut makes). Bytes held
// here are written out, in order, before anything that could rely on them:
//   - a sync, truncate, size or close of their file, and a read of any of
//     their bytes (SQLite reads its own writes, also through a memory map);
//   - any lock change, open, delete or existence check of any file, so
//     that no other process or connection can look at a file that lacks
//     them;
//   - a write to their file that does not continue them.
// A failure to write held bytes is the failure of the call that wrote them
// out.
#pragma once

namespace platform::engine::internal {

// The VFS's name for sqlite3_open_v2, registered (not as the default) on the
// first call. Thread-safe.
const char* WriteCombiningVfs();

}  // namespace platform::engine::internal
