#include "platform/engine/database/sql_scanner.h"

#include <cctype>

namespace platform::engine::internal {

namespace {

bool IsWordChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' ||
         static_cast<unsigned char>(c) >= 0x80;
}

}  // namespace

std::size_t SqlScanner::SkipSpace() {
  while (pos_ < sql_.size()) {
    if (std::isspace(static_cast<unsigned char>(sql_[pos_]))) {
      ++pos_;
    } else if (sql_.substr(pos_, 2) == "--") {
      const std::size_t end = sql_.find('\n', pos_);
      pos_ = end == std::string_view::npos ? sql_.size() : end + 1;
    } else if (sql_.substr(pos_, 2) == "/*") {
      const std::size_t end = sql_.find("*/", pos_ + 2);
      pos_ = end == std::string_view::npos ? sql_.size() : end + 2;
    } else {
      break;
    }
  }
  return pos_;
}

bool SqlScanner::Keyword(std::string_view keyword) {
  SkipSpace();
  if (sql_.size() - pos_ < keyword.size()) return false;
  for (std::size_t i = 0; i < keyword.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(sql_[pos_ + i])) != keyword[i]) return false;
  }
  if (pos_ + keyword.size() < sql_.size() && IsWordChar(sql_[pos_ + keyword.size()])) {
    return false;
  }
  pos_ += keyword.size();
  return true;
}

bool SqlScanner::Char(char c) {
  SkipSpace();
  if (pos_ >= sql_.size() || sql_[pos_] != c) return false;
  ++pos_;
  return true;
}

std::string SqlScanner::Identifier() {
  SkipSpace();
  if (pos_ >= sql_.size()) return {};
  const char open = sql_[pos_];
  const char close = open == '[' ? ']' : open;
  if (open == '"' || open == '`' || open == '[') {
    std::string name;
    for (std::size_t i = pos_ + 1; i < sql_.size(); ++i) {
      if (sql_[i] != close) {
        name += sql_[i];
      } else if (close != ']' && i + 1 < sql_.size() && sql_[i + 1] == close) {
        name += close;
        ++i;
      } else {
        pos_ = i + 1;
        return name;
      }
    }
    return {};
  }
  std::size_t end = pos_;
  while (end < sql_.size() && IsWordChar(sql_[end])) ++end;
  std::string name(sql_.substr(pos_, end - pos_));
  pos_ = end;
  return name;
}

}  // namespace platform::engine::internal
