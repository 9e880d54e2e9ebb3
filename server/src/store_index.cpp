#include "store_index.h"

namespace kqs {

void StoreIndex::transaction(const std::function<void()>& body) {
  if (batching_) openBatch();
  bool nested = inTransaction();
  if (nested) savepoint();
  else begin();
  try {
    body();
    if (nested) releaseSavepoint();
    else commit();
  } catch (...) {
    if (nested) rollbackStep();
    else rollback();
    throw;
  }
}

void StoreIndex::rollbackStep() noexcept {
  if (inTransaction()) rollbackToSavepoint();
  if (batchOpen_ && !inTransaction()) {  // the back end ended the batch itself (a full disk, a lost connection)
    batchOpen_ = false;
    batchSteps_ = 0;
    batchLost_ = true;
  }
}

void StoreIndex::setBatching(bool on) {
  if (!on) commitBatch();
  batching_ = on;
}

void StoreIndex::openBatch() {
  if (!batching_ || batchOpen_) return;
  if (inTransaction()) return;  // inside a transaction of its own
  begin();
  batchOpen_ = true;
  batchSteps_ = 0;
}

void StoreIndex::write() {
  openBatch();
  if (batchOpen_) ++batchSteps_;
}

void StoreIndex::dropBatch() noexcept {
  if (!batchOpen_) return;
  batchOpen_ = false;
  batchSteps_ = 0;
  batchLost_ = true;
  rollback();
}

void StoreIndex::commitBatch() {
  if (!batchOpen_) return;
  batchOpen_ = false;
  batchSteps_ = 0;
  if (!inTransaction()) {  // the back end rolled it back by itself
    batchLost_ = true;
    throw IndexError("the open changes were rolled back by the index");
  }
  try {
    commit();
  } catch (...) {
    batchLost_ = true;
    rollback();
    throw;
  }
}

void StoreIndex::rename(const std::string& path, const std::string& target, bool isDir, std::int64_t at) {
  write();
  std::vector<StoreEntry> moved;
  for (auto& [p, e] : subtree(path)) {
    if (!e.deleted) moved.push_back(e);
  }
  tombstone(path, at);
  for (auto e : moved) {
    e.path = target + e.path.substr(path.size());
    e.version = nextVersion();
    put(e);
  }
  moveKnown(path, target);
  if (isDir) journalMove(path, target, at);
}

}  // namespace kqs
