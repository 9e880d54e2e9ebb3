#include "store_turns.h"

#include <algorithm>

#include "path_set.h"

namespace kqs {

namespace {

// folderWide: an action that depends on everything below a folder.
bool folderWide(const Action& a, const PlanInput& in) {
  if (a.kind == ActionKind::MoveOnClient) return true;
  if (a.kind != ActionKind::DeleteInStore && a.kind != ActionKind::RenameInStore &&
      a.kind != ActionKind::DeleteOnClient) {
    return false;
  }
  auto planned = in.store.find(a.path);
  return a.isDir || (planned != in.store.end() && planned->second.isDir);
}

}  // namespace

StoreTurns::Turn::Turn(StoreTurns& turns) : turns_(turns), guard_(turns.lock_) {
  if (turns_.index_.currentVersion() != turns_.generation_) turns_.othersChanged_ = true;
}

StoreTurns::Turn::~Turn() {
  if (turns_.afterTurn_) turns_.afterTurn_();
  try {
    turns_.generation_ = turns_.index_.currentVersion();
  } catch (...) {
    turns_.othersChanged_ = true;  // unknown: take every later action as possibly stale
  }
}

bool StoreTurns::current(const Action& a, const PlanInput& in) {
  if (!othersChanged_) return true;
  if (folderWide(a, in)) return false;
  for (const std::string* path : {&a.path, &a.target}) {
    if (path->empty()) continue;
    if (touchesAny(mine_, *path)) return false;
    auto now = index_.entry(*path);
    auto planned = in.store.find(*path);
    if (now.has_value() != (planned != in.store.end())) return false;
    if (now && (now->version != planned->second.version || now->deleted != planned->second.deleted)) return false;
  }
  return true;
}

}  // namespace kqs
