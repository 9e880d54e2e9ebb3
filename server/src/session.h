#pragma once
// SyncSession drives one connected client: every few seconds a cycle takes
// the client's changes (RQCHG) and acts on each as it comes, reconciles a listing of the whole sync folder
// with the store (RQLST), carries out the planned fetches, pushes, deletions
// and moves, and closes with RQFLS. One thread runs one session. The
// contract's lock is taken to plan and again for each action's store step,
// never while file data travels, so the other clients of the contract wait at
// most one store step of a slow client; an action whose part of the store
// changed since it was planned is left for the next cycle.
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <mutex>
#include <string>
#include <vector>

#include "accounts.h"
#include "conversation.h"
#include "contract_lock.h"
#include "held_deletions.h"
#include "peer.h"
#include "planner.h"
#include "push_ledger.h"
#include "server_log.h"
#include "store.h"
#include "store_files.h"
#include "store_turns.h"

namespace kqs {

// ContractState is what the sessions of one contract share.
struct ContractState {
  Account account;
  std::unique_ptr<ContractLock> lock = std::make_unique<TurnLock>();  // held for one store step at a time
  std::unique_ptr<Store> store;
  std::string clientLogPath;
  std::unique_ptr<StoreFiles> files;  // the transfers' files; DiskStoreFiles over store when not set
  PushRecords pushes;  // the last push of each path to each client host (under the lock)
  FetchRecords fetches;  // the last copy fetched on a report from each client host (under the lock)
  std::unique_ptr<HeldDeletions> held;  // the guard's held deletions; none kept when not set
};

struct SessionOptions {
  int cycleMs = 3000;           // pause between cycles (also the pause after RQFLS)
  std::size_t chunkBytes = 1 << 20;
  std::int64_t progressBytes = 8 << 20;  // transfers above this log progress lines
  int maxChanges = 1000;        // change reports taken per cycle
  std::uint64_t maxListingBytes = std::uint64_t(64) << 20;  // a longer listing ends the cycle unreconciled
  std::uint64_t maxLogBytes = std::uint64_t(64) << 20;      // a longer client log is not kept
  int firstRetrySeconds = 10;   // a push that did not take is tried again after this, doubling
  int maxRetrySeconds = 600;    // up to this
  int progressMs = 1000;        // RQCHG with the figures left to push, at most this often during pushes
  // A full listing at least this often, even when nothing changed: a client
  // without its watcher reports no deletion, and only a listing shows it.
  std::int64_t listingSafetyMs = 30000;
  // A listing waits for the client's change reports to be drained, at most this long.
  std::int64_t maxListingDeferMs = 300000;
};

class SyncSession {
 public:
  SyncSession(Peer& peer, ContractState& contract, ServerLog& log, std::string who, SessionOptions options);
  // run cycles until the server stops or the client fails; never throws.
  void run();
  // cycle runs one synchronisation cycle (throws PeerError when the client fails).
  void cycle();
  // fetchLog fetches the client's log with RQLOG into the data folder.
  void fetchLog();

 private:
  void say(const std::string& text) { log_.write(who_, text); }
  // now is the time of day from the server's clock.
  std::int64_t now() const { return peer_.clock().wallSeconds(); }
  // takeChanges: true when the client's queue was drained (the empty change came).
  bool takeChanges();
  // listingDue: this cycle needs a listing of the whole sync folder (the
  // first of a connection, a change since the last one, or the safety
  // interval); not while the change reports were not drained, for up to
  // maxListingDeferMs since the last listing.
  bool listingDue(bool drained);
  PlanInput planInput();
  PlanInput reportInput(const ChangeReport& report);
  // execute carries out one action; false when the rest of the plan is stale.
  bool execute(const Action& action, const PlanInput& in);
  using Turn = StoreTurns::Turn;
  // stale logs that an action waits for the next cycle; returns true (the plan goes on).
  bool stale(const Action& action);
  // guarded runs execute and logs a store error instead of ending the connection.
  bool guarded(const Action& action, const PlanInput& in);
  void fetch(const Action& action, const PlanInput& in);
  bool keepFetched(const Action& action, const PlanInput& in, StoreIncoming& file, std::uint64_t size);
  void pushFile(const std::string& path);
  void recordPushed(const std::string& path, const PushAttempt& attempt, const std::string& hash);
  void pushFolder(const std::string& path);
  void deleteOnClient(const std::string& path, bool isDir);
  bool moveOnClient(const std::string& from, const std::string& to);
  void finishCycle();
  // reconcile plans the listing and carries the plan out, batch by batch; the
  // plan takes the entries over (sorted in place).
  void reconcile(std::vector<ListingEntry>& listing);
  // checkPushes compares the pushes since the last listing with this plan:
  // a path pushed again did not take on the client and backs off.
  void checkPushes(const std::vector<Action>& plan, const std::map<std::string, std::int64_t>& inStep,
                   const PlanInput& in);
  bool backingOff(const Action& action) const;
  // countInferred keeps the deletions a listing's plan inferred for the guard's
  // window; recentInferred is their sum over the window.
  void countInferred(const InferredCount& count);
  InferredCount recentInferred();
  // announceProgress sends an RQCHG with what is left to push; a change the
  // client reports with it is applied at once and its path left out of the plan.
  void announceProgress(bool force);
  void applyReport(const ChangeReport& report, bool fresh);
  void applyLateReports();
  void failedItem(const std::string& path, const std::string& reason);
  void forgetSubtree(const std::string& path);

  Peer& peer_;
  ContractState& contract_;
  Store& store_;
  ServerLog& log_;
  std::string who_;
  SessionOptions options_;
  std::map<std::string, std::int64_t> synced_;  // path -> store version left in step with this client
  std::vector<std::string> failedMoves_;
  std::map<std::string, std::int64_t> listed_;           // the last listing's entries in step (path -> version)
  std::map<std::string, std::int64_t> missing_;          // entries in step before and gone from the last listing
  std::deque<std::pair<std::int64_t, InferredCount>> inferred_;  // steady ms -> deletions inferred by a listing
  std::map<std::string, std::int64_t> deletionOrdered_;  // path -> deletion time ordered on the client
  std::set<std::string> saidSkips_;                       // skip notes logged once per connection
  std::string clientHost_;                                // the client's address without its port
  PushLedger ledger_;                                     // this connection's pushes (under the lock where shared)
  std::set<std::string> failedItems_;                     // path + reason, logged once per connection
  std::set<std::string> touched_;                         // paths a report changed while a plan runs
  std::int64_t filesLeft_ = 0;                            // still to push in this cycle
  std::int64_t bytesLeft_ = 0;
  std::optional<std::int64_t> lastProgressMs_;           // steady ms of the last figures sent
  std::optional<std::int64_t> listedVersion_;  // the store's version when the last listing was planned
  std::int64_t lastListingMs_ = 0;             // steady ms of the last listing asked for
  bool listingWanted_ = true;                  // something since the last listing calls for one
  StoreTurns turns_;  // the contract's lock, one store step at a time
  std::unique_ptr<StoreFiles> ownFiles_;  // when the contract brings none
  StoreFiles& files_;
  Conversation talk_;
};

}  // namespace kqs
