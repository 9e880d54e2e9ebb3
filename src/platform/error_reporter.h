#pragma once
// ErrorReporter is the port of the application's general error reporting: the
// Win32 layer shows an error box captioned with the application title (closed
// by the main window while the server link is down); the headless client logs.
#include <string>

namespace kq {

class ErrorReporter {
 public:
  virtual ~ErrorReporter() = default;
  // reportError shows or records text; it never throws and never waits for the user
  // longer than the platform's error box does.
  virtual void reportError(const std::string& text) = 0;
};

}  // namespace kq
