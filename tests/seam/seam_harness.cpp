#include "seam_harness.h"

#include "engine/timer_schedule.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>

#include "protocol/packet.h"
#include "tracking/exceptions_editor.h"

namespace fs = std::filesystem;

namespace kq::seam {
namespace {

constexpr const char* kSyncFolder = "Docs";

fs::path scratchFolder() {
  auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = info == nullptr ? "seam" : std::string(info->test_suite_name()) + "." + info->name();
  for (char& c : name)
    if (c == '/') c = '_';
  static int made = 0;
  auto dir = fs::temp_directory_path() /
             ("kq-seam-" + std::to_string(::getpid()) + "-" + std::to_string(++made) + "-" + name);
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

std::string readAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeAll(const fs::path& p, const std::string& content) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary | std::ios::trunc) << content;
}

// normalLocal is a local path as the watcher names it: one backslash between
// names, none at the end.
std::string normalLocal(const std::string& path) {
  std::string out;
  for (char c : path) {
    char d = c == '/' ? '\\' : c;
    if (d == '\\' && !out.empty() && out.back() == '\\') continue;
    out += d;
  }
  while (out.size() > 3 && out.back() == '\\') out.pop_back();
  return out;
}

std::string parentText(const std::string& path) {
  auto at = path.rfind('\\');
  return at == std::string::npos ? std::string() : path.substr(0, at);
}

bool carriesData(std::string_view type) { return type == "ANFIL" || type == "ANLOG"; }
bool carriesJson(std::string_view type) { return type == "ANCHG" || type == "ANLST"; }

// ReportingStream tells the reporter about a write when the file is closed.
class ReportingStream : public OutputStream {
 public:
  ReportingStream(std::unique_ptr<OutputStream> inner, std::function<void()> closed)
      : inner_(std::move(inner)), closed_(std::move(closed)) {}
  ~ReportingStream() override {
    if (!done_ && written_) closed_();
  }
  bool write(const char* data, std::size_t size) override {
    written_ = true;
    return inner_->write(data, size);
  }
  bool close() override {
    bool ok = inner_->close();
    if (!done_ && written_) closed_();
    done_ = true;
    return ok;
  }
  bool sync() override { return inner_->sync(); }

 private:
  std::unique_ptr<OutputStream> inner_;
  std::function<void()> closed_;
  bool written_ = false, done_ = false;
};

}  // namespace

std::string Delivery::name() const {
  switch (kind) {
    case Kind::Whole: return "Whole";
    case Kind::Bytewise: return "Bytewise";
    case Kind::SplitAt: return "SplitAt" + std::to_string(at);
  }
  return "?";
}

// --- the watcher ---------------------------------------------------------

bool WatchedFileSystem::createFolders(const std::string& p) {
  std::vector<std::string> missing;
  for (std::string at = normalLocal(p); !at.empty() && !inner_.exists(at); at = parentText(at)) missing.push_back(at);
  bool ok = inner_.createFolders(p);
  if (watching) {
    for (auto it = missing.rbegin(); it != missing.rend(); ++it)
      if (inner_.isFolder(*it)) reporter_.added(*it);
  }
  return ok;
}

bool WatchedFileSystem::remove(const std::string& p) {
  bool ok = inner_.remove(p);
  if (ok && watching) reporter_.removed(normalLocal(p));
  return ok;
}

bool WatchedFileSystem::removeAll(const std::string& p) {
  std::vector<std::string> gone;
  if (watching && inner_.isFolder(p)) {
    (void)inner_.walk(p, [&](const WalkEntry& e) {
      gone.push_back(normalLocal(e.path));
      return true;
    });
  }
  bool existed = inner_.exists(p);
  bool ok = inner_.removeAll(p);
  if (watching && existed) {
    for (auto it = gone.rbegin(); it != gone.rend(); ++it)
      if (!inner_.exists(*it)) reporter_.removed(*it);
    if (!inner_.exists(p)) reporter_.removed(normalLocal(p));
  }
  return ok;
}

bool WatchedFileSystem::rename(const std::string& from, const std::string& to) {
  bool ok = inner_.rename(from, to);
  if (ok && watching) reporter_.renamed(normalLocal(from), normalLocal(to));
  return ok;
}

std::unique_ptr<OutputStream> WatchedFileSystem::watchWrites(const std::string& p, bool existed,
                                                             std::unique_ptr<OutputStream> out) {
  if (!out || !watching) return out;
  std::string path = normalLocal(p);
  if (!existed) reporter_.added(path);
  return std::make_unique<ReportingStream>(std::move(out), [this, path] {
    if (watching) reporter_.modified(path);
  });
}

