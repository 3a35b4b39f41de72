#include "platform/engine/connection/mapped_reads.h"

namespace platform::engine::internal {

namespace {

// SQLite caps the size at its build's SQLITE_MAX_MMAP_SIZE; a pragma that
// cannot map simply reads by call, so neither result needs a check.
void SetMapSize(sqlite3* db, const char* pragma) {
  sqlite3_exec(db, pragma, nullptr, nullptr, nullptr);
}

}  // namespace

MappedReads::MappedReads(sqlite3* db) : db_(db) {
  SetMapSize(db_, "PRAGMA mmap_size = 2147418112");
}

MappedReads::~MappedReads() {
  SetMapSize(db_, "PRAGMA mmap_size = 0");
}

}  // namespace platform::engine::internal
