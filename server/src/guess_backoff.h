#pragma once
// GuessBackoff slows key guessing per source address: after kFreeGuesses wrong
// init texts, each further attempt from that address is answered only after a
// delay that doubles from kFirstDelayMs up to kMaxDelayMs; a right key clears
// it. Rejections are noted at most once per kNoteEveryMs per address, with a
// count. Pure: the caller passes the time (steady milliseconds).
#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace kqs {

class GuessBackoff {
 public:
  static constexpr int kFreeGuesses = 3;
  static constexpr std::int64_t kFirstDelayMs = 500;
  static constexpr std::int64_t kMaxDelayMs = 30000;
  static constexpr std::int64_t kNoteEveryMs = 60000;

  // readyAtMs is when the next attempt from address may be answered (at or
  // before nowMs: at once).
  std::int64_t readyAtMs(const std::string& address) const;
  // wrongKey records a rejected attempt; it returns the number of rejections
  // to log when a note is due, nothing otherwise.
  std::optional<std::uint64_t> wrongKey(const std::string& address, std::int64_t nowMs);
  // rightKey clears the address.
  void rightKey(const std::string& address) { addresses_.erase(address); }
  std::size_t tracked() const { return addresses_.size(); }

 private:
  struct Address {
    std::uint64_t wrong = 0;        // since the last right key
    std::int64_t readyAtMs = 0;
    std::uint64_t unnoted = 0;      // rejections not logged yet
    std::int64_t notedAtMs = 0;
    bool noted = false;
  };
  // forgetIdle drops addresses quiet for longer than the longest delay and a note period.
  void forgetIdle(std::int64_t nowMs);
  std::map<std::string, Address> addresses_;
  std::int64_t lastSweepMs_ = 0;
};

}  // namespace kqs
