#pragma once
// SyncSession drives one connected client: every few seconds a cycle drains
// the client's changes (RQCHG), reconciles a listing of the whole sync folder
// with the store (RQLST), carries out the planned fetches, pushes, deletions
// and moves, and closes with RQFLS. One thread runs one session; the
// contract's lock keeps the cycles of clients of one contract apart.
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
#include "peer.h"
#include "planner.h"
#include "server_log.h"
#include "store.h"

namespace kqs {

// ContractState is what the sessions of one contract share.
struct ContractState {
  Account account;
  std::mutex mutex;  // held for a whole cycle
  std::unique_ptr<Store> store;
  std::string clientLogPath;
  // pushes: client host + "\n" + path -> the last push of that path to a
  // client on that host; it outlives the connection, so that a partial copy
  // found after a reconnection is still explained. At most kMaxPushRecords.
  std::map<std::string, PushAttempt> pushes;
  static constexpr std::size_t kMaxPushRecords = 10000;
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
  PlanInput planInput();
  // execute carries out one action; false when the rest of the plan is stale.
  bool execute(const Action& action, const PlanInput& in);
  // guarded runs execute and logs a store error instead of ending the connection.
  bool guarded(const Action& action, const PlanInput& in);
  void fetch(const Action& action);
  void pushFile(const std::string& path);
  // sendData sends RQFDA and every byte of the file, then takes the answer.
  void sendData(const std::string& path, int fd, std::uint64_t size, bool& refusedEarly, bool& shortRead);
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
  // announceProgress sends an RQCHG with what is left to push; a change the
  // client reports with it is applied at once and its path left out of the plan.
  void announceProgress(bool force);
  std::optional<ChangeReport> requestChange(const std::string& filesLeft, const std::string& mbytesLeft);
  kq::RequestId sendChangeRequest(const std::string& filesLeft, const std::string& mbytesLeft);
  std::optional<ChangeReport> takeChangeReport(std::string_view json);
  // probeAfterData follows the data of an answer with an RQCHG and finds its
  // answer by the framing: bytes before the ANCHG header are data beyond the
  // announced size and go to extra (more than maxExtra end the connection).
  // Returns their count; the change reported is applied by applyLateReports.
  std::uint64_t probeAfterData(const std::function<void(std::string_view)>& extra, std::uint64_t maxExtra);
  void applyLateReports();
  void failedItem(const std::string& path, const std::string& reason);
  PushAttempt& recordPush(const std::string& path, const PushAttempt& attempt);
  std::string pushKey(const std::string& path) const { return clientHost_ + "\n" + path; }
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
  std::string clientHost_;                                // the client's address without its port
  std::set<std::string> refused_;                         // files the client refused on this connection
  struct Backoff {
    int delaySeconds = 0;
    std::int64_t nextTry = 0;
  };
  std::map<std::string, Backoff> backoff_;                // pushes that did not take: when to try again
  std::set<std::string> awaiting_;                        // pushed since the last listing
  std::set<std::string> failedItems_;                     // path + reason, logged once per connection
  std::deque<ChangeReport> lateReports_;                  // reported with a probe, applied after the action
  std::set<std::string> touched_;                         // paths a report changed while a plan runs
  std::int64_t filesLeft_ = 0;                            // still to push in this cycle
  std::int64_t bytesLeft_ = 0;
  std::chrono::steady_clock::time_point lastProgress_{};
};

}  // namespace kqs
