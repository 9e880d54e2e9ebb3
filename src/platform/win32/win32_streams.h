#pragma once
// Handle streams of the Win32 file system.
#include <windows.h>

#include "platform/file_system.h"

namespace kq {

class HandleInputStream : public InputStream {
 public:
  explicit HandleInputStream(HANDLE h) : handle_(h) {}
  ~HandleInputStream() override;
  std::int64_t read(char* buffer, std::size_t size) override;

 private:
  HANDLE handle_;
};

class HandleOutputStream : public OutputStream {
 public:
  explicit HandleOutputStream(HANDLE h) : handle_(h) {}
  ~HandleOutputStream() override;
  bool write(const char* data, std::size_t size) override;
  bool close() override;
  bool sync() override;
  bool outOfSpace() const override { return outOfSpace_; }

 private:
  bool failed();  // notes a full disk from the last error; false
  HANDLE handle_;
  bool outOfSpace_ = false;
};

}  // namespace kq