std::unique_ptr<OutputStream> WatchedFileSystem::openAppend(const std::string& p) {
  bool existed = inner_.exists(p);
  return watchWrites(p, existed, inner_.openAppend(p));
}

std::unique_ptr<OutputStream> WatchedFileSystem::openWrite(const std::string& p) {
  bool existed = inner_.exists(p);
  return watchWrites(p, existed, inner_.openWrite(p));
}

// --- the seam ------------------------------------------------------------

Seam::Seam(Delivery delivery, Echo echo, ServerSettings settings)
    : delivery_(delivery),
      echo_(echo),
      scratch_(scratchFolder()),
      reporter(WatchScope(disk.path(kSyncFolder)), *this),
      faulty(disk.fs()),
      watched(faulty, reporter),
      client(watched, disk.ini(), disk.path(kSyncFolder), disk.path("Program"),
             test::EngineSettings{"sync.example.com", "2" + settings.contract, "1", settings.contract,
                                  settings.apiKey}),
      mover(watched),
      server(scratch_ / "server", *this, settings) {
  client.processes.delegate = &mover;
  // The client starts as the headless client does: the exception lists are
  // loaded, unfinished transfers removed, and the files it knows listed.
  ExceptionsEditor(client.engine.exceptionFilter(), client.config, client.log).FormShow();
  client.engine.start();
  client.engine.knownFiles().findChanges(client.syncFolder);
  if (!client.engine.knownFiles().remember(client.syncFolder)) ADD_FAILURE() << "known files not saved";
  watched.watching = true;
}

Seam::~Seam() {
  std::error_code ec;
  fs::remove_all(scratch_, ec);
}

void Seam::connect() {
  client.server.sends.clear();
  client.connect();
  std::string init;
  for (auto& s : client.server.sends) init += s;
  client.server.sends.clear();
  ASSERT_TRUE(server.accept(init)) << "init text: " << init;
  client.engine.ClientSocket1Connect();
  connected_ = true;
  dataLeft_ = dataDone_ = dataOnConnection_ = 0;
  outbox_.clear();
  clientStream_.clear();
  clientDataLeft_ = clientStreamAt_ = takenAt_ = 0;
  clientCutAt_.reset();
  server.connect();
  deliverWatcher();
}

bool Seam::cycle() {
  bool ok = server.cycle();
  client.engine.CheckChangesTimer();
  deliverWatcher();
  return ok;
}

bool Seam::settle(int limit) {
  for (int i = 0; i < limit; ++i) {
    std::size_t from = transcript_.size();
    if (!cycle()) return false;
    bool quiet = true;
    for (std::size_t k = from; k < transcript_.size(); ++k) {
      const Packet& p = transcript_[k];
      if (p.fromServer && p.type != "RQCHG" && p.type != "RQLST" && p.type != "RQFLS") quiet = false;
    }
    if (quiet) return true;
  }
  return false;
}

bool Seam::fetchLog() {
  bool ok = server.fetchLog();
  deliverWatcher();
  return ok;
}

// --- server to client ------------------------------------------------------

bool Seam::deliver(std::string_view bytes) {
  while (!bytes.empty()) {
    if (dataLeft_ > 0) {
      auto n = static_cast<std::size_t>(std::min<std::uint64_t>(dataLeft_, bytes.size()));
      if (!deliverData(bytes.substr(0, n))) return false;
      bytes.remove_prefix(n);
      continue;
    }
    if (bytes.size() < kHeaderSize) {
      ADD_FAILURE() << "the server sent a packet shorter than a header";
      readEvent(bytes);
      return true;
    }
    std::uint64_t length = payloadLength(bytes);
    std::string type(bytes.substr(0, 5));
    std::size_t size = kHeaderSize;
    if (type == "RQFDA") {
      dataLeft_ = length;
      dataDone_ = 0;
      transcript_.push_back({true, type, std::to_string(length)});
    } else {
      size += static_cast<std::size_t>(std::min<std::uint64_t>(length, bytes.size() - kHeaderSize));
      transcript_.push_back({true, type, std::string(bytes.substr(kHeaderSize, size - kHeaderSize))});
    }
    if (!deliverRequest(bytes.substr(0, size))) return false;
    bytes.remove_prefix(size);
  }
  return true;
}

