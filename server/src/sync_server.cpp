#include "sync_server.h"

#include "disk_store_files.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "index_check.h"
#include "log_text.h"
#include "server_clock.h"
#include "socket_link.h"

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

constexpr std::size_t kMaxInitText = 512;
constexpr int kMaxAcceptBackoffMs = 1000;
constexpr int kAcceptsPerWake = 32;
// Descriptors kept for the server itself (standard streams, listeners, the
// wake pipe, the lock file, directory scans) and per contract (the index with
// its journal files, the client log being received).
constexpr rlim_t kBaseDescriptors = 32;
constexpr rlim_t kDescriptorsPerContract = 4;

std::string seconds(int ms) {
  return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

std::string describePeer(const sockaddr_storage& addr) {
  char host[NI_MAXHOST] = "?", port[NI_MAXSERV] = "?";
  getnameinfo(reinterpret_cast<const sockaddr*>(&addr), sizeof addr, host, sizeof host, port, sizeof port,
              NI_NUMERICHOST | NI_NUMERICSERV);
  return std::string(host) + ":" + port;
}

std::string addressOf(const std::string& peer) { return peer.substr(0, peer.rfind(':')); }

std::int64_t steadyMs(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
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
    if (auto state = openContract(a)) contracts_[a.contract] = std::move(state);
  }
  fitLimitsToDescriptors();
  if (!options_.listen.empty()) {
    auto [host, port] = splitHostPort(options_.listen);
    std::vector<const Account*> all;
    for (auto& a : book_.accounts()) all.push_back(&a);
    bindListener(host, port, all);
    return;
  }
  for (auto& a : book_.accounts()) bindListener(options_.host, *portFor(a.contract), {&a});
}

std::unique_ptr<ContractState> SyncServer::openContract(const Account& a) {
  std::string indexPath = book_.indexPath(a.contract);
  fs::create_directories(fs::path(indexPath).parent_path());
  IndexHealth health = checkIndex(indexPath);
  if (!health.sound) {
    log_.write(a.contract, damagedIndexLine(a.contract, indexPath, health.problem));
    return nullptr;
  }
  auto state = std::make_unique<ContractState>();
  state->account = a;
  try {
    state->store = std::make_unique<Store>(
        a.store, book_.openIndex(a.contract), [this, c = a.contract](const std::string& t) { log_.write(c, t); },
        book_.openVersions(a.contract, options_.keepVersionsDays));
  } catch (const IndexError& e) {
    log_.write(a.contract, damagedIndexLine(a.contract, indexPath, e.what()));
    return nullptr;
  }
  state->lock = book_.openLock(a.contract, [s = state->store.get()] { s->commitWrites(); });
  state->held = std::make_unique<HeldDeletions>(book_.heldPath(a.contract));
  state->clientLogPath = book_.clientLogPath(a.contract);
  state->files = std::make_unique<DiskStoreFiles>(*state->store, state->clientLogPath);
  removeLeftoverUploads(state->clientLogPath);
  try {
    state->store->adoptMarker();
  } catch (const std::exception& e) {
    log_.write(a.contract, std::string("store marker not written: ") + e.what());
  }
  std::unique_lock hold(*state->lock);  // other nodes may be serving the contract already
  auto changed = state->store->prepareCycle(wallSecondsNow());
  hold.unlock();
  if (changed) {
    log_.write(a.contract, "store " + a.store + " ready (" + std::to_string(*changed) + " changes picked up)");
  }
  state->store->batchWrites({});  // from here on the index changes of many steps commit together
  return state;
}

