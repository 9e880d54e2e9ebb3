#include "held_deletions.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace kqs {

namespace {

bool atOrUnder(const std::string& path, const std::string& root) {
  return path == root || (path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
                          (path[root.size()] == '/' || root.back() == '/'));
}

// writeDurably replaces path with text: a synced temporary file renamed into place.
void writeDurably(const std::string& path, const std::string& text) {
  std::string temp = path + ".tmp";
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) throw std::runtime_error("cannot write " + temp + ": " + std::strerror(errno));
  std::size_t done = 0;
  while (done < text.size()) {
    auto n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ::close(fd);
      throw std::runtime_error("cannot write " + temp + ": " + std::strerror(errno));
    }
    done += static_cast<std::size_t>(n);
  }
  bool synced = ::fsync(fd) == 0;
  ::close(fd);
  if (!synced) throw std::runtime_error("cannot write " + temp + ": " + std::strerror(errno));
  fs::rename(temp, path);
}

std::string readWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string count(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

HeldDeletions::HeldDeletions(const std::string& indexPath) {
  fs::path base(indexPath);
  base.replace_extension();
  recordPath_ = base.string() + ".held";
  decisionPath_ = base.string() + ".decision";
}

HeldDeletions::Record HeldDeletions::load() const {
  Record record;
  std::error_code ec;
  if (!fs::exists(recordPath_, ec)) return record;
  std::istringstream lines(readWhole(recordPath_));
  std::string line;
  while (std::getline(lines, line)) {
    auto tab = line.find('\t');
    if (tab == std::string::npos) throw std::runtime_error(recordPath_ + " is damaged: " + line);
    std::string kind = line.substr(0, tab);
    if (kind == "root") {
      record.roots.push_back(line.substr(tab + 1));
      continue;
    }
    auto second = line.find('\t', tab + 1);
    if (kind != "held" || second == std::string::npos) throw std::runtime_error(recordPath_ + " is damaged: " + line);
    record.versions[line.substr(second + 1)] = std::stoll(line.substr(tab + 1, second - tab - 1));
  }
  return record;
}

void HeldDeletions::save(const Record& record) const {
  if (record.roots.empty()) {
    std::error_code ec;
    fs::remove(recordPath_, ec);
    return;
  }
  std::string text;
  for (auto& root : record.roots) text += "root\t" + root + "\n";
  for (auto& [path, version] : record.versions) text += "held\t" + std::to_string(version) + "\t" + path + "\n";
  writeDurably(recordPath_, text);
}

void HeldDeletions::decide(HeldDecision decision) const {
  writeDurably(decisionPath_, decision == HeldDecision::Confirm ? "confirm\n" : "reject\n");
}

std::optional<HeldDecision> HeldDeletions::takeDecision() const {
  std::error_code ec;
  if (!fs::exists(decisionPath_, ec)) return std::nullopt;
  std::string text = readWhole(decisionPath_);
  fs::remove(decisionPath_, ec);
  if (text == "confirm\n") return HeldDecision::Confirm;
  if (text == "reject\n") return HeldDecision::Reject;
  return std::nullopt;
}

void seedHeld(const HeldDeletions& held, std::map<std::string, std::int64_t>& missing) {
  try {
    for (auto& [path, version] : held.load().versions) missing.emplace(path, version);
  } catch (const std::exception&) {
    // settleHeld says so after the listing.
  }
}

HeldOutcome settleHeld(const HeldDeletions& held, const std::vector<Action>& heldNow, const PlanInput& in,
                       std::map<std::string, std::int64_t>& missing, const std::string& contract) {
  HeldOutcome out;
  HeldDeletions::Record before;
  try {
    before = held.load();
  } catch (const std::exception& e) {
    out.notes.push_back(std::string("the record of held deletions is unreadable and is made anew: ") + e.what());
  }
  auto decision = held.takeDecision();
  std::set<std::string> known(before.roots.begin(), before.roots.end());
  HeldDeletions::Record now;
  std::vector<Action> decided;  // held now and shown to the administrator before
  for (auto& a : heldNow) {
    if (decision && known.count(a.path)) {
      decided.push_back(a);
      continue;
    }
    now.roots.push_back(a.path);
    for (auto* seen : {&in.missing, &in.listed}) {
      for (auto it = seen->lower_bound(a.path); it != seen->end() && atOrUnder(it->first, a.path); ++it) {
        now.versions.insert(*it);
      }
    }
  }
  for (auto& [path, version] : now.versions) missing[path] = version;
  try {
    held.save(now);
  } catch (const std::exception& e) {
    // This connection still holds them; a restart before the next record would not.
    out.notes.push_back(std::string("the held deletions could not be recorded: ") + e.what());
  }
  if (decision == HeldDecision::Confirm && !decided.empty()) {
    out.deletions = decided;
    out.notes.push_back(count(decided.size(), "held deletion", "held deletions") +
                        " confirmed by the administrator: deleted in the store (kept as versions)");
  } else if (decision == HeldDecision::Reject && !decided.empty()) {
    out.notes.push_back(count(decided.size(), "held deletion", "held deletions") +
                        " rejected by the administrator: the files go back to the client");
  }
  if (decision && decided.empty()) {
    out.notes.push_back("the administrator's decision on held deletions found none held any more: nothing to do");
  }
  if (!now.roots.empty() && now.roots != before.roots) {
    out.notes.push_back(count(now.roots.size(), "deletion", "deletions") + " held (" +
                        count(now.versions.size(), "entry", "entries") +
                        "): nothing is deleted in the store and nothing is pushed back; confirm with: "
                        "kqsyncd deletions confirm --contract " + contract +
                        ", or put the files back with: kqsyncd deletions reject --contract " + contract);
  }
  return out;
}

}  // namespace kqs