bool Seam::deliverRequest(std::string_view request) {
  switch (delivery_.kind) {
    case Delivery::Kind::Whole: readEvent(request); break;
    case Delivery::Kind::Bytewise:
      for (std::size_t i = 0; i < kHeaderSize; ++i) readEvent(request.substr(i, 1));
      if (request.size() > kHeaderSize) readEvent(request.substr(kHeaderSize));
      break;
    case Delivery::Kind::SplitAt:
      if (delivery_.at > 0 && delivery_.at <= kHeaderSize && delivery_.at < request.size()) {
        readEvent(request.substr(0, delivery_.at));
        readEvent(request.substr(delivery_.at));
      } else {
        readEvent(request);
      }
      break;
  }
  return connected_;
}

bool Seam::deliverData(std::string_view data) {
  bool cut = false;
  if (cutAt_ && dataOnConnection_ + data.size() > *cutAt_) {
    data = data.substr(0, static_cast<std::size_t>(*cutAt_ - std::min(*cutAt_, dataOnConnection_)));
    cut = true;
  }
  dataLeft_ -= data.size();
  dataOnConnection_ += data.size();
  std::uint64_t start = dataDone_;
  dataDone_ += data.size();
  if (!data.empty()) {
    switch (delivery_.kind) {
      case Delivery::Kind::Whole: readEvent(data); break;
      case Delivery::Kind::Bytewise:
        for (std::size_t i = 0; i < data.size(); ++i) readEvent(data.substr(i, 1));
        break;
      case Delivery::Kind::SplitAt:
        if (delivery_.at > start && delivery_.at < start + data.size()) {
          auto at = static_cast<std::size_t>(delivery_.at - start);
          readEvent(data.substr(0, at));
          readEvent(data.substr(at));
        } else {
          readEvent(data);
        }
        break;
    }
  }
  if (cut) {
    cutAt_.reset();
    breakLink();
  }
  return connected_;
}

void Seam::readEvent(std::string_view bytes) {
  client.engine.FilesyncSocketRead(bytes);
  collectClientSends();
  if (echo_ == Echo::AfterEachRead) deliverWatcher();
}

void Seam::breakLink() {
  connected_ = false;
  client.server.active = false;
  client.engine.FilesyncSocketDisconnect();
  client.server.sends.clear();
  outbox_.clear();
  clientStream_.clear();
  dataLeft_ = 0;
  clientDataLeft_ = 0;
}

// --- client to server ------------------------------------------------------

void Seam::collectClientSends() {
  for (auto& s : client.server.sends) {
    outbox_ += s;
    clientStream_ += s;
  }
  client.server.sends.clear();
  noteClientPacket();
}

// noteClientPacket cuts the client's stream into packets for the transcript.
void Seam::noteClientPacket() {
  for (;;) {
    if (clientDataLeft_ > 0) {
      auto n = static_cast<std::size_t>(std::min<std::uint64_t>(clientDataLeft_, clientStream_.size()));
      clientStream_.erase(0, n);
      clientStreamAt_ += n;
      clientDataLeft_ -= n;
      if (clientDataLeft_ > 0) return;
    }
    if (clientStream_.size() < kHeaderSize) return;
    std::string type = clientStream_.substr(0, 5);
    std::uint64_t length = payloadLength(clientStream_);
    if (carriesJson(type)) {
      if (clientStream_.size() < kHeaderSize + length) return;
      transcript_.push_back({false, type, clientStream_.substr(kHeaderSize, static_cast<std::size_t>(length))});
      clientStream_.erase(0, kHeaderSize + static_cast<std::size_t>(length));
      clientStreamAt_ += kHeaderSize + length;
    } else {
      transcript_.push_back({false, type, carriesData(type) ? std::to_string(length) : std::string()});
      clientStream_.erase(0, kHeaderSize);
      clientStreamAt_ += kHeaderSize;
      if (carriesData(type)) clientDataLeft_ = length;
      if (type == "ANFIL" && clientCutAfter_) {
        clientCutAt_ = clientStreamAt_ + *clientCutAfter_;
        clientCutAfter_.reset();
      }
    }
  }
}

std::string Seam::take(std::size_t n) {
  // A folder move's answer waits for the client's timer: time passes for the
  // client while the server waits for it.
  for (int tick = 0; tick < 10 && outbox_.empty() && client.engine.moveAnswerPending(); ++tick) {
    client.clock.advance(timers::kStatusMs);
    client.engine.StatusTimer();
    collectClientSends();
  }
  std::size_t limit = n;
  if (delivery_.kind == Delivery::Kind::Bytewise) limit = 1;
  if (delivery_.kind == Delivery::Kind::SplitAt && delivery_.at > 0) limit = std::min(n, delivery_.at);
  if (clientCutAt_) {
    if (takenAt_ >= *clientCutAt_) {
      clientCutAt_.reset();
      breakLink();
      return {};
    }
    limit = static_cast<std::size_t>(std::min<std::uint64_t>(limit, *clientCutAt_ - takenAt_));
  }
  std::string out = outbox_.substr(0, limit);
  outbox_.erase(0, out.size());
  takenAt_ += out.size();
  return out;
}

