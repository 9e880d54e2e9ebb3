#pragma once
// ScriptedClient speaks the client's side of the server link the way the
// desktop client does: the init text in one send, one request per socket read
// (header with its JSON body), answers built from fixed pieces, file data
// appended read by read, and a sync folder on disk.
#include <atomic>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kqs::test {

struct ClientChange {
  std::string type;     // MODIFIED, DELETED, RENAMED
  std::string path;     // server form, folder renames end with "/"
  std::string newname;  // renames
};

class ScriptedClient {
 public:
  ScriptedClient(std::filesystem::path folder, int port, std::string initText);
  ~ScriptedClient();
  // start connects and sends the init text; the reads run on a thread.
  void start();
  void stop();
  void queue(ClientChange change);
  // waitCycles waits until n more RQFLS arrived; false on timeout or close.
  bool waitCycles(int n, int timeoutMs = 10000);
  bool closedByServer() const { return closed_; }
  int cycles() const { return cycles_; }
  // requests lists the raw bytes of every read that held a request header.
  std::vector<std::string> requests();
  std::vector<std::string> packetTypes();
  bool silent = false;        // stop answering (the server must time out)
  bool refuseMoves = false;   // answer RQMOV with FLMOV
  // excluded: the exception list; a pushed file whose path holds one of these
  // is refused: ANPUT, then ANFDA at once, and its data dropped by count.
  std::vector<std::string> excluded;
  int refusalPauseMs = 0;     // after answering a refused RQFDA, wait before reading on
  // overrunAfter: bytes sent after the announced data of a file (key: its
  // server path, or "log" for the log), as a client does that reads a growing
  // file to its end; empty bytes end it.
  void overrunAfter(const std::string& key, std::string bytes);
  // queueAfterListing: changes that join the queue once the next listing was answered.
  void queueAfterListing(ClientChange change);
  // discarded: a pushed file whose path holds one of these is taken and
  // answered, but nothing reaches the disk (a folder the client cannot write).
  std::vector<std::string> discarded;
  // writeLimit: at most this many bytes of a pushed file reach the disk (a
  // full disk); the client still answers ANFDA, as a client that lost data does.
  std::atomic<std::uint64_t> writeLimit{UINT64_MAX};
  // cutAfter: the client dies once this many bytes of a pushed file reached
  // its disk (the connection drops, the partial file stays).
  std::uint64_t cutAfter = UINT64_MAX;
  // droppedBytes counts the data of refused files that was dropped by count.
  std::uint64_t droppedBytes() const { return dropped_; }

 private:
  void loop();
  void onRead(const std::string& bytes);
  void onRequest(const std::string& type, const std::string& id, const std::string& body);
  void answer(const std::string& type, const std::string& id, const std::string& payload, std::uint64_t length);
  void sendBytes(const std::string& bytes);
  void writeData(const std::string& bytes);
  std::string local(const std::string& serverPath) const;
  std::string changeReport();
  std::string listing();
  void sendFile(const std::string& type, const std::string& id, const std::filesystem::path& path,
                const std::string& overrunKey);

  std::filesystem::path folder_;
  int port_;
  std::string initText_;
  int fd_ = -1;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> closed_{false};
  std::atomic<int> cycles_{0};
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<ClientChange> changes_;
  std::deque<ClientChange> afterListing_;
  std::map<std::string, std::string> overrun_;
  std::vector<std::string> requests_;
  // receive state
  bool dataMode_ = false;
  bool blocked_ = false;             // the last RQPUT named an excluded file
  std::uint64_t refusedLeft_ = 0;    // data of a refused file still to drop
  std::atomic<std::uint64_t> dropped_{0};
  std::uint64_t expected_ = 0, received_ = 0;
  std::string receivingName_, lastType_, lastId_, sourcePath_;
  std::string serverDate_;
};

}  // namespace kqs::test
