#pragma once
// Seam runs the real client engine and the real server session in one thread:
// every send of the server reaches SyncEngine::FilesyncSocketRead under a
// delivery policy, every byte the engine sends reaches the server's reads,
// and a watcher reports what happens in the sync folder (the user's edits and
// the engine's own writes) as zrservice would. A case ends by comparing the
// store folder with the sync folder.
//
//   seam::Seam s(seam::Delivery::bytewise());
//   s.storeWrite("docs/a.txt", "hello");
//   s.connect();
//   ASSERT_TRUE(s.cycle());
//   s.expectTreesAgree();
#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "platform/tree_move.h"
#include "seam_server.h"
#include "support/engine_harness.h"
#include "support/faulty_file_system.h"
#include "watcher/change_reporter.h"
#include "watcher/notification_sender.h"

namespace kq::seam {

// Delivery says how the bytes of one send reach the other side's reads.
// A request header may arrive in two reads and its JSON body in a read of its
// own; a body is never cut (the client takes one body per read), file data
// may be cut anywhere. The same policy limits how much of the client's bytes
// one server read takes.
struct Delivery {
  enum class Kind { Whole, Bytewise, SplitAt };
  Kind kind = Kind::Whole;
  std::size_t at = 0;  // SplitAt: the header is cut after this many bytes, file data at this offset

  static Delivery whole() { return {}; }
  static Delivery bytewise() { return {Kind::Bytewise, 0}; }
  static Delivery splitAt(std::size_t at) { return {Kind::SplitAt, at}; }
  std::string name() const;
};

inline void PrintTo(const Delivery& d, std::ostream* os) { *os << d.name(); }

// Echo says when the watcher's reports of the engine's own writes reach it:
// right after the read event that made them, or only after the cycle ended
// and the client's timers ran.
enum class Echo { AfterEachRead, AfterCycle };

// WatchedFileSystem passes every call to the file system below and tells a
// ChangeReporter what changed, the way inotify tells zrservice.
class WatchedFileSystem : public FileSystem {
 public:
  WatchedFileSystem(FileSystem& inner, ChangeReporter& reporter) : inner_(inner), reporter_(reporter) {}
  bool watching = false;

  FileStatus status(const std::string& p) override { return inner_.status(p); }
  bool createFolders(const std::string& p) override;
  bool remove(const std::string& p) override;
  bool removeAll(const std::string& p) override;
  bool rename(const std::string& from, const std::string& to) override;
  bool setAttributes(const std::string& p, bool hidden, bool system) override {
    return inner_.setAttributes(p, hidden, system);
  }
  std::pair<bool, bool> attributes(const std::string& p) override { return inner_.attributes(p); }
  std::unique_ptr<InputStream> openRead(const std::string& p) override { return inner_.openRead(p); }
  std::unique_ptr<OutputStream> openAppend(const std::string& p) override;
  std::unique_ptr<OutputStream> openWrite(const std::string& p) override;
  bool walk(const std::string& folder, const std::function<bool(const WalkEntry&)>& visit) override {
    return inner_.walk(folder, visit);
  }

 private:
  std::unique_ptr<OutputStream> watchWrites(const std::string& p, bool existed, std::unique_ptr<OutputStream> out);
  FileSystem& inner_;
  ChangeReporter& reporter_;
};

// Transcript entry: one packet as it crossed the link, "RQPUT" + JSON body,
// "ANFIL" + size, and so on.
struct Packet {
  bool fromServer;
  std::string type;
  std::string body;  // the JSON body, or the payload length of a packet with file data
};

class Seam : public ClientEnd, private NotificationSink {
 public:
  explicit Seam(Delivery delivery = {}, Echo echo = Echo::AfterEachRead, ServerSettings settings = {});
  ~Seam() override;

  // connect runs the client's connection: its init text must name the
  // server's account; the server starts a new session on it.
  void connect();
  // cycle runs one server cycle, then the client's CheckChanges timer; false
  // when the connection ended during it.
  bool cycle();
  // cycles runs cycles until one is quiet (the server sent nothing but RQCHG,
  // RQLST and RQFLS) or limit cycles ran; false when one failed.
  bool settle(int limit = 6);
  bool fetchLog();

