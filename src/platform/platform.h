#pragma once
// platformName names the platform layer this build links ("posix" or "win32").
namespace kq {
const char* platformName();
}
