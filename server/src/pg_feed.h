#pragma once
// PgChangeFeed tells this kqsyncd when another node changed a contract's
// index: every commit that changes an index sends a notification on the
// channel "kqsyncd_index" (payload: contract, a blank, the sending node's
// token); one connection per process listens for them. A contract's flag is
// raised for every notification of another node, and for every contract when
// the listening connection was lost (notifications may have been missed).
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "pg_connection.h"

namespace kqs {

constexpr const char* kPgChangeChannel = "kqsyncd_index";

// pgNodeToken names this process in its notifications (random, made once).
const std::string& pgNodeToken();

// pgAnnounce sends the notification of a change to contract on db (delivered
// when db's transaction commits, at once outside one).
void pgAnnounce(PgConnection& db, const std::string& contract);
// pgAnnounceChange tells the nodes that contract's store changed outside them
// (a restore from the command line); never throws: without the database the
// nodes' safety scan finds the change.
void pgAnnounceChange(const std::string& url, const std::string& contract) noexcept;

class PgChangeFeed {
 public:
  // forUrl is the feed of the database at url, shared by its users in this
  // process; it starts listening with the first and stops with the last.
  static std::shared_ptr<PgChangeFeed> forUrl(const std::string& url);
  explicit PgChangeFeed(std::string url);
  ~PgChangeFeed();
  PgChangeFeed(const PgChangeFeed&) = delete;
  PgChangeFeed& operator=(const PgChangeFeed&) = delete;

  // subscribe is the flag of contract, raised by another node's change; the
  // subscriber lowers it when it takes it.
  std::shared_ptr<std::atomic<bool>> subscribe(const std::string& contract);
  // raise raises the flags of contract (every flag when contract is empty).
  void raise(const std::string& contract);
  // listening: the feed's connection is up and listening.
  bool listening() const { return listening_; }

 private:
  void run();
  // listenOnce connects, listens and hands the notifications over until the
  // connection fails or the feed stops.
  void listenOnce();

  std::string url_;
  std::mutex mutex_;
  std::multimap<std::string, std::weak_ptr<std::atomic<bool>>> flags_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> listening_{false};
  int wake_[2] = {-1, -1};
  std::thread thread_;
};

}  // namespace kqs
