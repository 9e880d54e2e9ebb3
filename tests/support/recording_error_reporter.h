#pragma once
// RecordingErrorReporter keeps every error handed to the application's general
// error reporting.
#include <string>
#include <vector>

#include "platform/error_reporter.h"

namespace kq::test {

class RecordingErrorReporter : public ErrorReporter {
 public:
  void reportError(const std::string& text) override { errors.push_back(text); }
  std::vector<std::string> errors;
};

}  // namespace kq::test
