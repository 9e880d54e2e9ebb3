#include "platform/command_line.h"

namespace kq {

std::string quoteArgument(const std::string& argument) {
  std::string out = "\"";
  std::size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes before a quote are doubled and the quote itself escaped.
    out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    out.push_back(c);
  }
  out.append(backslashes * 2, '\\');  // they precede the closing quote
  out.push_back('"');
  return out;
}

std::string buildCommandLine(const std::string& program, const std::vector<std::string>& arguments) {
  std::string line = program;
  for (const auto& argument : arguments) line += " " + quoteArgument(argument);
  return line;
}

}  // namespace kq
