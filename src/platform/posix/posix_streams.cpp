#include "platform/posix/posix_streams.h"

#include <cerrno>
#include <unistd.h>

namespace kq {

FdInputStream::~FdInputStream() { ::close(fd_); }

std::int64_t FdInputStream::read(char* buffer, std::size_t size) {
  for (;;) {
    auto n = ::read(fd_, buffer, size);
    if (n >= 0) return n;
    if (errno != EINTR) return -1;
  }
}

FdOutputStream::~FdOutputStream() {
  if (fd_ >= 0) ::close(fd_);
}

bool FdOutputStream::write(const char* data, std::size_t size) {
  if (fd_ < 0) return false;
  while (size > 0) {
    auto n = ::write(fd_, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return failed();
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool FdOutputStream::sync() { return fd_ >= 0 && (::fsync(fd_) == 0 || failed()); }

bool FdOutputStream::failed() {
  if (errno == ENOSPC || errno == EDQUOT) outOfSpace_ = true;
  return false;
}

bool FdOutputStream::close() {
  if (fd_ < 0) return false;
  int rc = ::close(fd_);
  fd_ = -1;
  return rc == 0 || failed();
}

}  // namespace kq
