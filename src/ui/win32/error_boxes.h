#pragma once
// ErrorBoxes shows the application's error boxes, captioned with the
// application title "Korvalinq Drive". At most one is open at any time.
#include <string>

namespace kq::win {

inline constexpr wchar_t kApplicationTitle[] = L"Korvalinq Drive";

class ErrorBoxes {
 public:
  virtual ~ErrorBoxes() = default;
  // report shows text in an error box once the current event has been handled;
  // while a box is open the report is dropped.
  virtual void report(const std::string& text) = 0;
};

}  // namespace kq::win