  // The user's edits in the sync folder, reported by the watcher at once.
  void userWrite(const std::string& relative, const std::string& content);
  void userRemove(const std::string& relative);
  void userRename(const std::string& from, const std::string& to);
  void userFolder(const std::string& relative);
  // diskWrite writes a file into the sync folder unseen by the watcher (as
  // while the client was not running).
  void diskWrite(const std::string& relative, const std::string& content);
  // reloadExceptions writes the client's exception lists and loads them, as
  // the exceptions window does.
  void setExceptions(const std::string& extensions, const std::string& prefixes);
  // restampSyncFiles sets the modification time of every synchronised file
  // in the sync folder to now + offsetSeconds, as a client whose clock is that
  // far off would have stamped them. The watcher does not report it.
  void restampSyncFiles(int offsetSeconds);
  // Edits made directly in the store folder.
  void storeWrite(const std::string& relative, const std::string& content);
  void storeRemove(const std::string& relative);

  // cutAfterDataBytes breaks the link once this many bytes of file data
  // pushed by the server have reached the client (counted over the connection).
  void cutAfterDataBytes(std::uint64_t bytes) { cutAt_ = bytes; }
  // cutAfterClientDataBytes breaks the link once the server has read this many
  // bytes of the data of the client's next ANFIL.
  void cutAfterClientDataBytes(std::uint64_t bytes) { clientCutAfter_ = bytes; }

  // Trees: relative path ("docs/a.txt", folders end in "/") -> content.
  using Tree = std::map<std::string, std::string>;
  Tree syncTree() const;
  Tree storeTree() const;
  // expectTreesAgree compares both trees; storeOnly names store entries the
  // client is not to hold.
  void expectTreesAgree(const std::set<std::string>& storeOnly = {}) const;

  std::filesystem::path syncFolder() const;
  std::string local(const std::string& relative) const;  // local path text of a sync folder entry

  // The packets of the link since the last clearTranscript, in order.
  const std::vector<Packet>& transcript() const { return transcript_; }
  void clearTranscript() { transcript_.clear(); }
  std::vector<std::string> packetTypes() const;
  bool clientLogged(const std::string& text) const { return client.log.contains(text); }
  bool connected() const { return connected_; }
  // watcherMessages: every message the watcher gave the engine.
  const std::vector<std::string>& watcherMessages() const { return watcherSent_; }

 private:
  bool deliver(std::string_view bytes) override;
  std::string take(std::size_t n) override;
  bool open() const override { return connected_; }
  void push(std::string message) override { watcherQueue_.push_back(std::move(message)); }

  bool deliverRequest(std::string_view request);
  bool deliverData(std::string_view data);
  void readEvent(std::string_view bytes);
  void collectClientSends();
  void deliverWatcher();
  void breakLink();
  void noteClientPacket();

  Delivery delivery_;
  Echo echo_;
  std::filesystem::path scratch_;

 public:
  test::NativeFs disk;
  ChangeReporter reporter;
  test::FaultyFileSystem faulty;
  WatchedFileSystem watched;
  test::EngineHarness client;
  PortableTreeMove mover;
  SeamServer server;

 private:
  bool connected_ = false;
  std::uint64_t dataLeft_ = 0, dataDone_ = 0, dataOnConnection_ = 0;
  std::optional<std::uint64_t> cutAt_;
  std::string outbox_;           // client bytes the server has not read
  std::string clientStream_;     // client bytes not yet cut into packets
  std::uint64_t clientDataLeft_ = 0;
  std::uint64_t clientStreamAt_ = 0;  // offset of clientStream_ in all the client sent on the connection
  std::uint64_t takenAt_ = 0;         // how much of that the server has read
  std::optional<std::uint64_t> clientCutAfter_, clientCutAt_;
  std::deque<std::string> watcherQueue_;
  std::vector<std::string> watcherSent_;
  std::vector<Packet> transcript_;
};

}  // namespace kq::seam
