#include "platform/win32/win32_streams.h"

#include <algorithm>

namespace kq {

namespace {
constexpr std::size_t kMaxChunk = 1u << 30;  // ReadFile and WriteFile take 32-bit counts
}

HandleInputStream::~HandleInputStream() { CloseHandle(handle_); }

std::int64_t HandleInputStream::read(char* buffer, std::size_t size) {
  DWORD got = 0;
  if (!ReadFile(handle_, buffer, static_cast<DWORD>(std::min(size, kMaxChunk)), &got, nullptr)) return -1;
  return got;
}

HandleOutputStream::~HandleOutputStream() {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
}

bool HandleOutputStream::write(const char* data, std::size_t size) {
  if (handle_ == INVALID_HANDLE_VALUE) return false;
  while (size > 0) {
    DWORD put = 0;
    if (!WriteFile(handle_, data, static_cast<DWORD>(std::min(size, kMaxChunk)), &put, nullptr) || put == 0) {
      return failed();
    }
    data += put;
    size -= put;
  }
  return true;
}

bool HandleOutputStream::sync() {
  return handle_ != INVALID_HANDLE_VALUE && (FlushFileBuffers(handle_) != 0 || failed());
}

bool HandleOutputStream::failed() {
  DWORD error = GetLastError();
  if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL)
    outOfSpace_ = true;
  return false;
}

bool HandleOutputStream::close() {
  if (handle_ == INVALID_HANDLE_VALUE) return false;
  bool ok = CloseHandle(handle_) != 0 || failed();
  handle_ = INVALID_HANDLE_VALUE;
  return ok;
}

}  // namespace kq
