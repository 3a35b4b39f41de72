// The one error type of the system: a number and a description, as the
// operator has always seen them in the programs' messages.
//
// Platform errors use the historic numbers ("File not found" 53, ...); engine
// errors use SQLite's extended result code or an engine number from 3000 up;
// the drivers' own failure codes are 0x80040000 plus a small code.
//
// An Error may also carry facts for the operator (`detail:` lines printed
// after a message box). Facts never change the number or the description.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace platform {

// Numbers of the platform errors that the messages show.
namespace err {
inline constexpr long kOverflow = 6;
inline constexpr long kSubscriptOutOfRange = 9;
inline constexpr long kTypeMismatch = 13;
inline constexpr long kFileNotFound = 53;
inline constexpr long kDeviceIoError = 57;
inline constexpr long kDiskFull = 61;
inline constexpr long kPermissionDenied = 70;
inline constexpr long kPathNotFound = 76;
inline constexpr long kInvalidUseOfNull = 94;
// Base of application-defined error numbers (the drivers' failure codes):
// 0x80040000 read as a 32-bit signed number, as the platform prints it.
inline constexpr long kObjectErrorBase = -2147221504L;
}  // namespace err

// The fixed description of a platform error number ("Overflow" for 6, ...);
// "Application-defined or object-defined error" for unknown numbers.
std::string DescribeError(long number);

class Error : public std::runtime_error {
 public:
  using Detail = std::pair<std::string, std::string>;  // what, value

  Error(long number, std::string description);
  // A platform error with its fixed description.
  explicit Error(long number);

  long number() const noexcept { return number_; }
  const std::string& description() const noexcept { return description_; }

  // Facts for the operator, in the order they were added.
  const std::vector<Detail>& details() const noexcept { return details_; }
  Error& AddDetail(std::string what, std::string value) &;
  Error&& AddDetail(std::string what, std::string value) &&;

 private:
  long number_;
  std::string description_;
  std::vector<Detail> details_;
};

// The platform error for an errno of a file operation on `path`, with the
// path and the system's own text as details. ENOENT -> 53, EACCES/EPERM/EROFS
// -> 70, ENOTDIR -> 76, ENOSPC/EDQUOT -> 61, anything else -> 57.
Error ErrorFromErrno(int errnum, const std::string& operation, const std::string& path);

}  // namespace platform
