#include "ui/headless/trash_keeper.h"

#include <sys/stat.h>

#include <filesystem>

namespace kq {

TrashEmptied emptyTrash(const std::string& trashFolder, int days, std::int64_t nowSeconds) {
  TrashEmptied out;
  if (days <= 0) return out;
  const std::int64_t before = nowSeconds - std::int64_t(days) * 86400;
  std::error_code ec;
  std::filesystem::directory_iterator entries(trashFolder, ec), end;
  for (; !ec && entries != end; entries.increment(ec)) {
    struct stat st {};
    const std::string path = entries->path().string();
    if (::lstat(path.c_str(), &st) != 0 || st.st_ctime >= before) continue;
    std::error_code removeError;
    std::filesystem::remove_all(entries->path(), removeError);  // removes a link itself, not its target
    ++(removeError ? out.failed : out.removed);
  }
  return out;
}

}  // namespace kq
