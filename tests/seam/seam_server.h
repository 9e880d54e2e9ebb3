#pragma once
// SeamServer is the real sync server's side of one contract: its store in a
// temporary folder, its session and its framing, run in the caller's thread
// behind an in-process link to a ClientEnd. Every use of the server's own
// classes is in seam_server.cpp, so a change of the server's interfaces is
// followed in that one file.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kq::seam {

// ClientEnd is what the server's link reaches: the client behind it.
class ClientEnd {
 public:
  virtual ~ClientEnd() = default;
  // deliver hands one whole send of the server to the client; false when the
  // link broke during it (the client took only part of it).
  virtual bool deliver(std::string_view bytes) = 0;
  // take returns up to n of the bytes the client sent that the server has not
  // read yet; "" when none wait.
  virtual std::string take(std::size_t n) = 0;
  // open is false once the link is closed.
  virtual bool open() const = 0;
};

struct ServerSettings {
  std::string contract = "1234";
  std::string apiKey = "0123456789abcdef0123456789abcdef";
  int timeoutMs = 30000;          // the client timeout on the server's fake clock
  std::size_t chunkBytes = 4096;  // file data goes out in sends of this size
};

class SeamServer {
 public:
  // root is an empty folder for the store and the server's data.
  SeamServer(const std::filesystem::path& root, ClientEnd& client, ServerSettings settings = {});
  ~SeamServer();
  SeamServer(const SeamServer&) = delete;
  SeamServer& operator=(const SeamServer&) = delete;

  const std::filesystem::path& storeFolder() const;
  // renameInStore renames a store folder or file the way a rename reported by
  // another client of the contract does ("/old", "/new"); false when nothing was there.
  bool renameInStore(const std::string& from, const std::string& to);
  // accept is true when the init text names this contract with its key.
  bool accept(const std::string& initText) const;
  // connect starts a new session on a new connection; the store and what the
  // contract remembers about earlier pushes stay.
  void connect();
  // cycle runs one synchronisation cycle; false when the connection ended
  // (lastError() says why).
  bool cycle();
  // fetchLog asks for the client's log; false when the connection ended.
  bool fetchLog();
  // clientLogPath is where a fetched client log is kept.
  std::filesystem::path clientLogPath() const;
  const std::string& lastError() const;

  // The server's log: every line as written ("[who] text" without the stamp).
  std::vector<std::string> logLines() const;
  bool logged(const std::string& part) const;
  // keptVersions: the hashes of the kept previous versions of path and what was below it.
  std::vector<std::string> keptVersions(const std::string& path) const;
  // requests lists every request the server sent, header and JSON body (file
  // data left out), in order.
  const std::vector<std::string>& requests() const;
  // The server's fake steady clock, in milliseconds.
  std::int64_t clockMs() const;

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
};

}  // namespace kq::seam
