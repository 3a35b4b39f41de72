// A client of the analyser database that is not one of the programs: it
// commits one row at a time into a table of its own, as the analyser software
// or any SQLite tool does while a maintenance run goes on.
//
//   audit_writer <database> <table> <stop file> <first n>
//
// Inserts rows n = first, first + 1, ... (column n) each in its own transaction, with a
// busy timeout, until the stop file exists. Every commit that SQLite reported
// as done is written to standard output as "<n>\n" by one write after the
// commit returned, so the output lists exactly commits the client was told had
// succeeded (a kill between commit and write can only leave one out). A
// failed commit (busy, a replaced file) is not listed; the client reopens its
// connection and goes on with the next n. Plain SQLite, no lock file: that is
// what other programs do.
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr int kBusyTimeoutMs = 5000;
// Between commits, so that the programs get their turn at the locks as they
// would beside a client that commits now and then.
constexpr useconds_t kPauseUs = 2000;

bool Exists(const char* path) {
  struct stat st {};
  return ::stat(path, &st) == 0;
}

// One connection with its insert statement; closed when it goes.
class Client {
 public:
  Client(const char* database, const std::string& table) {
    if (sqlite3_open_v2(database, &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) return;
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    const std::string sql = "INSERT INTO \"" + table + "\" (n) VALUES (?)";
    sqlite3_prepare_v2(db_, sql.c_str(), -1, &insert_, nullptr);
  }
  ~Client() {
    sqlite3_finalize(insert_);
    sqlite3_close(db_);
  }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  // True when SQLite reported the row committed.
  bool Commit(long n) {
    if (!insert_) return false;
    sqlite3_bind_int64(insert_, 1, n);
    const int rc = sqlite3_step(insert_);
    sqlite3_reset(insert_);
    return rc == SQLITE_DONE;
  }

 private:
  sqlite3* db_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
};

void Report(long n) {
  const std::string line = std::to_string(n) + "\n";
  if (::write(STDOUT_FILENO, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
    _exit(3);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: audit_writer <database> <table> <stop file> <first n>\n");
    return 2;
  }
  for (long n = std::atol(argv[4]); !Exists(argv[3]);) {
    Client client(argv[1], argv[2]);
    while (!Exists(argv[3]) && client.Commit(n)) {
      Report(n++);
      ::usleep(kPauseUs);
    }
    ++n;  // the failed n may or may not be in the file: never reused
    ::usleep(kPauseUs);
  }
  return 0;
}
