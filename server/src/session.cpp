#include "session.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <functional>
#include <algorithm>
#include <filesystem>

#include "disk_store_files.h"
#include "listing_plan.h"
#include "log_text.h"
#include "path_set.h"
#include "plan_rules.h"

namespace fs = std::filesystem;

namespace kqs {

namespace {

// shown is a client-controlled value as the log shows it.
std::string shown(std::string_view value) { return logValue(value); }

// hostOf is a peer name ("10.0.0.2:51234", "[::1]:51234") without its port.
std::string hostOf(const std::string& who) {
  auto space = who.find(' ');
  std::string name = space == std::string::npos ? who : who.substr(space + 1);
  auto colon = name.rfind(':');
  return colon == std::string::npos ? name : name.substr(0, colon);
}

// changesStore: actions whose whole work is a store step, taken under the lock.
bool changesStore(ActionKind kind) {
  return kind == ActionKind::CreateStoreFolder || kind == ActionKind::RecordKnown ||
         kind == ActionKind::DeleteInStore || kind == ActionKind::RenameInStore;
}

}  // namespace

bool SyncSession::stale(const Action& a) {
  listingWanted_ = true;
  say("not done this cycle: the store changed at " + shown(a.path) +
      " since it was planned; the next cycle plans it again");
  return true;
}

SyncSession::SyncSession(Peer& peer, ContractState& contract, ServerLog& log, std::string who,
                         SessionOptions options)
    : peer_(peer), contract_(contract), store_(*contract.store), log_(log), who_(std::move(who)),
      options_(options), clientHost_(hostOf(who_)),
      ledger_(contract.pushes, clientHost_, options.firstRetrySeconds, options.maxRetrySeconds),
      turns_(*contract.lock, contract.store->index()),
      ownFiles_(contract.files ? nullptr : std::make_unique<DiskStoreFiles>(*contract.store, contract.clientLogPath)),
      files_(contract.files ? *contract.files : *ownFiles_),
      talk_(peer, peer.clock(), [this](const std::string& text) { say(text); },
            [this] { return Conversation::FiguresLeft{filesLeft_, bytesLeft_}; },
            {options.chunkBytes, options.progressBytes, options.maxChanges, options.maxListingBytes,
             options.maxLogBytes}) {
  lastListingMs_ = peer_.clock().steadyMs();  // a listing waiting for reports counts from the connection
  turns_.afterEachTurn([this] { store_.commitIfDue(peer_.clock().steadyMs()); });
  talk_.onLateReport([this](const ChangeReport& report) {  // the rest of a running plan leaves its path alone
    touched_.insert(report.path);
    if (!report.newname.empty()) touched_.insert(parentOf(report.path) + "/" + report.newname);
  });
}


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
  }  try {
    Turn turn(turns_);
    store_.commitWrites();  // what this client's steps left in the batch
  } catch (const std::exception& e) {
    say(std::string("index not committed: ") + e.what());
  }
}

void SyncSession::cycle() {
  bool usable;
  {
    Turn turn(turns_);
    usable = store_.prepareCycle(now()).has_value();
  }
  if (!usable) {  // the store cannot be read: nothing is decided this cycle
    finishCycle();
    return;
  }
  bool drained = takeChanges();
  if (listingDue(drained)) {
    listingWanted_ = false;
    lastListingMs_ = peer_.clock().steadyMs();
    auto listing = talk_.requestListing();
    if (listing && isOnlySystemListing(*listing) && (!listed_.empty() || !missing_.empty())) {
      // The client held synchronised files before: a folder that went missing, not a user's deletions.
      say("listing holds nothing but the client's own folders; taken as no listing this cycle");
      listing.reset();
    }
    if (listing) reconcile(*listing);
    else listingWanted_ = true;
  }
  applyLateReports();
  finishCycle();
}

// listingDue: while nothing changed on either side since the last listing,
// the change requests tell everything and the sync folder is not walked.
bool SyncSession::listingDue(bool drained) {
  // While reports keep coming, their files are fetched as they come; a
  // listing now would fetch the rest once more when their reports follow.
  if (!drained && peer_.clock().steadyMs() - lastListingMs_ < options_.maxListingDeferMs) return false;
  if (listingWanted_ || !listedVersion_ || ledger_.pending() || !failedMoves_.empty()) return true;
  if (!missing_.empty()) return true;  // entries gone from the last listing wait for the next
  if (peer_.clock().steadyMs() - lastListingMs_ >= options_.listingSafetyMs) return true;
  if (contract_.held && fs::exists(contract_.held->recordPath())) return true;  // a decision may be waiting
  Turn turn(turns_);
  return store_.index().currentVersion() != *listedVersion_;
}

