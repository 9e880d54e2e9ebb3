#pragma once
// OwnerLock keeps a second process off a resource: an exclusive lock (flock) on
// a lock file, held while the holder lives and released by the kernel however
// it ends. The file holds a text naming the holder, so that a refused start can
// say who holds it. The lock is held through a read-only descriptor: the holder
// keeps no file open for writing (the disk can still be remounted read-only).
#include <string>

namespace kq {

class OwnerLock {
 public:
  enum class Outcome { Held, Busy, Failed };

  OwnerLock() = default;
  ~OwnerLock();
  OwnerLock(const OwnerLock&) = delete;
  OwnerLock& operator=(const OwnerLock&) = delete;

  // Step is the step that failed: opening (or creating), locking, writing.
  enum class Step { Open, Lock, Write };

  // acquire takes the lock of path (created with mode 0600 if missing) and
  // writes owner into it. Busy: another process holds it, detail() is the text
  // its holder wrote; Failed: failedStep() failed with the reason detail().
  Outcome acquire(const std::string& path, const std::string& owner);
  const std::string& detail() const { return detail_; }
  Step failedStep() const { return step_; }

  // isHeld tells whether a process holds the lock of path now.
  static bool isHeld(const std::string& path);

 private:
  Outcome fail(Step step, int error);

  int fd_ = -1;
  std::string detail_;
  Step step_ = Step::Open;
};

}  // namespace kq
