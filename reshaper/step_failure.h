// Why an upgrade step answered false. The steps trap every failure of their
// own and answer true or false; the driver shows only its fixed message, so
// the step leaves the cause here for the `detail:` lines after the box.
#pragma once

#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/error.h"

namespace reshaper {

// Facts naming where a step stopped and why, in the order they are printed:
// the step, its position (row, statement, query, file), the cause.
struct StepFailure {
  std::vector<platform::Error::Detail> details;
};

// The position a step has reached, replaced as the step moves on, so that a
// failure names the row or statement being handled when it happened.
using StepPosition = std::vector<platform::Error::Detail>;

// A step's own reason to stop (a table without rows, a type word that maps
// to nothing): raised inside the step and turned into its false result there.
[[noreturn]] void StopStep(std::string reason);

// Fills `failure` from the step's name, its position and the error it met.
void RecordStepFailure(std::string_view step, const StepPosition& position,
                       const platform::Error& error, StepFailure* failure);

// Runs `body(position)`, trapping every failure: true when the body
// completed; otherwise false, with `failure` filled.
template <typename Body>
bool TrapStepFailure(std::string_view step, StepFailure* failure, Body&& body) {
  StepPosition position;
  try {
    body(position);
    return true;
  } catch (const platform::Error& error) {
    RecordStepFailure(step, position, error, failure);
  } catch (const std::exception& error) {
    RecordStepFailure(step, position, platform::Error(platform::err::kDeviceIoError, error.what()),
                      failure);
  }
  return false;
}

}  // namespace reshaper