ContractState* SyncServer::contractFor(const std::string& contract) {
  {
    std::lock_guard lock(contractsMutex_);
    auto it = contracts_.find(contract);
    if (it != contracts_.end()) return it->second.get();
  }
  std::lock_guard reopen(reopenMutex_);
  {
    std::lock_guard lock(contractsMutex_);  // opened by another session meanwhile?
    auto it = contracts_.find(contract);
    if (it != contracts_.end()) return it->second.get();
  }
  const Account* account = book_.find(contract);
  if (account == nullptr) return nullptr;
  auto state = openContract(*account);
  if (!state) return nullptr;
  log_.write(contract, "the index of contract " + contract + " is sound again: the contract is served");
  std::lock_guard lock(contractsMutex_);
  return (contracts_[contract] = std::move(state)).get();
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
  int fd = ::socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  int yes = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  if (fd < 0 || ::bind(fd, found->ai_addr, found->ai_addrlen) != 0 || ::listen(fd, SOMAXCONN) != 0) {
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

void SyncServer::fitLimitsToDescriptors() {
  maxConnections_ = std::max<std::size_t>(1, options_.maxConnections);
  maxWaiting_ = std::max<std::size_t>(1, std::min(options_.maxWaiting, maxConnections_));
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return;
  rlim_t reserved = kBaseDescriptors + kDescriptorsPerContract * book_.accounts().size();
  // A client being served may hold a store file besides its socket.
  auto budget = static_cast<std::size_t>(limit.rlim_cur > reserved + 4 ? (limit.rlim_cur - reserved) / 2 : 2);
  if (budget >= maxConnections_) return;
  maxConnections_ = budget;
  maxWaiting_ = std::max<std::size_t>(1, std::min(maxWaiting_, budget / 2));
  log_.write("", "the open-file limit of " + std::to_string(limit.rlim_cur) + " allows " +
                     std::to_string(maxConnections_) + " connections (" + std::to_string(maxWaiting_) +
                     " waiting for their init text)");
}

void SyncServer::removeLeftoverUploads(const std::string& clientLogPath) {
  std::error_code ec;
  fs::path folder = fs::path(clientLogPath).parent_path();
  for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
    if (it->path().extension() != ".part") continue;
    std::error_code removed;
    fs::remove(it->path(), removed);
    log_.write("", "removed " + it->path().string() + ", left by a client log upload that did not complete");
  }
}

int SyncServer::pollTimeoutMs(Clock::time_point now) const {
  Clock::time_point next = now + std::chrono::seconds(1);
  for (auto& w : waiting_) {
    next = std::min(next, w.acceptedAt + std::chrono::milliseconds(options_.initTimeoutMs));
    if (w.heldUntil) {
      next = std::min(next, *w.heldUntil);
      continue;
    }
    if (!w.text.empty()) next = std::min(next, w.lastByteAt + std::chrono::milliseconds(options_.initQuietMs));
  }
  if (acceptPausedUntil_ > now) next = std::min(next, acceptPausedUntil_);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count() + 1;
  return static_cast<int>(std::clamp<long long>(ms, 0, 1000));
}

void SyncServer::run() {
  while (!stopping_) {
    reap(false);
    pruneVersions();
    auto now = Clock::now();
    checkWaiting(now);
    bool accepting = now >= acceptPausedUntil_;
    std::vector<pollfd> fds{{wakeRead_, POLLIN, 0}};
    for (auto& l : listeners_) fds.push_back({l.fd, static_cast<short>(accepting ? POLLIN : 0), 0});
    std::vector<std::list<Waiting>::iterator> polled;
    for (auto it = waiting_.begin(); it != waiting_.end(); ++it) {
      fds.push_back({it->fd, static_cast<short>(it->heldUntil ? 0 : POLLIN), 0});
      polled.push_back(it);
    }
    int rc = ::poll(fds.data(), fds.size(), pollTimeoutMs(now));
    if (rc < 0 && errno != EINTR) break;
    if (rc <= 0) continue;
    if (fds[0].revents != 0) {
      stopping_ = true;
      break;
    }
    std::size_t first = 1 + listeners_.size();
    for (std::size_t i = 0; i < polled.size(); ++i) {
      if (fds[first + i].revents != 0) readInit(polled[i]);
    }
    for (std::size_t i = 0; i < listeners_.size(); ++i) {
      if (fds[1 + i].revents & POLLIN) acceptFrom(i);
    }
  }
  for (auto it = waiting_.begin(); it != waiting_.end();) {
    ::close(it->fd);
    it = waiting_.erase(it);
  }
  log_.write("", "stopping: ending " + std::to_string(workers_.size()) + " client connection(s)");
  reap(true);
  log_.write("", "stopped");
}

void SyncServer::pruneVersions() {
  auto now = wallSecondsNow();
  std::lock_guard served(contractsMutex_);
  for (auto& [contract, state] : contracts_) {
    std::unique_lock lock(*state->lock, std::try_to_lock);  // a busy contract prunes in its next cycle
    if (lock) state->store->pruneIfDue(now);
  }
}

void SyncServer::acceptFrom(std::size_t listener) {
  for (int i = 0; i < kAcceptsPerWake; ++i) {
    sockaddr_storage addr{};
    socklen_t length = sizeof addr;
    int fd = ::accept4(listeners_[listener].fd, reinterpret_cast<sockaddr*>(&addr), &length,
                       SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
      if (!acceptFailed(errno)) return;
      continue;
    }
    acceptBackoffMs_ = 0;
    if (openConnections() >= maxConnections_) {
      ::close(fd);
      ++refused_;
      auto now = Clock::now();
      if (now - refusedNotedAt_ >= std::chrono::seconds(10)) {
        log_.write("", std::to_string(maxConnections_) + " connections are open: " + std::to_string(refused_) +
                           " new connection(s) closed at once");
        refused_ = 0;
        refusedNotedAt_ = now;
      }
      continue;
    }
    if (waiting_.size() >= maxWaiting_) {
      // The longest waiting connection that sent nothing makes room (one whose
      // init text is arriving only when every one has sent some).
      auto silent = std::find_if(waiting_.begin(), waiting_.end(), [](const Waiting& w) { return w.text.empty(); });
      closeWaiting(silent != waiting_.end() ? silent : waiting_.begin(),
                   "no init text yet while " + std::to_string(maxWaiting_) +
                       " connections wait for theirs; the longest waiting one makes room");
    }
    int yes = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    auto now = Clock::now();
    std::string name = describePeer(addr);
    waiting_.push_back({fd, name, listener, "", now, now, addressOf(name), std::nullopt});
    log_.write(waiting_.back().name, "connected");
  }
}

bool SyncServer::acceptFailed(int error) {
  if (error == EINTR || error == ECONNABORTED || error == EPROTO) return true;
  if (error != EMFILE && error != ENFILE) return false;  // EAGAIN: nothing more to accept
  // No descriptor left: the longest waiting connections give theirs back, and
  // those still waiting from now on may hold at most what was left.
  std::size_t keep = waiting_.size() / 2;
  bool freed = false;
  while (waiting_.size() > keep) {
    closeWaiting(waiting_.begin(), "no descriptor left for new connections; the longest waiting ones make room");
    freed = true;
  }
  if (keep < maxWaiting_ && freed) maxWaiting_ = std::max<std::size_t>(1, keep);
  if (acceptBackoffMs_ == 0) {
    log_.write("", std::string("cannot accept connections: ") + std::strerror(error) + "; at most " +
                       std::to_string(maxWaiting_) + " connection(s) wait for their init text from now on");
  }
  acceptBackoffMs_ = std::min(kMaxAcceptBackoffMs, std::max(50, acceptBackoffMs_ * 2));
  acceptPausedUntil_ = Clock::now() + std::chrono::milliseconds(freed ? 0 : acceptBackoffMs_);
  return freed;
}

void SyncServer::readInit(std::list<Waiting>::iterator it) {
  char buffer[kMaxInitText];
  auto got = ::recv(it->fd, buffer, kMaxInitText - it->text.size(), 0);
  if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
  if (got <= 0) {
    closeWaiting(it, got == 0 ? "the client closed the connection" : std::string("receive: ") + std::strerror(errno));
    return;
  }
  it->text.append(buffer, static_cast<std::size_t>(got));
  it->lastByteAt = Clock::now();
  if (it->text.size() >= kMaxInitText) authenticate(it);
}

void SyncServer::checkWaiting(Clock::time_point now) {
  for (auto it = waiting_.begin(); it != waiting_.end();) {
    auto next = std::next(it);
    if (it->heldUntil) {
      if (now >= *it->heldUntil) authenticate(it);
    } else if (!it->text.empty() && now - it->lastByteAt >= std::chrono::milliseconds(options_.initQuietMs)) {
      authenticate(it);
    } else if (now - it->acceptedAt >= std::chrono::milliseconds(options_.initTimeoutMs)) {
      closeWaiting(it, it->text.empty() ? "no init text"
                                        : "the init text did not complete within " + seconds(options_.initTimeoutMs));
    }
    it = next;
  }
}

void SyncServer::closeWaiting(std::list<Waiting>::iterator it, const std::string& why) {
  log_.write(it->name, "connection closed: " + why);
  ::close(it->fd);
  waiting_.erase(it);
}

void SyncServer::authenticate(std::list<Waiting>::iterator it) {
  auto now = Clock::now();
  auto readyAt = Clock::time_point(std::chrono::milliseconds(guesses_.readyAtMs(it->address)));
  if (readyAt > now) {
    it->heldUntil = readyAt;  // this address guessed wrong keys: answered later
    return;
  }
  auto match = matchInitText(it->text, listeners_[it->listener].accounts);
  if (!match) {
    reject(it);
    return;
  }
  guesses_.rightKey(it->address);
  std::string who = match->account->contract + " " + it->name;
  log_.write(who, "client accepted, protocol version \"" + logValue(match->protocol) + "\"");
  auto done = std::make_shared<std::atomic<bool>>(false);
  int fd = it->fd;
  std::string contract = match->account->contract;
  waiting_.erase(it);
  workers_.push_back({std::thread([this, fd, who, contract, done] {
                        serveClient(fd, who, contract);
                        *done = true;
                      }),
                      done});
}

void SyncServer::reject(std::list<Waiting>::iterator it) {
  if (auto count = guesses_.wrongKey(it->address, steadyMs(Clock::now()))) {
    std::string tally = *count > 1 ? " (" + std::to_string(*count) + " rejected from " + it->address +
                                         " since the last note)"
                                   : "";
    log_.write(it->name, "rejected: the init text (" + std::to_string(it->text.size()) +
                             " bytes) names no known contract with its API key" + tally);
  }
  ::close(it->fd);
  waiting_.erase(it);
}

void SyncServer::serveClient(int fd, std::string who, std::string contract) {
  SystemClock clock;
  SocketLink link(fd, stopping_, clock);
  Peer peer(link, clock, options_.timeoutMs);
  try {
    ContractState* state = contractFor(contract);
    if (state == nullptr) return;  // its index is damaged: logged, the connection closes
    SyncSession session(peer, *state, log_, who, options_.session);
    session.run();
  } catch (const std::exception& e) {
    log_.write(who, std::string("connection closed: ") + e.what());
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
