#include "disk_store_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

namespace kqs {

namespace {

class DiskPushSource : public PushSource {
 public:
  DiskPushSource(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
  ~DiskPushSource() override { ::close(fd_); }
  DiskPushSource(const DiskPushSource&) = delete;
  DiskPushSource& operator=(const DiskPushSource&) = delete;
  std::uint64_t size() const override { return size_; }
  std::size_t read(char* into, std::size_t n) override {
    for (;;) {
      auto got = ::read(fd_, into, n);
      if (got >= 0) return static_cast<std::size_t>(got);
      if (errno != EINTR) return 0;
    }
  }

 private:
  int fd_;
  std::uint64_t size_;
};

class DiskClientLog : public ClientLogUpload {
 public:
  DiskClientLog(std::string temp, std::string target, int fd)
      : file_(temp, fd), temp_(std::move(temp)), target_(std::move(target)) {}
  bool write(std::string_view data) override { return file_.write(data); }
  std::int64_t size() const override { return file_.size(); }
  const std::string& path() const override { return temp_; }
  const std::string& target() const override { return target_; }
  void keep() override {
    if (::fsync(file_.fd()) != 0) throw std::runtime_error("cannot write " + temp_ + ": " + std::strerror(errno));
    if (::rename(temp_.c_str(), target_.c_str()) != 0) throw std::runtime_error("cannot keep the client log");
    file_.taken();
  }

 private:
  StoreIncoming file_;  // removed unless taken
  std::string temp_, target_;
};

}  // namespace

std::unique_ptr<PushSource> DiskStoreFiles::openForPush(const std::string& path, std::string& why) {
  int fd = ::open(store_.diskPath(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    why = std::strerror(errno);
    return nullptr;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    why = std::strerror(errno);
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<DiskPushSource>(fd, static_cast<std::uint64_t>(st.st_size));
}

std::unique_ptr<ClientLogUpload> DiskStoreFiles::beginClientLog() {
  static std::atomic<unsigned> counter{0};
  fs::create_directories(fs::path(clientLogPath_).parent_path());
  std::string temp = clientLogPath_ + "." + std::to_string(::getpid()) + "-" + std::to_string(++counter) + ".part";
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) throw std::runtime_error("cannot write " + temp);
  return std::make_unique<DiskClientLog>(temp, clientLogPath_, fd);
}

}  // namespace kqs
