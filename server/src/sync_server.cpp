#include "sync_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

namespace kqs {

namespace {

std::pair<std::string, int> splitHostPort(const std::string& text) {
  auto colon = text.rfind(':');
  if (colon == std::string::npos) throw std::runtime_error("--listen needs HOST:PORT");
  int port = 0;
  try {
    port = std::stoi(text.substr(colon + 1));
  } catch (...) {
    throw std::runtime_error("bad port in " + text);
  }
  if (port < 0 || port > 65535) throw std::runtime_error("bad port in " + text);
  return {text.substr(0, colon), port};
}

std::string describePeer(const sockaddr_storage& addr) {
  char host[NI_MAXHOST] = "?", port[NI_MAXSERV] = "?";
  getnameinfo(reinterpret_cast<const sockaddr*>(&addr), sizeof addr, host, sizeof host, port, sizeof port,
              NI_NUMERICHOST | NI_NUMERICSERV);
  return std::string(host) + ":" + port;
}

}  // namespace

SyncServer::SyncServer(const AccountBook& book, ServerOptions options, ServerLog& log)
    : book_(book), options_(std::move(options)), log_(log) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe");
  wakeRead_ = fds[0];
  wakeWrite_ = fds[1];
}

SyncServer::~SyncServer() {
  stopping_ = true;
  reap(true);
  for (auto& l : listeners_) ::close(l.fd);
  ::close(wakeRead_);
  ::close(wakeWrite_);
}

void SyncServer::start() {
  if (book_.accounts().empty()) throw std::runtime_error("no accounts: add one with 'kqsyncd account add'");
  for (auto& a : book_.accounts()) {
    auto state = std::make_unique<ContractState>();
    state->account = a;
    fs::create_directories(fs::path(book_.indexPath(a.contract)).parent_path());
    state->store = std::make_unique<Store>(
        a.store, book_.indexPath(a.contract), [this, c = a.contract](const std::string& t) { log_.write(c, t); },
        book_.versionsPath(a.contract), options_.keepVersionsDays);
    state->clientLogPath = book_.clientLogPath(a.contract);
    try {
      state->store->adoptMarker();
    } catch (const std::exception& e) {
      log_.write(a.contract, std::string("store marker not written: ") + e.what());
    }
    auto changed = state->store->prepareCycle(static_cast<std::int64_t>(::time(nullptr)));
    if (changed) {
      log_.write(a.contract, "store " + a.store + " ready (" + std::to_string(*changed) + " changes picked up)");
    }
    contracts_[a.contract] = std::move(state);
  }
  if (!options_.listen.empty()) {
    auto [host, port] = splitHostPort(options_.listen);
    std::vector<const Account*> all;
    for (auto& a : book_.accounts()) all.push_back(&a);
    bindListener(host, port, all);
    return;
  }
  for (auto& a : book_.accounts()) bindListener(options_.host, *portFor(a.contract), {&a});
}

void SyncServer::bindListener(const std::string& host, int port, std::vector<const Account*> accounts) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.empty() ? nullptr : host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) {
    throw std::runtime_error("cannot resolve " + host);
  }
  int fd = ::socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC, 0);
  int yes = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  if (fd < 0 || ::bind(fd, found->ai_addr, found->ai_addrlen) != 0 || ::listen(fd, 16) != 0) {
    std::string why = std::strerror(errno);
    freeaddrinfo(found);
    if (fd >= 0) ::close(fd);
    throw std::runtime_error("cannot listen on " + host + ":" + std::to_string(port) + ": " + why);
  }
  freeaddrinfo(found);
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
  int actual = bound.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port)
                                           : ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
  listeners_.push_back({fd, actual, std::move(accounts)});
  std::string names;
  for (auto* a : listeners_.back().accounts) names += (names.empty() ? "" : ", ") + a->contract;
  log_.write("", "listening on " + host + ":" + std::to_string(actual) + " for contract " + names);
}

std::vector<int> SyncServer::ports() const {
  std::vector<int> out;
  for (auto& l : listeners_) out.push_back(l.port);
  return out;
}

void SyncServer::stop() {
  char byte = 1;
  [[maybe_unused]] auto n = ::write(wakeWrite_, &byte, 1);
}

void SyncServer::run() {
  while (!stopping_) {
    std::vector<pollfd> fds{{wakeRead_, POLLIN, 0}};
    for (auto& l : listeners_) fds.push_back({l.fd, POLLIN, 0});
    int rc = ::poll(fds.data(), fds.size(), 1000);
    reap(false);
    pruneVersions();
    if (rc < 0 && errno != EINTR) break;
    if (rc <= 0) continue;
    if (fds[0].revents != 0) {
      stopping_ = true;
      break;
    }
    for (std::size_t i = 1; i < fds.size(); ++i) {
      if (fds[i].revents & POLLIN) acceptFrom(listeners_[i - 1]);
    }
  }
  log_.write("", "stopping: ending " + std::to_string(workers_.size()) + " client connection(s)");
  reap(true);
  log_.write("", "stopped");
}

void SyncServer::pruneVersions() {
  auto now = static_cast<std::int64_t>(::time(nullptr));
  for (auto& [contract, state] : contracts_) {
    std::unique_lock lock(state->mutex, std::try_to_lock);  // a busy contract prunes in its next cycle
    if (lock) state->store->pruneIfDue(now);
  }
}

void SyncServer::acceptFrom(const Listener& listener) {
  sockaddr_storage addr{};
  socklen_t length = sizeof addr;
  int fd = ::accept4(listener.fd, reinterpret_cast<sockaddr*>(&addr), &length, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (fd < 0) return;
  int yes = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
  auto done = std::make_shared<std::atomic<bool>>(false);
  std::string name = describePeer(addr);
  workers_.push_back({std::thread([this, fd, name, accounts = listener.accounts, done] {
                        serveClient(fd, name, accounts);
                        *done = true;
                      }),
                      done});
}

void SyncServer::serveClient(int fd, std::string peerName, std::vector<const Account*> accounts) {
  Peer peer(fd, options_.timeoutMs, stopping_);
  try {
    log_.write(peerName, "connected");
    std::string text = peer.readInit(options_.initQuietMs, 512);
    auto match = matchInitText(text, accounts);
    if (!match) {
      log_.write(peerName, "rejected: the init text (" + std::to_string(text.size()) +
                               " bytes) names no known contract with its API key");
      return;
    }
    std::string who = match->account->contract + " " + peerName;
    log_.write(who, "client accepted, protocol version \"" + match->protocol + "\"");
    SyncSession session(peer, *contracts_.at(match->account->contract), log_, who, options_.session);
    session.run();
  } catch (const std::exception& e) {
    log_.write(peerName, std::string("connection closed: ") + e.what());
  }
}

void SyncServer::reap(bool all) {
  for (auto it = workers_.begin(); it != workers_.end();) {
    if (all || *it->done) {
      it->thread.join();
      it = workers_.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace kqs
