#pragma once
// nativeText: a line of local text (the engine's log lines, messages and
// errors) as a Linux user reads it: UTF-8, with every local path text on the
// drive Z: ("Z:\home\me\Sync\a.txt") written as the real path
// ("/home/me/Sync/a.txt"). A path runs from the drive letter to the end of the
// text or to the first character Windows refuses in names (": * ? \" < > |",
// control characters); "\uXXXX" at or above U+0080 in it (or "\u005c", a
// backslash inside a name) is a name shown in the log's escaped form and
// becomes its character. Another path that
// begins ends the one before.
#include <string>
#include <string_view>

namespace kq {

std::string nativeText(std::string_view localText);

}  // namespace kq
