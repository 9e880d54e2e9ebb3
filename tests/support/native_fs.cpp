#include "support/native_fs.h"

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <system_error>

#ifdef _WIN32
#include <windows.h>

#include "platform/win32/file_system_win32.h"
#include "platform/win32/ini_file_win32.h"
#else
#include <unistd.h>

#include "platform/posix/file_system_posix.h"
#include "platform/posix/ini_file_posix.h"
#endif

namespace kq::test {

namespace {

// makeTempFolder creates a new uniquely named folder in the system's temporary folder.
std::filesystem::path makeTempFolder() {
  static std::atomic<unsigned> counter{0};
  auto base = std::filesystem::temp_directory_path();
#ifdef _WIN32
  auto pid = static_cast<unsigned long>(GetCurrentProcessId());
#else
  auto pid = static_cast<unsigned long>(getpid());
#endif
  auto stamp = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
  for (int attempt = 0; attempt < 100; ++attempt) {
    auto name = "kq-test-" + std::to_string(pid) + "-" + std::to_string(counter++) + "-" +
                std::to_string(stamp % 1000000);
    std::error_code ec;
    if (std::filesystem::create_directory(base / name, ec)) return base / name;
  }
  throw std::runtime_error("NativeFs: cannot create a temporary folder");
}

#ifdef _WIN32
std::string toAnsi(const std::wstring& wide) {
  int n = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.c_str(), static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
  return out;
}
#endif

}  // namespace

NativeFs::NativeFs() : tempFolder_(makeTempFolder()) {
#ifdef _WIN32
  nativeRoot_ = tempFolder_;
  root_ = toAnsi(nativeRoot_.wstring());
  fs_ = std::make_unique<Win32FileSystem>();
  ini_ = std::make_unique<Win32IniFile>();
#else
  nativeRoot_ = tempFolder_ / "kqtest";
  std::filesystem::create_directory(nativeRoot_);
  auto posix = std::make_unique<PosixFileSystem>();
  posix->mapDrive('C', tempFolder_.string());
  root_ = "C:\\kqtest";
  ini_ = std::make_unique<PosixIniFile>(*posix);
  fs_ = std::move(posix);
#endif
  fs_->guardFolder(root_);  // as the client guards its sync folder
}

NativeFs::~NativeFs() {
  std::error_code ec;
  std::filesystem::remove_all(tempFolder_, ec);
}

}  // namespace kq::test
