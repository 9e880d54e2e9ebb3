#pragma once
// robocopyCommandLine is the folder-move command as it is logged:
// robocopy /move /e "SOURCE" "DESTINATION".
#include <string>

namespace kq {

inline std::string robocopyCommandLine(const std::string& source, const std::string& destination) {
  return "robocopy /move /e \"" + source + "\" \"" + destination + "\"";
}

}  // namespace kq
