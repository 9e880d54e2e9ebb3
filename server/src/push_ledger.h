#pragma once
// The bookkeeping of pushes, apart from any socket, clock or disk: the time is
// passed in.
//
// PushRecords is one contract's record of the last push of each path to each
// client host. It outlives the connection, so that a partial copy found after
// a reconnection is still explained; clients behind one address share it. It
// holds at most a fixed number of records (the one that ended first goes).
// The sessions of the contract use it under the contract's lock.
//
// PushLedger is one connection's side: the pushes awaiting the client's next
// listing, the files the client refused, and the back-off of pushes that did
// not take (tried again after firstRetrySeconds, doubling up to maxRetrySeconds).
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "planner.h"

namespace kqs {

class PushRecords {
 public:
  static constexpr std::size_t kMaxPushRecords = 10000;
  explicit PushRecords(std::size_t maxRecords = kMaxPushRecords) : max_(maxRecords) {}

  void record(const std::string& host, const std::string& path, const PushAttempt& attempt);
  // end closes the push begun as attempt; false (nothing changed) when another
  // push of the path replaced or dropped its record meanwhile.
  bool end(const std::string& host, const std::string& path, const PushAttempt& attempt, std::int64_t endedAt,
           bool complete);
  std::optional<PushAttempt> find(const std::string& host, const std::string& path) const;
  void erase(const std::string& host, const std::string& path);
  // forHost: path -> the last push to that host.
  std::map<std::string, PushAttempt> forHost(const std::string& host) const;
  // forHostIn: path (and every path below it) -> the last push to that host.
  std::map<std::string, PushAttempt> forHostIn(const std::string& host, const std::string& path) const;
  std::size_t size() const { return records_.size(); }

 private:
  static std::string key(const std::string& host, const std::string& path) { return host + "\n" + path; }
  std::size_t max_;
  std::map<std::string, PushAttempt> records_;  // host + "\n" + path
};

// FetchRecords is one contract's record of the last copy fetched on a change
// report from each client host at each path (the same bound and order of
// forgetting as PushRecords). Used under the contract's lock.
class FetchRecords {
 public:
  explicit FetchRecords(std::size_t maxRecords = PushRecords::kMaxPushRecords) : max_(maxRecords) {}
  void record(const std::string& host, const std::string& path, const FetchedCopy& copy);
  // forHost: path -> the last copy fetched from that host.
  std::map<std::string, FetchedCopy> forHost(const std::string& host) const;
  // forHostIn: the same for path and every path below it.
  std::map<std::string, FetchedCopy> forHostIn(const std::string& host, const std::string& path) const;
  std::size_t size() const { return records_.size(); }

 private:
  std::size_t max_;
  std::map<std::string, FetchedCopy> records_;  // host + "\n" + path
};

// PushRetry: a push that did not take on the client, tried again after delaySeconds.
struct PushRetry {
  std::string path;
  int delaySeconds = 0;
  bool listed = false;  // the client listed the path (with other content)
  bool operator==(const PushRetry&) const = default;
};

class PushLedger {
 public:
  PushLedger(PushRecords& records, std::string host, int firstRetrySeconds, int maxRetrySeconds)
      : records_(records), host_(std::move(host)), firstRetry_(firstRetrySeconds), maxRetry_(maxRetrySeconds) {}

  void started(const std::string& path, const PushAttempt& attempt) { records_.record(host_, path, attempt); }
  void ended(const std::string& path, const PushAttempt& attempt, std::int64_t now, bool complete) {
    records_.end(host_, path, attempt, now, complete);
  }
  // delivered: the client took the data; its next listing tells whether the push took.
  void delivered(const std::string& path) { awaiting_.insert(path); }
  // refused: the client refused the file; it is not offered again on this connection.
  void refused(const std::string& path);
  // review compares the pushes delivered since the last listing with the plan
  // of a new one: a file planned to be pushed again, at the version pushed,
  // did not take and backs off. inStep: the listing's paths in step with the store.
  std::vector<PushRetry> review(const std::vector<Action>& plan, const std::map<std::string, std::int64_t>& inStep,
                                const std::map<std::string, StoreEntry>& store, std::int64_t now);
  // pending: a push awaits a listing or backs off; concerns: path is one of them.
  bool pending() const { return !awaiting_.empty() || !backoff_.empty(); }
  bool concerns(const std::string& path) const { return awaiting_.count(path) != 0 || backoff_.count(path) != 0; }
  // backingOff: a push of path waits for its next try.
  bool backingOff(const std::string& path, std::int64_t now) const;
  // fill sets the pushes and refusals of a planner input.
  void fill(PlanInput& in) const;
  // fillAround adds the pushes of path and below it, and the refusals, to a planner input.
  void fillAround(PlanInput& in, const std::string& path) const;

 private:
  struct Backoff {
    int delaySeconds = 0;
    std::int64_t nextTry = 0;
  };
  PushRecords& records_;
  std::string host_;
  int firstRetry_, maxRetry_;
  std::set<std::string> refused_;            // files the client refused on this connection
  std::map<std::string, Backoff> backoff_;  // pushes that did not take: when to try again
  std::set<std::string> awaiting_;          // delivered since the last listing
};

}  // namespace kqs