// takeChanges acts on each change report as it comes: a fetch it plans goes
// before the next report is asked for (the change request that frames the
// fetched data brings that report along), so the work of every report taken
// is done even when the connection drops before the queue is empty.
bool SyncSession::takeChanges() {
  for (int taken = 0; taken < options_.maxChanges; ++taken) {
    auto report = talk_.takeLateReport();
    if (!report) {
      report = talk_.requestChange();  // the figures are 0 between plans
      if (!report) continue;
      if (report->changetype.empty()) return true;
    }
    applyReport(*report, true);
  }
  return false;
}

// reportInput is the planner input of one change report: the index and this
// connection's records around the reported paths only.
PlanInput SyncSession::reportInput(const ChangeReport& report) {
  PlanInput in;
  std::vector<std::string> paths{report.path};
  if (!report.newname.empty()) paths.push_back(parentOf(report.path) + "/" + report.newname);
  for (auto& path : paths) {
    store_.fillAround(in, path);
    copySubtree(synced_, in.session, path);
    copySubtree(listed_, in.listed, path);
    copySubtree(deletionOrdered_, in.deletionOrdered, path);
    ledger_.fillAround(in, path);
    in.fetched.merge(contract_.fetches.forHostIn(clientHost_, path));
  }
  in.failedMoves = failedMoves_;
  return in;
}

// applyReport plans one change report under the contract's lock and carries
// its actions out; fresh: no other plan runs (the report's plan is the
// session's plan until the next).
void SyncSession::applyReport(const ChangeReport& report, bool fresh) {
  PlanInput in;
  listingWanted_ = true;  // the next listing confirms what the report's plan did
  std::vector<Action> plan;
  {
    Turn turn(turns_);
    in = reportInput(report);
    if (fresh) turns_.newPlan();
    plan = planChanges({report}, in);
  }
  for (auto& action : plan) guarded(action, in);
}

void SyncSession::applyLateReports() {
  for (int i = 0; i < options_.maxChanges; ++i) {
    auto report = talk_.takeLateReport();
    if (!report) break;
    applyReport(*report, false);
  }
}

