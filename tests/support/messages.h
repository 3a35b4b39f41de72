// A program's standard error: a message box "<title>: <prompt>", then `detail:` lines.
#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace testing_support {

// `err` holds `box` (whole lines, ending in "\n"); every other line, one at least, is a
// `detail: ` line.
inline void ExpectBoxAndDetails(const std::string& err, const std::string& box) {
  const std::size_t at = err.find(box);
  ASSERT_NE(at, std::string::npos) << "no box \"" << box << "\" in:\n" << err;
  std::istringstream rest(err.substr(0, at) + err.substr(at + box.size()));
  int details = 0;
  for (std::string line; std::getline(rest, line); ++details) {
    EXPECT_EQ(line.rfind("detail: ", 0), 0u) << line;
  }
  EXPECT_GT(details, 0) << err;
}

}  // namespace testing_support
