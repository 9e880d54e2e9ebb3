#pragma once
// SyncServer listens for clients (one port per account, "2" + contract, or one
// shared address), checks each init text against the accounts and runs one
// SyncSession thread per accepted client until stop() is called.
// The accept loop itself collects the init texts (no thread per connection
// before authentication): a connection must send it within initTimeoutMs; at
// most maxWaiting connections wait for it (a new one closes the one that has
// waited longest) and at most maxConnections are open in all (a new one beyond
// is closed at once). Both counts shrink to what the open-file limit allows.
// When accept() finds no descriptor left, the longest waiting connections are
// closed and accepting pauses briefly instead of spinning.
// A contract whose index is damaged is not served (one log line per client
// connection naming the file) while the others are; it is opened again at the
// next connection once the index is sound (kqsyncd index rebuild).
#include <atomic>
#include <chrono>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "accounts.h"
#include "guess_backoff.h"
#include "server_log.h"
#include "session.h"

namespace kqs {

struct ServerOptions {
  std::string listen;       // "HOST:PORT" for one shared port; empty: a port per account
  std::string host = "0.0.0.0";  // address of the per-account ports
  int timeoutMs = 60000;    // a client that does not answer within this is dropped
  int initQuietMs = 300;    // the init text is complete after this much silence
  int initTimeoutMs = 10000;  // the init text must arrive within this after connecting
  std::size_t maxWaiting = 64;       // connections waiting for their init text
  std::size_t maxConnections = 512;  // connections in all
  int keepVersionsDays = Versions::kDefaultKeepDays;  // previous versions of store files are kept this long
  SessionOptions session;
};

class SyncServer {
 public:
  SyncServer(const AccountBook& book, ServerOptions options, ServerLog& log);
  ~SyncServer();
  // start opens the stores and binds the listening sockets; throws on failure.
  void start();
  // run accepts clients until stop(); then ends every session and returns.
  void run();
  // stop may be called from any thread or a signal handler.
  void stop();
  // ports lists the bound ports (useful with port 0).
  std::vector<int> ports() const;

 private:
  struct Listener {
    int fd;
    int port;
    std::vector<const Account*> accounts;
  };
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  using Clock = std::chrono::steady_clock;
  // Waiting is a connection whose init text is being collected.
  struct Waiting {
    int fd;
    std::string name;
    std::size_t listener;
    std::string text;
    Clock::time_point acceptedAt, lastByteAt;
    std::string address;  // the peer's address without its port
    std::optional<Clock::time_point> heldUntil;  // complete, answered then (guess back-off)
  };
  // openContract opens the store and index of an account; nullptr (with the
  // log line) when its index is damaged. Other failures throw.
  std::unique_ptr<ContractState> openContract(const Account& account);
  // contractFor is the open state of a contract, opening it again when its
  // index was damaged; nullptr while it still is.
  ContractState* contractFor(const std::string& contract);
  void bindListener(const std::string& host, int port, std::vector<const Account*> accounts);
  void fitLimitsToDescriptors();
  void removeLeftoverUploads(const std::string& clientLogPath);
  void acceptFrom(std::size_t listener);
  // acceptFailed handles a failed accept(); false when accepting should stop for now.
  bool acceptFailed(int error);
  void readInit(std::list<Waiting>::iterator it);
  void checkWaiting(Clock::time_point now);
  void closeWaiting(std::list<Waiting>::iterator it, const std::string& why);
  void authenticate(std::list<Waiting>::iterator it);
  void reject(std::list<Waiting>::iterator it);
  int pollTimeoutMs(Clock::time_point now) const;
  void serveClient(int fd, std::string who, std::string accountContract);
  void reap(bool all);
  std::size_t openConnections() const { return waiting_.size() + workers_.size(); }
  // pruneVersions removes expired versions of every contract once a day.
  void pruneVersions();

  AccountBook book_;
  ServerOptions options_;
  ServerLog& log_;
  std::map<std::string, std::unique_ptr<ContractState>> contracts_;  // the served ones
  std::mutex contractsMutex_;  // contracts_ gains a contract from a session thread
  std::mutex reopenMutex_;     // one contract is opened again at a time
  std::vector<Listener> listeners_;
  std::list<Worker> workers_;
  std::list<Waiting> waiting_;  // oldest first
  std::size_t maxWaiting_ = 0, maxConnections_ = 0;
  Clock::time_point acceptPausedUntil_{};
  int acceptBackoffMs_ = 0;  // 0 while accept() works
  std::size_t refused_ = 0;  // connections closed at once since the last note
  Clock::time_point refusedNotedAt_{};
  GuessBackoff guesses_;
  std::atomic<bool> stopping_{false};
  int wakeRead_ = -1, wakeWrite_ = -1;
};

}  // namespace kqs
