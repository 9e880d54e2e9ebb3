#include "seam_server.h"

#include <ctime>
#include <mutex>

#include "accounts.h"
#include "peer.h"
#include "protocol/packet.h"
#include "key_hash.h"
#include "server_clock.h"
#include "server_log.h"
#include "session.h"
#include "store.h"

namespace fs = std::filesystem;

namespace kq::seam {
namespace {

// FakeServerClock stands still until the link waits on it. Its time of day
// is the real one: the session records store times with it, and the files of
// both folders carry real times.
class FakeServerClock : public kqs::Clock {
 public:
  std::int64_t steadyMs() override { return steady; }
  std::int64_t wallSeconds() override { return static_cast<std::int64_t>(std::time(nullptr)); }
  std::int64_t steady = 1000000;
};

// InProcessLink hands every send of the server to the client at once and
// answers reads from what the client sent. A client that sent nothing is
// silent: a read that would wait moves the clock by its wait and finds
// nothing, so a deadline passes without sleeping.
class InProcessLink : public kqs::ClientLink {
 public:
  InProcessLink(ClientEnd& client, FakeServerClock& clock, std::vector<std::string>& requests)
      : client_(client), clock_(clock), requests_(requests) {}

  void sendAll(std::string_view bytes, int) override {
    note(bytes);
    if (!client_.open()) throw kqs::PeerError("the connection is closed");
    if (!client_.deliver(bytes)) throw kqs::PeerError("the link broke during a send");
  }
  std::string readSome(std::size_t n, int waitMs) override {
    std::string bytes = client_.take(n);
    if (!bytes.empty()) return bytes;
    if (!client_.open()) throw kqs::PeerError("the client closed the connection");
    clock_.steady += waitMs;
    return {};
  }
  bool pause(int ms) override {
    clock_.steady += ms;
    return true;
  }

 private:
  // note keeps each request (header and body) and skips the file data after RQFDA.
  void note(std::string_view bytes) {
    if (dataLeft_ > 0) {
      dataLeft_ -= std::min<std::uint64_t>(dataLeft_, bytes.size());
      return;
    }
    requests_.emplace_back(bytes);
    if (bytes.size() >= kHeaderSize && bytes.substr(0, 5) == "RQFDA")
      dataLeft_ = payloadLength(bytes) - (bytes.size() - kHeaderSize);
  }

  ClientEnd& client_;
  FakeServerClock& clock_;
  std::vector<std::string>& requests_;
  std::uint64_t dataLeft_ = 0;
};

constexpr std::size_t kStampSize = 20;  // "yyyy/mm/dd hh:mm:ss "

}  // namespace

struct SeamServer::Parts {
  Parts(const fs::path& root, ClientEnd& client, ServerSettings s)
      : settings(std::move(s)), storeRoot(root / "store"), dataRoot(root / "data"), link(client, clock, requests) {}

  ServerSettings settings;
  fs::path storeRoot, dataRoot;
  mutable std::mutex linesMutex;
  std::vector<std::string> lines;
  kqs::ServerLog log{[this](const std::string& line) {
    std::lock_guard lock(linesMutex);
    lines.push_back(line.size() > kStampSize ? line.substr(kStampSize) : line);
  }};
  FakeServerClock clock;
  std::vector<std::string> requests;
  InProcessLink link;
  kqs::ContractState contract;
  std::unique_ptr<kqs::Peer> peer;
  std::unique_ptr<kqs::SyncSession> session;
  std::string lastError;
  int connections = 0;
};

SeamServer::SeamServer(const fs::path& root, ClientEnd& client, ServerSettings settings)
    : parts_(std::make_unique<Parts>(root, client, std::move(settings))) {
  Parts& p = *parts_;
  fs::create_directories(p.dataRoot);
  p.contract.account = {p.settings.contract, kqs::hashKey(p.settings.apiKey), p.storeRoot.string()};
  kqs::writeStoreMarker(p.storeRoot.string());
  p.contract.store = std::make_unique<kqs::Store>(
      p.storeRoot.string(), (p.dataRoot / "index.sqlite").string(),
      [this](const std::string& text) { parts_->log.write(parts_->settings.contract, text); },
      (p.dataRoot / "versions").string());
  p.contract.clientLogPath = (p.dataRoot / "logs" / "Filesync.log").string();
}

SeamServer::~SeamServer() = default;

const fs::path& SeamServer::storeFolder() const { return parts_->storeRoot; }

bool SeamServer::renameInStore(const std::string& from, const std::string& to) {
  auto& store = *parts_->contract.store;
  std::lock_guard lock(*parts_->contract.lock);
  auto now = static_cast<std::int64_t>(std::time(nullptr));
  if (!store.prepareCycle(now)) return false;
  return store.rename(from, to, now);
}

bool SeamServer::accept(const std::string& initText) const {
  std::vector<const kqs::Account*> accounts{&parts_->contract.account};
  return kqs::matchInitText(initText, accounts).has_value();
}

void SeamServer::connect() {
  Parts& p = *parts_;
  p.session.reset();
  p.peer = std::make_unique<kqs::Peer>(p.link, p.clock, p.settings.timeoutMs);
  kqs::SessionOptions options;
  options.chunkBytes = p.settings.chunkBytes;
  options.progressMs = 1 << 30;  // one progress report per cycle, whatever the machine's speed
  options.listingSafetyMs = 0;  // no watcher here: every cycle lists the sync folder, as one that changed
  std::string who = p.settings.contract + " 127.0.0.1:" + std::to_string(50000 + ++p.connections);
  p.session = std::make_unique<kqs::SyncSession>(*p.peer, p.contract, p.log, who, options);
}

namespace {

template <typename Step>
bool guard(std::string& lastError, Step step) {
  try {
    step();
    return true;
  } catch (const std::exception& e) {
    lastError = e.what();
    return false;
  }
}

}  // namespace

bool SeamServer::cycle() {
  return guard(parts_->lastError, [this] {
    if (!parts_->session) throw std::runtime_error("no client connected");
    parts_->session->cycle();
  });
}

bool SeamServer::fetchLog() {
  return guard(parts_->lastError, [this] {
    if (!parts_->session) throw std::runtime_error("no client connected");
    parts_->session->fetchLog();
  });
}

fs::path SeamServer::clientLogPath() const { return parts_->contract.clientLogPath; }

const std::string& SeamServer::lastError() const { return parts_->lastError; }

std::vector<std::string> SeamServer::logLines() const {
  std::lock_guard lock(parts_->linesMutex);
  return parts_->lines;
}

std::vector<std::string> SeamServer::keptVersions(const std::string& path) const {
  std::vector<std::string> out;
  for (auto& v : parts_->contract.store->versions().list(path)) out.push_back(v.hash);
  return out;
}

bool SeamServer::logged(const std::string& part) const {
  for (auto& line : logLines())
    if (line.find(part) != std::string::npos) return true;
  return false;
}

const std::vector<std::string>& SeamServer::requests() const { return parts_->requests; }

std::int64_t SeamServer::clockMs() const { return parts_->clock.steady; }

}  // namespace kq::seam