// --- the watcher's messages ------------------------------------------------

void Seam::deliverWatcher() {
  while (!watcherQueue_.empty()) {
    std::string message = std::move(watcherQueue_.front());
    watcherQueue_.pop_front();
    watcherSent_.push_back(message);
    client.engine.ClientSocket1Read(message);
  }
}

// --- edits -------------------------------------------------------------------

std::string Seam::local(const std::string& relative) const {
  std::string text = relative;
  for (char& c : text)
    if (c == '/') c = '\\';
  return client.path(text);
}

void Seam::userWrite(const std::string& relative, const std::string& content) {
  std::string path = local(relative);
  ASSERT_TRUE(watched.createFolders(parentText(path)));
  ASSERT_TRUE(watched.writeText(path, content));
  deliverWatcher();
}

void Seam::userRemove(const std::string& relative) {
  ASSERT_TRUE(watched.removeAll(local(relative)));
  deliverWatcher();
}

void Seam::userRename(const std::string& from, const std::string& to) {
  ASSERT_TRUE(watched.rename(local(from), local(to)));
  deliverWatcher();
}

void Seam::userFolder(const std::string& relative) {
  ASSERT_TRUE(watched.createFolders(local(relative)));
  deliverWatcher();
}

void Seam::diskWrite(const std::string& relative, const std::string& content) {
  writeAll(syncFolder() / relative, content);
}

void Seam::setExceptions(const std::string& extensions, const std::string& prefixes) {
  writeAll(syncFolder() / "_config" / "exstensions.dat", extensions);
  writeAll(syncFolder() / "_config" / "exceptions.dat", prefixes);
  ExceptionsEditor(client.engine.exceptionFilter(), client.config, client.log).FormShow();
}

void Seam::restampSyncFiles(int offsetSeconds) {
  auto stamp = fs::file_time_type::clock::now() + std::chrono::seconds(offsetSeconds);
  for (auto& [relative, content] : syncTree())
    if (relative.back() != '/') fs::last_write_time(syncFolder() / relative, stamp);
}

void Seam::storeWrite(const std::string& relative, const std::string& content) {
  writeAll(server.storeFolder() / relative, content);
}

void Seam::storeRemove(const std::string& relative) { fs::remove_all(server.storeFolder() / relative); }

// --- trees -------------------------------------------------------------------

fs::path Seam::syncFolder() const { return disk.nativeRoot() / kSyncFolder; }

namespace {

Seam::Tree treeOf(const fs::path& root, const std::set<std::string>& skippedTop) {
  Seam::Tree tree;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    std::string relative = fs::relative(it->path(), root).generic_string();
    std::string top = relative.substr(0, relative.find('/'));
    bool skipped = skippedTop.count(top) != 0 || (skippedTop.count(".kqsyncd*") != 0 && top.rfind(".kqsyncd", 0) == 0);
    if (skipped) {
      if (it->is_directory()) it.disable_recursion_pending();
      continue;
    }
    if (it->is_directory()) tree[relative + "/"] = "";
    else tree[relative] = readAll(it->path());
  }
  return tree;
}

}  // namespace

Seam::Tree Seam::syncTree() const { return treeOf(syncFolder(), {"_log", "_config", "_trash"}); }

Seam::Tree Seam::storeTree() const { return treeOf(server.storeFolder(), {".kqsyncd*"}); }

void Seam::expectTreesAgree(const std::set<std::string>& storeOnly) const {
  Tree store = storeTree();
  for (auto& name : storeOnly) store.erase(name);
  Tree sync = syncTree();
  // Differences are named with sizes: contents may be large and binary.
  std::string differences;
  for (auto& [path, content] : store) {
    auto it = sync.find(path);
    if (it == sync.end()) differences += "  only in the store: " + path + "\n";
    else if (it->second != content)
      differences += "  differs: " + path + " (store " + std::to_string(content.size()) + " bytes, sync folder " +
                     std::to_string(it->second.size()) + " bytes)\n";
  }
  for (auto& [path, content] : sync)
    if (store.count(path) == 0) differences += "  only in the sync folder: " + path + "\n";
  EXPECT_TRUE(differences.empty()) << "store and sync folder differ:\n" << differences;
}

std::vector<std::string> Seam::packetTypes() const {
  std::vector<std::string> out;
  for (auto& p : transcript_) out.push_back(p.type);
  return out;
}

}  // namespace kq::seam
