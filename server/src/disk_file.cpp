#include "disk_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "sha256.h"

namespace kqs {

namespace {

struct Fd {
  int fd;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

constexpr std::size_t kChunk = 1 << 20;

// readAll feeds every byte of fd to sink; false on a read error. Its buffer is
// never filled with anything but the file's bytes.
template <typename Sink>
bool readAll(int fd, Sink&& sink) {
  auto buffer = std::make_unique_for_overwrite<char[]>(kChunk);
  for (;;) {
    auto n = ::read(fd, buffer.get(), kChunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (!sink(std::string_view(buffer.get(), static_cast<std::size_t>(n)))) return false;
  }
}

bool writeAll(int fd, std::string_view data) {
  while (!data.empty()) {
    auto n = ::write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

std::string errnoText() { return std::strerror(errno); }

std::optional<std::string> hashOfFile(const std::string& diskPath) {
  Fd in{::open(diskPath.c_str(), O_RDONLY | O_CLOEXEC)};
  if (in.fd < 0) return std::nullopt;
  Sha256 sha;
  if (!readAll(in.fd, [&](std::string_view d) { sha.update(d); return true; })) return std::nullopt;
  return sha.hexDigest();
}

bool fsyncFolder(const std::string& folder) {
  Fd fd{::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
  return fd.fd >= 0 && ::fsync(fd.fd) == 0;
}

std::string copyDurably(const std::string& from, const std::string& to) {
  Fd in{::open(from.c_str(), O_RDONLY | O_CLOEXEC)};
  if (in.fd < 0) throw std::runtime_error("cannot read " + from + ": " + errnoText());
  Fd out{::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600)};
  if (out.fd < 0) throw std::runtime_error("cannot create " + to + ": " + errnoText());
  Sha256 sha;
  bool written = true;
  bool read = readAll(in.fd, [&](std::string_view d) {
    sha.update(d);
    written = writeAll(out.fd, d);
    return written;
  });
  if (!read || !written || ::fsync(out.fd) != 0) {
    std::string why = (!read ? "cannot read " + from : "cannot write " + to) + ": " + errnoText();
    ::unlink(to.c_str());
    throw std::runtime_error(why);
  }
  return sha.hexDigest();
}

}  // namespace kqs
