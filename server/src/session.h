#pragma once
// SyncSession drives one connected client: every few seconds a cycle drains
// the client's changes (RQCHG), reconciles a listing of the whole sync folder
// with the store (RQLST), carries out the planned fetches, pushes, deletions
// and moves, and closes with RQFLS. One thread runs one session. The
// contract's lock is taken to plan and again for each action, so the other
// clients of the contract wait at most one action (one file transfer) of a
// slow client; an action whose part of the store changed since it was planned
// is not carried out, and the next cycle plans again.
#include <condition_variable>
#include <map>
#include <set>
#include <mutex>
#include <string>
#include <vector>

#include "accounts.h"
#include "peer.h"
#include "planner.h"
#include "server_log.h"
#include "store.h"

namespace kqs {

// TurnLock hands the store of a contract to its sessions in the order they
// asked for it (a ticket lock): a session that takes it again at once still
// waits behind the others.
class TurnLock {
 public:
  void lock();
  void unlock();

 private:
  std::mutex mutex_;
  std::condition_variable turn_;
  std::uint64_t next_ = 0, serving_ = 0;
};

// ContractState is what the sessions of one contract share.
struct ContractState {
  Account account;
  TurnLock turns;  // held to plan, and for each action
  std::unique_ptr<Store> store;
  std::string clientLogPath;
};

struct SessionOptions {
  int cycleMs = 3000;           // pause between cycles (also the pause after RQFLS)
  std::size_t chunkBytes = 1 << 20;
  std::int64_t progressBytes = 8 << 20;  // transfers above this log progress lines
  int maxChanges = 1000;        // change reports taken per cycle
  std::uint64_t maxListingBytes = std::uint64_t(64) << 20;  // a longer listing ends the cycle unreconciled
  std::uint64_t maxLogBytes = std::uint64_t(64) << 20;      // a longer client log is not kept
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
  std::vector<ChangeReport> drainChanges();
  std::optional<std::vector<ListingEntry>> requestListing();
  // drainUntilQuiet reads and drops what the client sends until it is quiet for
  // quietMs; the client timeout bounds the whole drain.
  void drainUntilQuiet(int quietMs);
  PlanInput planInput();
  // execute carries out one action; false when the rest of the plan is stale.
  bool execute(const Action& action, const PlanInput& in);
  // carryOut runs a plan action by action, each under the contract's lock;
  // false when it stopped early (an action said the rest is stale, or the
  // store changed under a folder action meanwhile).
  bool carryOut(const std::vector<Action>& actions, const PlanInput& in, bool stopWhenStale);
  // stillValid is true when what the action touches is as it was planned.
  bool stillValid(const Action& action, const PlanInput& in);
  // guarded runs execute and logs a store error instead of ending the connection.
  bool guarded(const Action& action, const PlanInput& in);
  void fetch(const Action& action);
  void pushFile(const std::string& path);
  void pushFolder(const std::string& path);
  void deleteOnClient(const std::string& path, bool isDir);
  bool moveOnClient(const std::string& from, const std::string& to);
  void finishCycle();
  void receiveInto(IncomingFile& file, std::uint64_t size, const std::string& what);
  void forgetSubtree(const std::string& path);
  std::string timeMember() const;
  std::string dateMember() const;

  Peer& peer_;
  ContractState& contract_;
  Store& store_;
  ServerLog& log_;
  std::string who_;
  SessionOptions options_;
  std::map<std::string, std::int64_t> synced_;  // path -> store version left in step with this client
  std::vector<std::string> failedMoves_;
  std::map<std::string, std::int64_t> listed_;           // the last listing's entries in step (path -> version)
  std::map<std::string, std::int64_t> deletionOrdered_;  // path -> deletion time ordered on the client
  std::set<std::string> saidSkips_;                       // skip notes logged once per connection
  std::int64_t generation_ = 0;  // the store's version counter as this session last left it
};

}  // namespace kqs