void SyncSession::reconcile(std::vector<ListingEntry>& listing) {
  PlanInput in;
  std::optional<ListingPlan> plan;
  // The plan's pushes of paths pushed since the last listing or backing off
  // (few; one more pass over the plan only when there are any).
  std::vector<Action> again;
  {
    Turn turn(turns_);
    if (contract_.held) seedHeld(*contract_.held, missing_);  // held deletions stay deletions
    in = planInput();
    listedVersion_ = store_.index().currentVersion();
    turns_.newPlan();
    listed_.clear();  // in.listed and in.missing hold them for the plan; the plan's replace them
    missing_.clear();
    plan.emplace(std::move(listing), in);
    if (ledger_.pending()) again = plan->pushesOf([this](const std::string& p) { return ledger_.concerns(p); });
    checkPushes(again, plan->listedInStep(), in);
  }
  std::set<std::string> heldBack;  // pushes backing off: left out of this plan
  filesLeft_ = plan->filesToPush();
  bytesLeft_ = plan->bytesToPush();
  for (auto& a : again) {
    if (!backingOff(a)) continue;
    heldBack.insert(a.path);
    --filesLeft_;
    bytesLeft_ -= in.store.at(a.path).size;
  }
  touched_.clear();
  bool first = true;
  bool goOn = true;
  for (auto batch = plan->next(); goOn && !batch.empty(); batch = plan->next()) {
    for (auto& action : batch) {
      if (action.kind == ActionKind::PushFile && heldBack.count(action.path) != 0) continue;
      if (touchesAny(touched_, action.path)) continue;
      if (action.kind == ActionKind::PushFile) {
        announceProgress(first);
        first = false;
        if (touchesAny(touched_, action.path)) continue;
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
  listed_ = plan->takeListedInStep();
  missing_ = plan->missingNext();
  countInferred(plan->inferred());
  if (contract_.held) {
    auto settled = settleHeld(*contract_.held, plan->heldDeletions(), in, missing_, contract_.account.contract);
    for (auto& note : settled.notes) say(note);
    for (auto& deletion : settled.deletions) guarded(deletion, in);
  }
}

void SyncSession::countInferred(const InferredCount& count) {
  if (count.entries > 0) inferred_.push_back({peer_.clock().steadyMs(), count});
}

InferredCount SyncSession::recentInferred() {
  auto since = peer_.clock().steadyMs() - kInferredWindowSeconds * 1000;
  while (!inferred_.empty() && inferred_.front().first < since) inferred_.pop_front();
  InferredCount sum;
  for (auto& [at, count] : inferred_) sum += count;
  return sum;
}

void SyncSession::checkPushes(const std::vector<Action>& plan, const std::map<std::string, std::int64_t>& inStep,
                              const PlanInput& in) {
  for (auto& retry : ledger_.review(plan, inStep, in.store, now())) {
    say("push of " + shown(retry.path) + " did not take on the client (" +
        (retry.listed ? "different" : "missing or different") + " in its listing); failed item, tried again in " +
        std::to_string(retry.delaySeconds) + " s");
  }
}

bool SyncSession::backingOff(const Action& a) const {
  return a.kind == ActionKind::PushFile && ledger_.backingOff(a.path, now());
}

void SyncSession::announceProgress(bool force) {
  auto t = peer_.clock().steadyMs();
  if (!force && lastProgressMs_ && t - *lastProgressMs_ < options_.progressMs) return;
  lastProgressMs_ = t;
  auto report = talk_.requestChange();
  if (!report || report->changetype.empty()) return;
  touched_.insert(report->path);
  if (!report->newname.empty()) touched_.insert(parentOf(report->path) + "/" + report->newname);
  applyReport(*report, false);
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
  in.missing = missing_;
  in.recentInferred = recentInferred();
  in.deletionOrdered = deletionOrdered_;
  ledger_.fill(in);
  in.fetched = contract_.fetches.forHost(clientHost_);
  return in;
}

bool SyncSession::guarded(const Action& a, const PlanInput& in) {
  try {
    if (a.kind == ActionKind::Skip) return execute(a, in);  // a log line only
    if (changesStore(a.kind)) {
      Turn turn(turns_);
      if (!turns_.current(a, in)) return stale(a);
      turns_.changing(a.path);
      if (!a.target.empty()) turns_.changing(a.target);
      return execute(a, in);
    }
    {
      Turn turn(turns_);
      if (!turns_.current(a, in)) return stale(a);
    }
    return execute(a, in);  // the client's part goes without the lock; each store step takes it
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
      if (a.replaces) store_.replaceFileByFolder(a.path, a.mode, now());
      else store_.makeFolder(a.path, now());
      synced_[a.path] = store_.index().entry(a.path).value().version;
      say("store: created folder " + shown(a.path));
      break;
    case ActionKind::Fetch: fetch(a, in); break;
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
  eraseSubtree(synced_, path);
  eraseSubtree(listed_, path);
  eraseSubtree(missing_, path);
}

void SyncSession::fetch(const Action& a, const PlanInput& in) {
  auto file = files_.beginIncoming();
  auto fetched = talk_.fetchFile(a.path, [&](std::string_view data) { return file->write(data); }, file->path());
  if (fetched.extraBytes > 0) {
    say("fetch of " + shown(a.path) + " dropped: the file changed while it was sent");
    listingWanted_ = true;
    return;
  }
  if (fetched.size == 0 && a.size > 0) {
    say("fetch of " + shown(a.path) + " dropped: the client sent no data (gone meanwhile?)");
    listingWanted_ = true;
    return;
  }
  if (keepFetched(a, in, *file, fetched.size)) return;
  if (a.replaces) pushFolder(a.path);  // the client's file was kept beside the store's folder
  else pushFile(a.path);
}

// keepFetched takes a fetched copy into the store under the contract's lock,
// when the store's entry is still the one planned; false when the store's
// copy won a conflict and goes to the client.
bool SyncSession::keepFetched(const Action& a, const PlanInput& in, StoreIncoming& file, std::uint64_t size) {
  Turn turn(turns_);
  if (!turns_.current(a, in)) {
    say("fetch of " + shown(a.path) + " dropped: the store changed meanwhile; the next cycle plans it again");
    listingWanted_ = true;
    return true;
  }
  turns_.changing(a.path);
  auto result = files_.accept(a.path, file, a.mode, a.mtime, now());
  switch (result.outcome) {
    case AcceptOutcome::Refused:
      say("fetch of " + shown(a.path) + " refused: a folder holds that path in the store");
      return true;
    case AcceptOutcome::DeletionStands:
      say("fetched " + shown(a.path) + ": the content deleted in the store; the deletion stands");
      return true;
    case AcceptOutcome::Unchanged: say("fetched " + shown(a.path) + ": same content as the store"); break;
    case AcceptOutcome::Updated:
      say("fetched " + shown(a.path) + " (" + std::to_string(size) + " bytes) into the store");
      break;
    case AcceptOutcome::ConflictClientWon:
      say("conflict on " + shown(a.path) + ": the client's newer copy wins, the store's copy is kept as " +
          shown(result.conflictPath));
      break;
    case AcceptOutcome::ConflictStoreKept:
      say("conflict on " + shown(a.path) + ": the store's newer copy wins, the client's copy is kept as " +
          shown(result.conflictPath));
      return false;
  }
  synced_[a.path] = result.entry.version;
  if (a.mtime > 0) store_.recordKnown(a.path, static_cast<std::int64_t>(size), a.mtime, result.entry.hash);
  else contract_.fetches.record(clientHost_, a.path, {result.entry.version, static_cast<std::int64_t>(size), now()});
  return true;
}

void SyncSession::pushFolder(const std::string& path) {
  std::optional<StoreEntry> entry;
  {
    Turn turn(turns_);
    entry = store_.index().entry(path);
  }
  if (!entry || entry->deleted) {
    say("push of folder " + shown(path) + " not done: the store changed meanwhile; the next cycle plans it again");
    return;
  }
  talk_.offer(path, true);
  synced_[path] = entry->version;
  say("pushed folder " + shown(path));
}

void SyncSession::pushFile(const std::string& path) {
  std::optional<StoreEntry> entry;
  std::unique_ptr<PushSource> source;
  std::string why;
  {
    Turn turn(turns_);  // the opened file keeps this version's bytes, whatever replaces it later
    entry = store_.index().entry(path);
    if (entry && !entry->deleted) source = files_.openForPush(path, why);
  }
  if (!entry || entry->deleted) {
    say("push of " + shown(path) + " not done: the store changed meanwhile; the next cycle plans it again");
    return;
  }
  if (!source) {
    say("push of " + shown(path) + " skipped: " + why);
    return;
  }
  std::uint64_t size = source->size();
  talk_.offer(path, false);
  std::int64_t started = now();
  PushAttempt attempt{entry->version, static_cast<std::int64_t>(size), started, started, false};
  {
    Turn turn(turns_);
    ledger_.started(path, attempt);
  }
  SentData sent;
  try {
    sent = talk_.sendData(path, *source);  // no lock while the data goes
  } catch (...) {
    try {
      Turn turn(turns_);
      ledger_.ended(path, attempt, now(), false);  // a cut-off push explains a partial copy written until now
    } catch (...) {
    }
    throw;
  }
  if (sent.refusedEarly) {
    {
      Turn turn(turns_);
      ledger_.refused(path);
    }
    failedItem(path, "refused by the client (excluded there); not offered again on this connection");
    return;
  }
  {
    Turn turn(turns_);
    ledger_.ended(path, attempt, now(), true);
  }
  if (sent.shortRead) {
    say("push of " + shown(path) + " incomplete: the store file shrank while it was sent; it is sent again");
    return;
  }
  synced_[path] = entry->version;
  ledger_.delivered(path);
  recordPushed(path, attempt, entry->hash);
  say("pushed " + shown(path) + " (" + std::to_string(size) + " bytes)");
}

// recordPushed keeps the copy a complete push left on the client in the
// index at once, so that a restart before the next listing does not take it
// for a copy of unknown content (and a later store edit for a conflict).
void SyncSession::recordPushed(const std::string& path, const PushAttempt& attempt, const std::string& hash) {
  try {
    Turn turn(turns_);
    store_.recordPushed(path, attempt.size, hash, attempt.startedAt - plan::kPushSlackSeconds, now());
  } catch (const std::exception& e) {
    say("push of " + shown(path) + " not recorded in the index: " + e.what() + "; the next listing records it");
  }
}

void SyncSession::deleteOnClient(const std::string& path, bool isDir) {
  talk_.deleteOnClient(path, isDir);
  forgetSubtree(path);
  std::optional<StoreEntry> gone;
  {
    Turn turn(turns_);
    gone = store_.index().entry(path);
  }
  if (gone && gone->deleted) deletionOrdered_[path] = gone->deletedAt;
  say("deleted " + shown(path) + (isDir ? "/" : "") + " on the client");
}

bool SyncSession::moveOnClient(const std::string& from, const std::string& to) {
  if (!talk_.moveOnClient(from, to)) {
    failedMoves_.push_back(from);
    say("client could not move " + shown(from) + " to " + shown(to) + "; it gets deletions and pushes instead");
    return false;
  }
  forgetSubtree(from);
  say("moved " + shown(from) + " to " + shown(to) + " on the client");
  return true;
}

void SyncSession::finishCycle() {
  {
    Turn turn(turns_);
    store_.commitWrites();  // the cycle's index changes are durable before it closes
  }
  talk_.finishCycle();
}

void SyncSession::fetchLog() {
  auto upload = files_.beginClientLog();
  if (!talk_.uploadLog(*upload)) return;  // over the limit: the temporary file goes with upload
  upload->keep();
  say("client log saved to " + upload->target() + " (" + std::to_string(upload->size()) + " bytes)");
}

}  // namespace kqs
