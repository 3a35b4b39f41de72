#include "platform/core/error.h"

#include <cerrno>
#include <cstring>

namespace platform {

std::string DescribeError(long number) {
  switch (number) {
    case err::kOverflow: return "Overflow";
    case err::kSubscriptOutOfRange: return "Subscript out of range";
    case err::kTypeMismatch: return "Type mismatch";
    case err::kFileNotFound: return "File not found";
    case err::kDeviceIoError: return "Device I/O error";
    case err::kDiskFull: return "Disk full";
    case err::kPermissionDenied: return "Permission denied";
    case err::kPathNotFound: return "Path not found";
    case err::kInvalidUseOfNull: return "Invalid use of Null";
    default: return "Application-defined or object-defined error";
  }
}

Error::Error(long number, std::string description)
    : std::runtime_error(description), number_(number), description_(std::move(description)) {}

Error::Error(long number) : Error(number, DescribeError(number)) {}

Error& Error::AddDetail(std::string what, std::string value) & {
  details_.emplace_back(std::move(what), std::move(value));
  return *this;
}

Error&& Error::AddDetail(std::string what, std::string value) && {
  details_.emplace_back(std::move(what), std::move(value));
  return std::move(*this);
}

Error ErrorFromErrno(int errnum, const std::string& operation, const std::string& path) {
  long number = err::kDeviceIoError;
  switch (errnum) {
    case ENOENT: number = err::kFileNotFound; break;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY: number = err::kPermissionDenied; break;
    case ENOTDIR: number = err::kPathNotFound; break;
    case ENOSPC:
    case EDQUOT: number = err::kDiskFull; break;
    default: break;
  }
  Error error(number);
  error.AddDetail("file", path);
  error.AddDetail("system", operation + ": " + std::strerror(errnum));
  return error;
}

}  // namespace platform
