#pragma once
// QuietWrites holds the files being written until their writer is done with
// them, so that a file is reported once and whole: when it was closed after
// writing, or once no write has come for kQuietMs (a writer that keeps it
// open, a log say). The watchers pass the time in (milliseconds of a steady
// clock) and say how they know that a file was closed, so the rule is the same
// on every system and is tested without waiting.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace kq {

class QuietWrites {
 public:
  static constexpr std::int64_t kQuietMs = 2000;

  struct Write {
    std::string path;
    bool added;  // the file is new: reported as added, not as modified
    bool operator==(const Write&) const = default;
  };

  // note records a write of path at nowMs; added: the write made the file.
  void note(const std::string& path, bool added, std::int64_t nowMs);
  // take removes the unreported write of path, nullopt when none waits.
  std::optional<Write> take(const std::string& path);
  // takeBelow removes the writes of path and of everything below it (the path
  // goes: its writes are reported before its removal), oldest first.
  std::vector<Write> takeBelow(const std::string& path, char separator);
  // takeQuiet removes the writes with no write for kQuietMs at nowMs, oldest first.
  std::vector<Write> takeQuiet(std::int64_t nowMs);
  // takeClosed removes the writes among paths whose file closed(path) says no
  // writer holds any more, in the order of paths.
  std::vector<Write> takeClosed(const std::vector<std::string>& paths,
                                const std::function<bool(const std::string&)>& closed);
  // untilQuiet: milliseconds from nowMs until the next write turns quiet; -1 when none waits.
  std::int64_t untilQuiet(std::int64_t nowMs) const;
  void clear() { writes_.clear(); }
  bool empty() const { return writes_.empty(); }
  std::size_t size() const { return writes_.size(); }

 private:
  struct Pending {
    bool added;
    std::int64_t lastMs;
    std::uint64_t order;  // when it was first noted
  };
  std::vector<Write> takeWhere(const std::function<bool(const std::string&, const Pending&)>& due);

  std::unordered_map<std::string, Pending> writes_;
  std::uint64_t next_ = 0;
};

}  // namespace kq
