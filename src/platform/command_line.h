#pragma once
// Windows command lines: a program receives its arguments split by the rules of
// the Microsoft C runtime (CommandLineToArgvW), so every argument is quoted to
// arrive exactly as given, whatever blanks, quotes or backslashes it holds.
#include <string>
#include <vector>

namespace kq {

// quoteArgument encloses one argument in double quotes: a quote inside is
// preceded by a backslash, and backslashes before a quote (or before the closing
// quote) are doubled. Other backslashes stay single.
std::string quoteArgument(const std::string& argument);

// buildCommandLine is the program name followed by the quoted arguments, blank-separated.
std::string buildCommandLine(const std::string& program, const std::vector<std::string>& arguments);

}  // namespace kq
