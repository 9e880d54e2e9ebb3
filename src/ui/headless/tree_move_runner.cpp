#include "ui/headless/tree_move_runner.h"

#if __has_include("platform/tree_move.h")
#include "platform/tree_move.h"
#define KQ_HAVE_TREE_MOVE 1
#endif

namespace kq {

namespace {

// MissingTreeMove reports every move as not done, for a build without the
// portable move: nothing is moved and the caller logs what was left.
class MissingTreeMove : public ProcessRunner {
 public:
  MoveResult moveTree(const std::string& source, const std::string&) override {
    return MoveResult{false, 16, "folder moves are not available in this build: " + source};
  }
};

}  // namespace

std::unique_ptr<ProcessRunner> makeTreeMoveRunner(FileSystem& fs) {
#ifdef KQ_HAVE_TREE_MOVE
  return std::make_unique<PortableTreeMove>(fs);
#else
  (void)fs;
  return std::make_unique<MissingTreeMove>();
#endif
}

}  // namespace kq
