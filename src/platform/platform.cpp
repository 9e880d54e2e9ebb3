#include "platform/platform.h"

namespace kq {
const char* platformName() {
#ifdef _WIN32
  return "win32";
#else
  return "posix";
#endif
}
}  // namespace kq
