#include "platform/history/digest.h"

#include <openssl/evp.h>

#include <new>

#include "platform/core/files.h"

namespace platform::history {

namespace {

EVP_MD_CTX* Context(void* context) {
  return static_cast<EVP_MD_CTX*>(context);
}

std::string Hex(const unsigned char* bytes, unsigned size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * size);
  for (unsigned i = 0; i < size; ++i) {
    hex += kDigits[bytes[i] >> 4];
    hex += kDigits[bytes[i] & 0x0F];
  }
  return hex;
}

// Reads a source in pieces of this size: a package of many megabytes is
// never held whole for its hash.
constexpr std::size_t kPiece = 1 << 16;

// The size and SHA-256 of the open file.
FileDigest DigestOf(const UniqueFd& fd, const std::string& path) {
  // The size read from the descriptor bounds the reading: a file that
  // another program keeps growing is hashed as it was when opened.
  const std::uint64_t size = SizeOf(fd, path);
  Sha256 hash;
  FileDigest digest;
  std::string piece;
  while (static_cast<std::uint64_t>(digest.size) < size) {
    piece.clear();
    ReadUpTo(fd, path, std::min<std::uint64_t>(kPiece, size - digest.size), piece);
    if (piece.empty()) break;  // the file was cut short meanwhile
    hash.Add(piece);
    digest.size += static_cast<std::int64_t>(piece.size());
  }
  digest.sha256 = hash.FinishHex();
  return digest;
}

}  // namespace

Sha256::Sha256() : context_(EVP_MD_CTX_new()) {
  if (context_ == nullptr || EVP_DigestInit_ex(Context(context_), EVP_sha256(), nullptr) != 1) {
    EVP_MD_CTX_free(Context(context_));
    throw std::bad_alloc();
  }
}

Sha256::~Sha256() {
  EVP_MD_CTX_free(Context(context_));
}

void Sha256::Add(std::string_view bytes) {
  EVP_DigestUpdate(Context(context_), bytes.data(), bytes.size());
}

std::string Sha256::FinishHex() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned size = 0;
  EVP_DigestFinal_ex(Context(context_), digest, &size);
  return Hex(digest, size);
}

std::string Sha256Hex(std::string_view bytes) {
  Sha256 hash;
  hash.Add(bytes);
  return hash.FinishHex();
}

FileDigest DigestFile(const std::string& path) {
  return DigestOf(OpenForReading(path), path);
}

FileDigestInBackground::FileDigestInBackground(const std::string& path)
    : digest_(std::async(std::launch::async, [fd = OpenForReading(path), path] {
                return DigestOf(fd, path);
              }).share()) {}

FileDigest FileDigestInBackground::Get() const {
  return digest_.get();
}

}  // namespace platform::history
