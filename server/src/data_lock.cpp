#include "data_lock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>
#include <vector>

namespace kqs {

namespace {

namespace fs = std::filesystem;

// tighten clears the group and other bits of path without following a link
// (opened with O_NOFOLLOW unless follow, changed through the open
// descriptor); true when it changed them.
bool tighten(const fs::path& path, bool follow = false) {
  int fd = ::open(path.c_str(), O_RDONLY | (follow ? 0 : O_NOFOLLOW) | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  struct stat st{};
  bool changed = ::fstat(fd, &st) == 0 && (st.st_mode & 077) != 0 && ::fchmod(fd, st.st_mode & 07700) == 0;
  ::close(fd);
  return changed;
}

// tightenTree tightens folder and everything below it, links left alone.
void tightenTree(const fs::path& folder, std::vector<std::string>& changed, const fs::path& base) {
  std::error_code ec;
  if (!fs::is_directory(fs::symlink_status(folder, ec))) return;
  if (tighten(folder)) changed.push_back(fs::relative(folder, base, ec).string());
  for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (it->is_symlink(ec)) continue;
    if (tighten(it->path())) changed.push_back(fs::relative(it->path(), base, ec).string());
  }
}

std::string changedNote(const std::string& dataDir, const std::vector<std::string>& changed) {
  std::string names;
  for (std::size_t i = 0; i < changed.size() && i < 5; ++i) names += (i ? ", " : "") + changed[i];
  if (changed.size() > 5) names += " and " + std::to_string(changed.size() - 5) + " more";
  return "the data folder " + dataDir + " held " + std::to_string(changed.size()) +
         " item(s) open to other users, now its owner's only (0700 folders, 0600 files): " + names;
}

}  // namespace

std::string tightenDataFolder(const std::string& dataDir) {
  std::vector<std::string> changed;
  const fs::path base(dataDir);
  if (tighten(base)) changed.push_back(".");
  if (tighten(base / "accounts.json")) changed.push_back("accounts.json");
  for (const char* folder : {"index", "logs", "versions"}) tightenTree(base / folder, changed, base);
  return changed.empty() ? std::string() : changedNote(dataDir, changed);
}

std::string tightenStoreFolder(const std::string& store, const std::string& contract,
                               const std::string& dataDir) {
  std::error_code ec;
  const fs::path data = fs::weakly_canonical(dataDir, ec);
  const fs::path folder = fs::weakly_canonical(store, ec);
  auto rest = folder.lexically_relative(data);
  bool inside = !ec && !rest.empty() && *rest.begin() != "..";
  if (inside || !tighten(store, true)) return {};
  return "the store folder " + store + " of contract " + contract +
         " was open to other users, now its owner's only (0700)";
}

DataLock::DataLock(const std::string& dataDir) : path_(dataDir + "/kqsyncd.lock") {
  std::filesystem::create_directories(dataDir);
  using kq::OwnerLock;
  switch (lock_.acquire(path_, std::to_string(::getpid()) + "\n")) {
    case OwnerLock::Outcome::Held:
      tightened_ = tightenDataFolder(dataDir);
      return;
    case OwnerLock::Outcome::Busy: {
      std::string pid = lock_.detail().substr(0, lock_.detail().find_first_not_of("0123456789"));
      throw DataLockError("the data folder " + dataDir + " is in use by another kqsyncd" +
                          (pid.empty() ? std::string() : " (pid " + pid + ")") + "; stop it first");
    }
    case OwnerLock::Outcome::Failed:
      break;
  }
  const char* step = lock_.failedStep() == OwnerLock::Step::Open   ? "cannot open "
                     : lock_.failedStep() == OwnerLock::Step::Lock ? "cannot lock "
                                                                   : "cannot write ";
  throw DataLockError(step + path_ + ": " + lock_.detail());
}

DataLock::~DataLock() {
  // A stopped server leaves no pid behind.
  [[maybe_unused]] int rc = ::truncate(path_.c_str(), 0);
}

}  // namespace kqs
