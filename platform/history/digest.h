// SHA-256 through OpenSSL's libcrypto, as lower-case hex.
#pragma once

#include <cstdint>
#include <future>
#include <string>
#include <string_view>

namespace platform::history {

std::string Sha256Hex(std::string_view bytes);

// An incremental SHA-256, for contents too large to hold at once.
class Sha256 {
 public:
  Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  ~Sha256();
  void Add(std::string_view bytes);
  std::string FinishHex();  // REQUIRES: called once

 private:
  void* context_;  // EVP_MD_CTX, kept out of this header
};

// The size and SHA-256 of the regular file at `path`, read through one
// descriptor (no link followed at the last name is not required: a source
// may be reached through a link). Throws platform::Error naming the file.
struct FileDigest {
  std::int64_t size = 0;
  std::string sha256;
};
FileDigest DigestFile(const std::string& path);

// DigestFile's answer, read on a thread of its own while the caller goes on:
// the file is opened now, so that a missing or unreadable one fails here;
// what reading it throws, Get throws (each time).
class FileDigestInBackground {
 public:
  explicit FileDigestInBackground(const std::string& path);
  FileDigest Get() const;  // waits for the reading

 private:
  std::shared_future<FileDigest> digest_;
};

}  // namespace platform::history
