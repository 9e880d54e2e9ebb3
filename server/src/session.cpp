#include "session.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <functional>
#include <algorithm>
#include <filesystem>

#include "listing_plan.h"
#include "log_text.h"

namespace fs = std::filesystem;

namespace kqs {

namespace {

constexpr std::uint64_t kMaxPayload = std::uint64_t(1) << 62;  // a negative size from the client is refused
constexpr std::uint64_t kMaxChangeReport = 1 << 20;
constexpr std::uint64_t kMaxExtraBytes = std::uint64_t(1) << 30;  // data beyond an announced size, read and dropped

std::int64_t now() { return static_cast<std::int64_t>(std::time(nullptr)); }

std::string folderForm(const std::string& path) { return path + "/"; }

// shown is a client-controlled value as the log shows it.
std::string shown(std::string_view value) { return logValue(value); }

// hostOf is a peer name ("10.0.0.2:51234", "[::1]:51234") without its port.
std::string hostOf(const std::string& who) {
  auto space = who.find(' ');
  std::string name = space == std::string::npos ? who : who.substr(space + 1);
  auto colon = name.rfind(':');
  return colon == std::string::npos ? name : name.substr(0, colon);
}

// megabytes rounds a byte count up to whole MiB, as the status bar shows it.
std::int64_t megabytes(std::int64_t bytes) { return (bytes + (1 << 20) - 1) / (1 << 20); }

bool touches(const std::string& path, const std::string& changed) {
  return path == changed || isUnder(path, changed) || isUnder(changed, path);
}

}  // namespace

SyncSession::SyncSession(Peer& peer, ContractState& contract, ServerLog& log, std::string who,
                         SessionOptions options)
    : peer_(peer), contract_(contract), store_(*contract.store), log_(log), who_(std::move(who)),
      options_(options), clientHost_(hostOf(who_)) {}

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

void SyncSession::cycle() {
  std::lock_guard lock(contract_.mutex);
  if (!store_.prepareCycle(now())) {  // the store cannot be read: nothing is decided this cycle
    finishCycle();
    return;
  }
  auto reports = drainChanges();
  PlanInput in = planInput();
  for (auto& action : planChanges(reports, in)) guarded(action, in);
  applyLateReports();
  auto listing = requestListing();
  if (listing && isOnlySystemListing(*listing) && !listed_.empty()) {
    // The client held synchronised files before: a folder that went missing, not a user's deletions.
    say("listing holds nothing but the client's own folders; taken as no listing this cycle");
    listing.reset();
  }
  if (listing) reconcile(*listing);
  applyLateReports();
  finishCycle();
}

void SyncSession::applyLateReports() {
  for (int i = 0; i < options_.maxChanges && !lateReports_.empty(); ++i) {
    ChangeReport report = lateReports_.front();
    lateReports_.pop_front();
    PlanInput in = planInput();
    for (auto& action : planChanges({report}, in)) guarded(action, in);
  }
}

void SyncSession::reconcile(std::vector<ListingEntry>& listing) {
  PlanInput in = planInput();
  listed_.clear();  // in.listed holds it for the plan; the plan's entries in step replace it
  ListingPlan plan(std::move(listing), in);
  // The plan's pushes of paths pushed since the last listing or backing off
  // (few; one more pass over the plan only when there are any).
  std::vector<Action> again;
  if (!awaiting_.empty() || !backoff_.empty()) {
    again = plan.pushesOf([this](const std::string& p) { return awaiting_.count(p) != 0 || backoff_.count(p) != 0; });
  }
  checkPushes(again, plan.listedInStep(), in);
  std::set<std::string> heldBack;  // pushes backing off: left out of this plan
  filesLeft_ = plan.filesToPush();
  bytesLeft_ = plan.bytesToPush();
  for (auto& a : again) {
    if (!backingOff(a)) continue;
    heldBack.insert(a.path);
    --filesLeft_;
    bytesLeft_ -= in.store.at(a.path).size;
  }
  touched_.clear();
  bool first = true;
  bool goOn = true;
  for (auto batch = plan.next(); goOn && !batch.empty(); batch = plan.next()) {
    for (auto& action : batch) {
      if (action.kind == ActionKind::PushFile && heldBack.count(action.path) != 0) continue;
      if (std::any_of(touched_.begin(), touched_.end(), [&](auto& t) { return touches(action.path, t); })) continue;
      if (action.kind == ActionKind::PushFile) {
        announceProgress(first);
        first = false;
        if (std::any_of(touched_.begin(), touched_.end(), [&](auto& t) { return touches(action.path, t); })) continue;
      }
      goOn = guarded(action, in);
      applyLateReports();
      if (!goOn) break;
      if (action.kind == ActionKind::PushFile) {
        filesLeft_ = std::max<std::int64_t>(0, filesLeft_ - 1);
        bytesLeft_ = std::max<std::int64_t>(0, bytesLeft_ - in.store.at(action.path).size);
      }
    }
  }
  filesLeft_ = bytesLeft_ = 0;
  listed_ = plan.takeListedInStep();
}

void SyncSession::checkPushes(const std::vector<Action>& plan, const std::map<std::string, std::int64_t>& inStep,
                              const PlanInput& in) {
  std::set<std::string> again;
  for (auto& a : plan) {
    if (a.kind == ActionKind::PushFile) again.insert(a.path);
  }
  for (auto& path : awaiting_) {
    auto record = contract_.pushes.find(pushKey(path));
    auto entry = in.store.find(path);
    bool sameVersion = record != contract_.pushes.end() && entry != in.store.end() && !entry->second.deleted &&
                       entry->second.version == record->second.version;
    if (again.count(path) == 0 || !sameVersion) {
      backoff_.erase(path);
      if (inStep.count(path) != 0 && record != contract_.pushes.end()) contract_.pushes.erase(record);
      continue;
    }
    auto& b = backoff_[path];
    b.delaySeconds = b.delaySeconds == 0 ? options_.firstRetrySeconds
                                         : std::min(options_.maxRetrySeconds, b.delaySeconds * 2);
    b.nextTry = now() + b.delaySeconds;
    say("push of " + shown(path) + " did not take on the client (" +
        (inStep.count(path) != 0 ? "different" : "missing or different") + " in its listing); failed item, tried again in " +
        std::to_string(b.delaySeconds) + " s");
  }
  awaiting_.clear();
}

bool SyncSession::backingOff(const Action& a) const {
  if (a.kind != ActionKind::PushFile) return false;
  auto it = backoff_.find(a.path);
  return it != backoff_.end() && now() < it->second.nextTry;
}

void SyncSession::announceProgress(bool force) {
  auto t = std::chrono::steady_clock::now();
  if (!force && t - lastProgress_ < std::chrono::milliseconds(options_.progressMs)) return;
  lastProgress_ = t;
  auto report = requestChange(std::to_string(filesLeft_), std::to_string(megabytes(bytesLeft_)));
  if (!report || report->changetype.empty()) return;
  touched_.insert(report->path);
  if (!report->newname.empty()) touched_.insert(parentOf(report->path) + "/" + report->newname);
  PlanInput in = planInput();
  for (auto& action : planChanges({*report}, in)) guarded(action, in);
}

void SyncSession::failedItem(const std::string& path, const std::string& reason) {
  if (!failedItems_.insert(path + "\n" + reason).second) return;
  say("failed item " + shown(path) + ": " + reason + " (" + std::to_string(failedItems_.size()) +
      " failed on this connection)");
}

PlanInput SyncSession::planInput() {
  PlanInput in;
  store_.fill(in);
  in.session = synced_;
  in.failedMoves = failedMoves_;
  in.listed = listed_;
  in.deletionOrdered = deletionOrdered_;
  in.refused = refused_;
  std::string prefix = clientHost_ + "\n";
  for (auto it = contract_.pushes.lower_bound(prefix); it != contract_.pushes.end(); ++it) {
    if (it->first.compare(0, prefix.size(), prefix) != 0) break;
    in.pushes[it->first.substr(prefix.size())] = it->second;
  }
  return in;
}

std::vector<ChangeReport> SyncSession::drainChanges() {
  std::vector<ChangeReport> reports;
  for (int i = 0; i < options_.maxChanges; ++i) {
    auto report = requestChange("0", "0");
    if (!report) continue;
    if (report->changetype.empty()) break;
    reports.push_back(*report);
  }
  return reports;
}

std::optional<ChangeReport> SyncSession::requestChange(const std::string& filesLeft, const std::string& mbytesLeft) {
  auto id = sendChangeRequest(filesLeft, mbytesLeft);
  auto header = peer_.readAnswer(id, {"ANCHG"});
  if (header.payloadLength > kMaxChangeReport) throw PeerError("oversized change report");
  Received json;
  peer_.readBody(static_cast<std::size_t>(header.payloadLength), json);
  return takeChangeReport(json.view());
}

kq::RequestId SyncSession::sendChangeRequest(const std::string& filesLeft, const std::string& mbytesLeft) {
  std::string body = requestBody({{"date", dateMember()}, {"time", timeMember()}, {"filesleft", filesLeft},
                                  {"mbytesleft", mbytesLeft}});
  return peer_.sendRequest("RQCHG", body, body.size());
}

std::optional<ChangeReport> SyncSession::takeChangeReport(std::string_view json) {
  std::string refusal;
  auto report = parseChangeReport(json, &refusal);
  if (!report) {
    say("unusable change report of " + std::to_string(json.size()) + " bytes skipped");
    return std::nullopt;
  }
  if (!refusal.empty()) {
    say("change report refused, " + refusal + ": " + shown(report->changetype) + " " + shown(report->path) +
        (report->newname.empty() ? "" : " -> " + shown(report->newname)));
    return std::nullopt;
  }
  if (!report->changetype.empty()) {
    say("client reports " + shown(report->changetype) + " " + shown(report->path) +
        (report->newname.empty() ? "" : " -> " + shown(report->newname)));
  }
  return report;
}

std::uint64_t SyncSession::probeAfterData(const std::function<void(std::string_view)>& extra, std::uint64_t maxExtra) {
  auto id = sendChangeRequest(std::to_string(filesLeft_), std::to_string(megabytes(bytesLeft_)));
  const std::string expect = "ANCHG" + std::string(id.begin(), id.end());
  std::string buffer;
  std::uint64_t extraBytes = 0;
  auto spill = [&](std::size_t n) {
    if (n == 0) return;
    extraBytes += n;
    if (extraBytes > maxExtra) throw PeerError("more data than announced, beyond " + std::to_string(maxExtra) + " bytes");
    extra(std::string_view(buffer.data(), n));
    buffer.erase(0, n);
  };
  std::size_t at;
  while ((at = buffer.find(expect)) == std::string::npos) {
    spill(buffer.size() - std::min(buffer.size(), expect.size() - 1));  // keep what may start the header
    std::string more = peer_.readSome(1 << 16, peer_.timeoutMs());
    if (more.empty()) throw PeerError("the client stopped answering");
    buffer += more;
  }
  spill(at);
  if (buffer.size() < kq::kHeaderSize) buffer += peer_.readExact(kq::kHeaderSize - buffer.size());
  std::uint64_t length = kq::payloadLength(buffer);
  if (length > kMaxChangeReport) throw PeerError("oversized change report");
  std::string json = buffer.substr(kq::kHeaderSize);
  if (json.size() > length) throw PeerError("unexpected bytes after a change report");
  json += peer_.readExact(static_cast<std::size_t>(length) - json.size());
  auto report = takeChangeReport(json);
  if (report && !report->changetype.empty()) {
    touched_.insert(report->path);
    if (!report->newname.empty()) touched_.insert(parentOf(report->path) + "/" + report->newname);
    if (lateReports_.size() < static_cast<std::size_t>(options_.maxChanges)) lateReports_.push_back(*report);
    else say("change report of " + shown(report->path) + " not kept: too many waiting");
  }
  return extraBytes;
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
      if (a.failed) failedItem(a.path, a.note);
      else if (saidSkips_.insert(a.path + "\n" + a.note).second) say("skipped " + shown(a.path) + ": " + shown(a.note));
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
  // The next request's answer shows where the file's data ended: bytes before
  // it are more than the client announced (a file that grew while it was sent).
  if (probeAfterData([](std::string_view) {}, kMaxExtraBytes) > 0) {
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

void SyncSession::pushFolder(const std::string& path) {
  std::string body = requestBody({{"filepath", folderForm(path)}});
  auto id = peer_.sendRequest("RQPUT", body, body.size());
  peer_.readAnswer(id, {"ANPUT"});
  synced_[path] = store_.index().entry(path).value().version;
  say("pushed folder " + shown(path));
}

PushAttempt& SyncSession::recordPush(const std::string& path, const PushAttempt& attempt) {
  auto& pushes = contract_.pushes;
  if (pushes.size() >= ContractState::kMaxPushRecords && pushes.count(pushKey(path)) == 0) {
    auto oldest = std::min_element(pushes.begin(), pushes.end(),
                                   [](auto& a, auto& b) { return a.second.endedAt < b.second.endedAt; });
    pushes.erase(oldest);
  }
  return pushes[pushKey(path)] = attempt;
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
  std::int64_t started = now();
  auto& attempt = recordPush(path, {entry.version, static_cast<std::int64_t>(size), started, started, false});
  bool refusedEarly = false;
  bool shortRead = false;
  try {
    sendData(path, fd, size, refusedEarly, shortRead);
  } catch (...) {
    attempt.endedAt = now();  // a cut-off push explains a partial copy written until now
    throw;
  }
  attempt.endedAt = now();
  attempt.complete = true;
  if (refusedEarly) {
    refused_.insert(path);
    contract_.pushes.erase(pushKey(path));
    failedItem(path, "refused by the client (excluded there); not offered again on this connection");
    return;
  }
  if (shortRead) {
    say("push of " + shown(path) + " incomplete: the store file shrank while it was sent; it is sent again");
    return;
  }
  synced_[path] = entry.version;
  awaiting_.insert(path);
  say("pushed " + shown(path) + " (" + std::to_string(size) + " bytes)");
}

void SyncSession::sendData(const std::string& path, int fd, std::uint64_t size, bool& refusedEarly, bool& shortRead) {
  auto dataId = peer_.sendRequest("RQFDA", "", size);
  // Every announced byte goes out, whatever the client answers meanwhile: it
  // counts them off even when it refused the file. An answer that arrives
  // before the last byte was sent is a refusal; one after it takes the data.
  std::string buffer(options_.chunkBytes, '\0');
  std::uint64_t done = 0;
  std::uint64_t nextProgress = static_cast<std::uint64_t>(options_.progressBytes);
  while (done < size) {
    if (!refusedEarly && peer_.readable()) {
      peer_.readAnswer(dataId, {"ANFDA"});
      refusedEarly = true;
    }
    auto want = static_cast<std::size_t>(std::min<std::uint64_t>(size - done, buffer.size()));
    auto n = ::read(fd, buffer.data(), want);
    if (n <= 0) {  // the store file shrank: complete the announced size, resend next cycle
      std::fill(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(want), '\0');
      n = static_cast<ssize_t>(want);
      shortRead = true;
    }
    peer_.sendAll(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
    done += static_cast<std::uint64_t>(n);
    if (!refusedEarly && size > static_cast<std::uint64_t>(options_.progressBytes) &&
        (done >= nextProgress || done == size)) {
      say("sending " + shown(path) + ": " + std::to_string(done) + " of " + std::to_string(size) + " bytes");
      nextProgress += static_cast<std::uint64_t>(options_.progressBytes);
    }
  }
  if (!refusedEarly) peer_.readAnswer(dataId, {"ANFDA"});
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
  if (fd < 0) throw std::runtime_error("cannot write " + temp);
  IncomingFile file(temp, fd);
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
    probeAfterData([](std::string_view) {}, kMaxExtraBytes);
    return;  // the temporary file goes with file
  }
  receiveInto(file, header.payloadLength, "receiving the client log");
  // The log grows while it is sent: the lines written meanwhile follow the
  // announced size, up to the answer of the next request; they are kept up
  // to the limit, and more is out of turn.
  bool diskOk = true;
  probeAfterData([&](std::string_view more) { diskOk = file.write(more) && diskOk; },
                 options_.maxLogBytes - header.payloadLength);
  if (!diskOk || ::fsync(fd) != 0) throw std::runtime_error("cannot write " + temp + ": " + std::strerror(errno));
  if (::rename(temp.c_str(), contract_.clientLogPath.c_str()) != 0) throw std::runtime_error("cannot keep the client log");
  file.taken();
  say("client log saved to " + contract_.clientLogPath + " (" + std::to_string(file.size()) + " bytes)");
}

}  // namespace kqs
