#pragma once
// File-descriptor streams of the POSIX file system.
#include "platform/file_system.h"

namespace kq {

class FdInputStream : public InputStream {
 public:
  explicit FdInputStream(int fd) : fd_(fd) {}
  ~FdInputStream() override;
  std::int64_t read(char* buffer, std::size_t size) override;

 private:
  int fd_;
};

class FdOutputStream : public OutputStream {
 public:
  explicit FdOutputStream(int fd) : fd_(fd) {}
  ~FdOutputStream() override;
  bool write(const char* data, std::size_t size) override;
  bool close() override;
  bool sync() override;
  bool outOfSpace() const override { return outOfSpace_; }

 private:
  bool failed();  // notes a full disk from errno; false
  int fd_;
  bool outOfSpace_ = false;
};

}  // namespace kq
