#pragma once
// ScriptedClient speaks the client's side of the server link the way the
// desktop client does: the init text in one send, one request per socket read
// (header with its JSON body), answers built from fixed pieces, file data
// appended read by read, and a sync folder on disk.
#include <atomic>
#include <condition_variable>
#include <deque>
#include <filesystem>
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

 private:
  void loop();
  void onRead(const std::string& bytes);
  void onRequest(const std::string& type, const std::string& id, const std::string& body);
  void answer(const std::string& type, const std::string& id, const std::string& payload, std::uint64_t length);
  void sendBytes(const std::string& bytes);
  std::string local(const std::string& serverPath) const;
  std::string changeReport();
  std::string listing();
  void sendFile(const std::string& type, const std::string& id, const std::filesystem::path& path);

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
  std::vector<std::string> requests_;
  // receive state
  bool dataMode_ = false;
  std::uint64_t expected_ = 0, received_ = 0;
  std::string receivingName_, lastType_, lastId_, sourcePath_;
  std::string serverDate_;
};

}  // namespace kqs::test
