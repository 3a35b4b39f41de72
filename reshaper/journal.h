// Hot journals: a "<database>-journal" left by a killed process is rolled
// back by the next connection. A database file is copied, copied over or
// replaced only once no journal lies beside it, or the copy would pair a
// changed file with a journal of another (SQLite then reports the database
// malformed).
#pragma once

#include <string>

namespace reshaper {

// When a journal lies beside `database_path`, opens and reads the database
// once so that the engine rolls the journal back, and closes it. Throws the
// engine's error when the rollback fails (a read-only folder), and Device
// I/O error when a journal is still there afterwards. The journal itself is
// never deleted, moved or renamed here. A missing database is no error.
void RollBackHotJournal(const std::string& database_path);

}  // namespace reshaper
