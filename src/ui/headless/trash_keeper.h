#pragma once
// emptyTrash removes from the sync folder's trash folder ("_trash", where files
// the server deletes are moved) each entry that went there more than `days`
// days before now. An entry's age is its status change time, which the move
// into the trash sets; a link is removed, never followed. days 0 keeps all.
#include <cstdint>
#include <string>

namespace kq {

struct TrashEmptied {
  int removed = 0;
  int failed = 0;  // entries that could not be removed (they are tried again next time)
};

TrashEmptied emptyTrash(const std::string& trashFolder, int days, std::int64_t nowSeconds);

}  // namespace kq
