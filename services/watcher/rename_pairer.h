#pragma once
// RenamePairer joins the two halves of a move that a watcher reports
// separately (the old name, then the new name, linked by a cookie). A half
// without its partner is a move across the watched tree's border: an old name
// alone is a removal, a new name alone an addition.
#include <cstdint>
#include <optional>
#include <string>

namespace kq {

struct MoveEnd {
  std::string path;
  bool isFolder = false;
};

class RenamePairer {
 public:
  // movedFrom arms a move. An older armed move that never found its partner is
  // handed back: it left the tree.
  [[nodiscard]] std::optional<MoveEnd> movedFrom(std::uint32_t cookie, MoveEnd from);
  // movedTo takes the armed old end of the same cookie; nullopt when the item
  // came from outside the tree (the armed move, if any, stays armed).
  [[nodiscard]] std::optional<MoveEnd> movedTo(std::uint32_t cookie);
  // takeUnpaired hands back the armed move and disarms: it left the tree.
  [[nodiscard]] std::optional<MoveEnd> takeUnpaired();
  bool armed() const { return armed_.has_value(); }
  // armedCookie is the cookie of the armed move (0 when none).
  std::uint32_t armedCookie() const { return armed_ ? cookie_ : 0; }

 private:
  std::optional<MoveEnd> armed_;
  std::uint32_t cookie_ = 0;
};

}  // namespace kq
