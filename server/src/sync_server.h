#pragma once
// SyncServer listens for clients (one port per account, "2" + contract, or one
// shared address), checks each init text against the accounts and runs one
// SyncSession thread per accepted client until stop() is called.
#include <atomic>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "accounts.h"
#include "server_log.h"
#include "session.h"

namespace kqs {

struct ServerOptions {
  std::string listen;       // "HOST:PORT" for one shared port; empty: a port per account
  std::string host = "0.0.0.0";  // address of the per-account ports
  int timeoutMs = 60000;    // a client that does not answer within this is dropped
  int initQuietMs = 300;    // the init text is complete after this much silence
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
  void bindListener(const std::string& host, int port, std::vector<const Account*> accounts);
  void acceptFrom(const Listener& listener);
  void serveClient(int fd, std::string peerName, std::vector<const Account*> accounts);
  void reap(bool all);
  // pruneVersions removes expired versions of every contract once a day.
  void pruneVersions();

  AccountBook book_;
  ServerOptions options_;
  ServerLog& log_;
  std::map<std::string, std::unique_ptr<ContractState>> contracts_;
  std::vector<Listener> listeners_;
  std::list<Worker> workers_;
  std::atomic<bool> stopping_{false};
  int wakeRead_ = -1, wakeWrite_ = -1;
};

}  // namespace kqs
