#include "ui/headless/tree_move_runner.h"

#include "platform/tree_move.h"

namespace kq {

std::unique_ptr<ProcessRunner> makeTreeMoveRunner(FileSystem& fs) {
  return std::make_unique<PortableTreeMove>(fs);
}

}  // namespace kq
