// The error that a call throws, for tests that pin its number and details.
#pragma once

#include <functional>
#include <string>

#include "platform/core/error.h"

namespace testing_support {

// The platform::Error that `f` throws; number 0 ("no error") when none, to show in comparisons.
inline platform::Error ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const platform::Error& e) {
    return e;
  }
  return platform::Error(0, "no error");
}

// The value of the `detail: <what>` entry of `e`, or "" when it has none.
inline std::string DetailOf(const platform::Error& e, const std::string& what) {
  for (const auto& [w, value] : e.details()) {
    if (w == what) return value;
  }
  return "";
}

}  // namespace testing_support
