#include "session.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <chrono>
#include <ctime>
#include <filesystem>

#include "log_text.h"

namespace fs = std::filesystem;

namespace kqs {

namespace {

constexpr std::uint64_t kMaxPayload = std::uint64_t(1) << 62;  // a negative size from the client is refused

std::int64_t now() { return static_cast<std::int64_t>(std::time(nullptr)); }

std::string folderForm(const std::string& path) { return path + "/"; }

// shown is a client-controlled value as the log shows it.
std::string shown(std::string_view value) { return logValue(value); }

}  // namespace

SyncSession::SyncSession(Peer& peer, ContractState& contract, ServerLog& log, std::string who,
                         SessionOptions options)
    : peer_(peer), contract_(contract), store_(*contract.store), log_(log), who_(std::move(who)),
      options_(options) {}

std::string SyncSession::dateMember() const { return formatLocal(now(), "%Y-%m-%d"); }
std::string SyncSession::timeMember() const { return formatLocal(now(), "%H:%M:%S"); }

void SyncSession::run() {
  try {
    bool logFetched = false;
    for (;;) {
      cycle();
      if (!peer_.pause(options_.cycleMs)) break;
      if (!logFetched) {
        logFetched = true;
        try {
          fetchLog();
        } catch (const PeerError&) {
          throw;
        } catch (const std::exception& e) {
          say(std::string("client log not kept: ") + e.what());
        }
      }
    }
    say("server stopping: connection closed");
  } catch (const PeerError& e) {
    say(std::string("connection closed: ") + e.what());
  } catch (const std::exception& e) {
    say(std::string("connection closed after an error: ") + e.what());
  }
}

void TurnLock::lock() {
  std::unique_lock lock(mutex_);
  std::uint64_t ticket = next_++;
  turn_.wait(lock, [&] { return serving_ == ticket; });
}

void TurnLock::unlock() {
  {
    std::lock_guard lock(mutex_);
    ++serving_;
  }
  turn_.notify_all();
}

void SyncSession::cycle() {
  auto reports = drainChanges();  // the client's answers only: no lock
  std::vector<Action> actions;
  PlanInput in;
  {
    std::lock_guard lock(contract_.turns);
    store_.scan(now());
    in = planInput();
    actions = planChanges(reports, in);
    generation_ = store_.index().currentVersion();
  }
  carryOut(actions, in, false);
  auto listing = requestListing();
  if (listing) {
    std::map<std::string, std::int64_t> inStep;
    {
      std::lock_guard lock(contract_.turns);
      in = planInput();
      inStep = listedInStep(*listing, in);
      actions = planListing(*listing, in);
      generation_ = store_.index().currentVersion();
    }
    listing.reset();
    carryOut(actions, in, true);
    listed_ = std::move(inStep);
  }
  finishCycle();
}

bool SyncSession::carryOut(const std::vector<Action>& actions, const PlanInput& in, bool stopWhenStale) {
  for (auto& action : actions) {
    if (action.kind == ActionKind::Skip) {
      execute(action, in);  // only a log line
      continue;
    }
    std::lock_guard lock(contract_.turns);
    if (!stillValid(action, in)) {
      say("the store changed meanwhile; the rest of this cycle's plan waits for the next cycle");
      return false;
    }
    bool go = guarded(action, in);
    generation_ = store_.index().currentVersion();
    if (!go && stopWhenStale) return false;
  }
  return true;
}

bool SyncSession::stillValid(const Action& a, const PlanInput& in) {
  // A folder action depends on everything below the folder: any change by
  // another session makes it stale.
  bool folderWide = a.isDir && (a.kind == ActionKind::DeleteInStore || a.kind == ActionKind::RenameInStore ||
                                a.kind == ActionKind::MoveOnClient || a.kind == ActionKind::DeleteOnClient);
  if (folderWide || a.kind == ActionKind::RenameInStore) return store_.index().currentVersion() == generation_;
  for (const std::string* path : {&a.path, &a.target}) {
    if (path->empty()) continue;
    auto now = store_.index().entry(*path);
    auto planned = in.store.find(*path);
    bool wasThere = planned != in.store.end();
    if (now.has_value() != wasThere) return false;
    if (now && (now->version != planned->second.version || now->deleted != planned->second.deleted)) return false;
  }
  return true;
}

PlanInput SyncSession::planInput() {
  PlanInput in;
  store_.fill(in);
  in.session = synced_;
  in.failedMoves = failedMoves_;
  in.listed = listed_;
  in.deletionOrdered = deletionOrdered_;
  return in;
}

std::vector<ChangeReport> SyncSession::drainChanges() {
  std::vector<ChangeReport> reports;
  for (int i = 0; i < options_.maxChanges; ++i) {
    std::string body = requestBody({{"date", dateMember()}, {"time", timeMember()}, {"filesleft", "0"},
                                    {"mbytesleft", "0"}});
    auto id = peer_.sendRequest("RQCHG", body, body.size());
    auto header = peer_.readAnswer(id, {"ANCHG"});
    if (header.payloadLength > 1 << 20) throw PeerError("oversized change report");
    Received json;
    peer_.readBody(header.payloadLength, json);
    std::string refusal;
    auto report = parseChangeReport(json.view(), &refusal);
    if (!report) {
      say("unusable change report of " + std::to_string(json.size()) + " bytes skipped");
      continue;
    }
    if (report->changetype.empty()) break;
    if (!refusal.empty()) {
      say("change report refused, " + refusal + ": " + shown(report->changetype) + " " + shown(report->path) +
          (report->newname.empty() ? "" : " -> " + shown(report->newname)));
      continue;
    }
    say("client reports " + shown(report->changetype) + " " + shown(report->path) +
        (report->newname.empty() ? "" : " -> " + shown(report->newname)));
    reports.push_back(std::move(*report));
  }
  return reports;
}

std::optional<std::vector<ListingEntry>> SyncSession::requestListing() {
  std::string body = requestBody({{"filepath", ""}});
  auto id = peer_.sendRequest("RQLST", body, body.size());
  auto header = peer_.readAnswer(id, {"ANLST"});
  if (header.payloadLength > options_.maxListingBytes) {
    say("listing of " + std::to_string(header.payloadLength) + " bytes is over the limit of " +
        std::to_string(options_.maxListingBytes) + " bytes (--max-listing); the cycle ends without reconciliation");
    peer_.skipBody(header.payloadLength);
    return std::nullopt;
  }
  std::optional<std::vector<ListingEntry>> listing;
  int skipped = 0;
  std::string refusal;
  std::size_t size = static_cast<std::size_t>(header.payloadLength);
  {
    Received json;
    peer_.readBody(size, json);
    listing = parseListing(json.view(), &skipped, &refusal);
  }  // the text goes before the plan is made
  if (!listing) {
    say("unusable listing of " + std::to_string(size) + " bytes; reconciliation skipped this cycle");
    return std::nullopt;
  }
  if (skipped > 0) say("listing: " + std::to_string(skipped) + " entries with unusable paths left out");
  if (!refusal.empty()) say("listing entry refused, " + refusal);
  return listing;
}

bool SyncSession::guarded(const Action& a, const PlanInput& in) {
  try {
    return execute(a, in);
  } catch (const PeerError&) {
    throw;
  } catch (const std::exception& e) {
    say("error on " + shown(a.path) + ": " + e.what() + "; the store is unchanged for it");
    return true;
  }
}

bool SyncSession::execute(const Action& a, const PlanInput& in) {
  switch (a.kind) {
    case ActionKind::MoveOnClient: return moveOnClient(a.path, a.target);
    case ActionKind::DeleteOnClient: deleteOnClient(a.path, a.isDir); break;
    case ActionKind::CreateStoreFolder:
      store_.makeFolder(a.path, now());
      synced_[a.path] = store_.index().entry(a.path).value().version;
      say("store: created folder " + shown(a.path));
      break;
    case ActionKind::Fetch: fetch(a); break;
    case ActionKind::PushFolder: pushFolder(a.path); break;
    case ActionKind::PushFile: pushFile(a.path); break;
    case ActionKind::RecordKnown:
      store_.recordKnown(a.path, a.size, a.mtime, a.hash);
      synced_[a.path] = in.store.at(a.path).version;
      break;
    case ActionKind::DeleteInStore:
      store_.remove(a.path, now());
      forgetSubtree(a.path);
      say("store: deleted " + shown(a.path) + (a.note.empty() ? "" : " (" + shown(a.note) + ")"));
      break;
    case ActionKind::RenameInStore:
      if (store_.rename(a.path, a.target, now())) {
        forgetSubtree(a.path);
        say("store: renamed " + shown(a.path) + " to " + shown(a.target));
      } else {
        say("store: nothing to rename at " + shown(a.path));
      }
      break;
    case ActionKind::Skip:
      if (saidSkips_.insert(a.path + "\n" + a.note).second) say("skipped " + shown(a.path) + ": " + shown(a.note));
      break;
  }
  return true;
}

void SyncSession::forgetSubtree(const std::string& path) {
  for (auto* known : {&synced_, &listed_}) {
    for (auto it = known->begin(); it != known->end();) {
      it = it->first == path || isUnder(it->first, path) ? known->erase(it) : std::next(it);
    }
  }
}

void SyncSession::receiveInto(IncomingFile& file, std::uint64_t size, const std::string& what) {
  std::uint64_t done = 0;
  std::uint64_t nextProgress = static_cast<std::uint64_t>(options_.progressBytes);
  bool diskOk = true;
  while (done < size) {
    std::string chunk = peer_.readExact(static_cast<std::size_t>(std::min<std::uint64_t>(size - done, options_.chunkBytes)));
    diskOk = diskOk && file.write(chunk);
    done += chunk.size();
    if (size > static_cast<std::uint64_t>(options_.progressBytes) && (done >= nextProgress || done == size)) {
      say(what + ": " + std::to_string(done) + " of " + std::to_string(size) + " bytes");
      nextProgress += static_cast<std::uint64_t>(options_.progressBytes);
    }
  }
  if (!diskOk) throw std::runtime_error("cannot write " + file.path());
}

void SyncSession::fetch(const Action& a) {
  auto file = store_.beginIncoming();
  std::string body = requestBody({{"filepath", a.path}});
  auto id = peer_.sendRequest("RQFIL", body, body.size());
  auto header = peer_.readAnswer(id, {"ANFIL"});
  if (header.payloadLength >= kMaxPayload) throw PeerError("ANFIL announces an impossible size");
  receiveInto(*file, header.payloadLength, "receiving " + shown(a.path));
  std::string excess = peer_.readSome(1 << 16, peer_.quietMs());
  if (!excess.empty()) {
    drainUntilQuiet(300);
    say("fetch of " + shown(a.path) + " dropped: the file changed while it was sent");
    return;
  }
  if (header.payloadLength == 0 && a.size > 0) {
    say("fetch of " + shown(a.path) + " dropped: the client sent no data (gone meanwhile?)");
    return;
  }
  auto result = store_.accept(a.path, *file, a.mode, a.mtime, now());
  switch (result.outcome) {
    case AcceptOutcome::Refused: say("fetch of " + shown(a.path) + " refused: a folder holds that path in the store"); return;
    case AcceptOutcome::DeletionStands:
      say("fetched " + shown(a.path) + ": the content deleted in the store; the deletion stands");
      return;
    case AcceptOutcome::Unchanged: say("fetched " + shown(a.path) + ": same content as the store"); break;
    case AcceptOutcome::Updated:
      say("fetched " + shown(a.path) + " (" + std::to_string(header.payloadLength) + " bytes) into the store");
      break;
    case AcceptOutcome::ConflictClientWon:
      say("conflict on " + shown(a.path) + ": the client's newer copy wins, the store's copy is kept as " +
          shown(result.conflictPath));
      break;
    case AcceptOutcome::ConflictStoreKept:
      say("conflict on " + shown(a.path) + ": the store's newer copy wins, the client's copy is kept as " +
          shown(result.conflictPath));
      pushFile(a.path);
      return;
  }
  synced_[a.path] = result.entry.version;
  if (a.mtime > 0) store_.recordKnown(a.path, header.payloadLength, a.mtime, result.entry.hash);
}

void SyncSession::drainUntilQuiet(int quietMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(peer_.timeoutMs());
  while (!peer_.readSome(Peer::kChunk, quietMs).empty()) {
    if (std::chrono::steady_clock::now() >= deadline) throw PeerError("the client does not stop sending");
  }
}

void SyncSession::pushFolder(const std::string& path) {
  std::string body = requestBody({{"filepath", folderForm(path)}});
  auto id = peer_.sendRequest("RQPUT", body, body.size());
  peer_.readAnswer(id, {"ANPUT"});
  synced_[path] = store_.index().entry(path).value().version;
  say("pushed folder " + shown(path));
}

void SyncSession::pushFile(const std::string& path) {
  auto entry = store_.index().entry(path).value();
  int fd = ::open(store_.diskPath(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    std::string why = std::strerror(errno);
    say("push of " + shown(path) + " skipped: " + why);
    return;
  }
  struct Closer { int fd; ~Closer() { ::close(fd); } } closer{fd};
  std::uint64_t size = static_cast<std::uint64_t>(::lseek(fd, 0, SEEK_END));
  ::lseek(fd, 0, SEEK_SET);
  std::string body = requestBody({{"filepath", path}});
  auto putId = peer_.sendRequest("RQPUT", body, body.size());
  peer_.readAnswer(putId, {"ANPUT"});
  auto dataId = peer_.sendRequest("RQFDA", "", size);
  std::string early = peer_.readSome(kq::kHeaderSize, peer_.quietMs());
  if (!early.empty() || size == 0) {
    early += peer_.readExact(kq::kHeaderSize - early.size());
    if (early.compare(0, 5, "ANFDA") != 0) throw PeerError("unexpected answer to RQFDA");
    if (size > 0) say("push of " + shown(path) + " refused by the client (excluded there)");
    else say("pushed " + shown(path) + " (0 bytes)");
    if (size == 0) synced_[path] = entry.version;
    return;
  }
  std::string buffer(options_.chunkBytes, '\0');
  std::uint64_t done = 0;
  std::uint64_t nextProgress = static_cast<std::uint64_t>(options_.progressBytes);
  bool shortRead = false;
  while (done < size) {
    auto want = static_cast<std::size_t>(std::min<std::uint64_t>(size - done, buffer.size()));
    auto n = ::read(fd, buffer.data(), want);
    if (n <= 0) {  // the store file shrank: complete the announced size, resend next cycle
      std::fill(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(want), '\0');
      n = static_cast<ssize_t>(want);
      shortRead = true;
    }
    peer_.sendAll(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
    done += static_cast<std::uint64_t>(n);
    if (size > static_cast<std::uint64_t>(options_.progressBytes) && (done >= nextProgress || done == size)) {
      say("sending " + shown(path) + ": " + std::to_string(done) + " of " + std::to_string(size) + " bytes");
      nextProgress += static_cast<std::uint64_t>(options_.progressBytes);
    }
  }
  peer_.readAnswer(dataId, {"ANFDA"});
  if (shortRead) {
    say("push of " + shown(path) + " incomplete: the store file shrank while it was sent; it is sent again");
    return;
  }
  synced_[path] = entry.version;
  say("pushed " + shown(path) + " (" + std::to_string(size) + " bytes)");
}

void SyncSession::deleteOnClient(const std::string& path, bool isDir) {
  std::string body = requestBody({{"filepath", isDir ? folderForm(path) : path}});
  auto id = peer_.sendRequest("RQDEL", body, body.size());
  peer_.readAnswer(id, {"ANDEL"});
  forgetSubtree(path);
  auto gone = store_.index().entry(path);
  if (gone && gone->deleted) deletionOrdered_[path] = gone->deletedAt;
  say("deleted " + shown(path) + (isDir ? "/" : "") + " on the client");
}

bool SyncSession::moveOnClient(const std::string& from, const std::string& to) {
  std::string body = requestBody({{"sourcefilepath", folderForm(from)}, {"destinationfilepath", folderForm(to)}});
  auto id = peer_.sendRequest("RQMOV", body, body.size());
  auto answer = peer_.readAnswer(id, {"ANMOV", "FLMOV"});
  if (answer.type == "FLMOV") {
    failedMoves_.push_back(from);
    say("client could not move " + shown(from) + " to " + shown(to) + "; it gets deletions and pushes instead");
    return false;
  }
  forgetSubtree(from);
  say("moved " + shown(from) + " to " + shown(to) + " on the client");
  return true;
}

void SyncSession::finishCycle() {
  std::string body = requestBody({{"date", dateMember()}, {"time", timeMember()}});
  peer_.sendRequest("RQFLS", body, body.size());
}

void SyncSession::fetchLog() {
  fs::create_directories(fs::path(contract_.clientLogPath).parent_path());
  std::string temp = contract_.clientLogPath + "." + std::to_string(reinterpret_cast<std::uintptr_t>(this)) + ".part";
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) throw std::runtime_error("cannot write " + temp + ": " + std::strerror(errno));
  IncomingFile file(temp, fd);  // removed unless kept
  std::string body = requestBody({{"logfile", "Filesync.log"}});
  auto id = peer_.sendRequest("RQLOG", body, body.size());
  auto header = peer_.readAnswer(id, {"ANLOG"});
  if (header.payloadLength >= kMaxPayload) throw PeerError("ANLOG announces an impossible size");
  if (header.payloadLength > options_.maxLogBytes) {
    say("client log of " + std::to_string(header.payloadLength) + " bytes not kept: over the limit of " +
        std::to_string(options_.maxLogBytes) + " bytes (--max-log)");
    for (std::uint64_t left = header.payloadLength; left > 0;) {
      auto n = std::min<std::uint64_t>(left, options_.chunkBytes);
      peer_.readExact(static_cast<std::size_t>(n));
      left -= n;
    }
    drainUntilQuiet(300);
    return;
  }
  receiveInto(file, header.payloadLength, "receiving the client log");
  // The log grows while it is sent: the lines written meanwhile follow the
  // announced size. They are kept up to the limit; a client that keeps sending
  // beyond it is out of turn.
  bool diskOk = true;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(peer_.timeoutMs());
  for (std::string more; !(more = peer_.readSome(Peer::kChunk, 300)).empty();) {
    if (static_cast<std::uint64_t>(file.size()) + more.size() > options_.maxLogBytes ||
        std::chrono::steady_clock::now() >= deadline) {
      throw PeerError("the client sent more than its log after ANLOG");
    }
    diskOk = file.write(more) && diskOk;
  }
  if (!diskOk || ::fsync(fd) != 0) throw std::runtime_error("cannot write " + temp + ": " + std::strerror(errno));
  if (::rename(temp.c_str(), contract_.clientLogPath.c_str()) != 0) throw std::runtime_error("cannot keep the client log");
  file.taken();
  say("client log saved to " + contract_.clientLogPath + " (" + std::to_string(file.size()) + " bytes)");
}

}  // namespace kqs
