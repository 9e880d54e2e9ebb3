#pragma once
// The program folder of the Linux programs is the folder of the executable
// itself (the target of /proc/self/exe), wherever it was started from.
#include <string>

namespace kq {

// executablePath is the real path of the running executable.
std::string executablePath();

}  // namespace kq
