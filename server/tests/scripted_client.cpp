#include "scripted_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>
#include <nlohmann/json.hpp>

#include "wire/codepage.h"
#include "wire/packet.h"
#include "wire_text.h"

namespace fs = std::filesystem;

namespace kqs::test {

namespace {

constexpr std::size_t kReadBuffer = kq::kReadSize;

std::string toWire(const std::string& utf8) {
  return kq::completeEscapes(kq::escapeNonAscii(kq::utf8ToCp1252(utf8)));
}

std::string serverPathOf(const fs::path& root, const fs::path& p) {
  return "/" + fs::relative(p, root).generic_string();
}

}  // namespace

ScriptedClient::ScriptedClient(fs::path folder, int port, std::string initText)
    : folder_(std::move(folder)), port_(port), initText_(std::move(initText)) {
  fs::create_directories(folder_);
}

ScriptedClient::~ScriptedClient() { stop(); }

void ScriptedClient::start() {
  fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(port_));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) throw std::runtime_error("connect");
  sendBytes(initText_);
  thread_ = std::thread([this] { loop(); });
}

void ScriptedClient::stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void ScriptedClient::queue(ClientChange change) {
  std::lock_guard lock(mutex_);
  changes_.push_back(std::move(change));
}

void ScriptedClient::overrunAfter(const std::string& key, std::string bytes) {
  std::lock_guard lock(mutex_);
  overrun_[key] = std::move(bytes);
}

void ScriptedClient::queueAfterListing(ClientChange change) {
  std::lock_guard lock(mutex_);
  afterListing_.push_back(std::move(change));
}

bool ScriptedClient::waitCycles(int n, int timeoutMs) {
  std::unique_lock lock(mutex_);
  int target = cycles_ + n;
  return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return cycles_ >= target || closed_; }) &&
         cycles_ >= target;
}

std::vector<std::string> ScriptedClient::requests() {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::vector<std::string> ScriptedClient::packetTypes() {
  std::vector<std::string> out;
  for (auto& r : requests()) out.push_back(r.substr(0, 5));
  return out;
}

void ScriptedClient::sendBytes(const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    auto n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

void ScriptedClient::loop() {
  std::string buffer(kReadBuffer, '\0');
  while (!stop_) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    auto n = ::recv(fd_, buffer.data(), buffer.size(), 0);
    if (n <= 0) {
      closed_ = true;
      cv_.notify_all();
      return;
    }
    if (!silent) onRead(buffer.substr(0, static_cast<std::size_t>(n)));
  }
}

void ScriptedClient::onRead(const std::string& bytes) {
  if (bytes.empty()) return;
  if (refusedLeft_ > 0) {
    auto take = static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), refusedLeft_));
    refusedLeft_ -= take;
    dropped_ += take;
    onRead(bytes.substr(take));  // a request may follow the dropped data in the same read
    return;
  }
  if (dataMode_) {
    writeData(bytes);
    received_ += bytes.size();
    if (received_ >= cutAfter) {
      ::shutdown(fd_, SHUT_RDWR);  // killed: nothing more is read or answered
      dataMode_ = false;
      return;
    }
  } else {
    int code = bytes[0] == '{' ? 0 : kq::packetTypeCode(bytes);
    if (code == 0) return;  // a body alone never comes from this server
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(bytes);
    }
    std::string type = bytes.substr(0, 5), id = bytes.substr(5, 4);
    lastId_ = id;
    if (type == "RQFDA" && blocked_) {
      blocked_ = false;
      std::uint64_t size = kq::payloadLength(bytes);
      std::uint64_t here = std::min<std::uint64_t>(size, bytes.size() - kq::kHeaderSize);
      refusedLeft_ = size - here;
      dropped_ += here;
      answer("ANFDA", id, "", 0);
      if (refusalPauseMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(refusalPauseMs));
      onRead(bytes.substr(kq::kHeaderSize + here));
      return;
    }
    if (type == "RQFDA") {
      expected_ = kq::payloadLength(bytes);
      received_ = 0;
      writeData(bytes.substr(kq::kHeaderSize));
      received_ = bytes.size() - kq::kHeaderSize;
      dataMode_ = true;
    } else {
      onRequest(type, id, bytes.substr(kq::kHeaderSize));
      return;
    }
  }
  if (dataMode_ && received_ == expected_) {
    dataMode_ = false;
    received_ = 0;
    answer("ANFDA", lastId_, "", 0);
  }
}

void ScriptedClient::writeData(const std::string& bytes) {
  if (receivingName_.empty()) return;
  std::uint64_t room = writeLimit > received_ ? writeLimit - received_ : 0;
  std::ofstream(local(receivingName_), std::ios::binary | std::ios::app)
      << bytes.substr(0, static_cast<std::size_t>(std::min<std::uint64_t>(room, bytes.size())));
}

std::string ScriptedClient::local(const std::string& serverPath) const {
  return (folder_ / serverPath.substr(1)).string();
}

void ScriptedClient::answer(const std::string& type, const std::string& id, const std::string& payload,
                            std::uint64_t length) {
  kq::RequestId rid{};
  std::copy(id.begin(), id.end(), rid.begin());
  sendBytes(kq::encodeHeader({type, rid, length}) + payload);
}

void ScriptedClient::onRequest(const std::string& type, const std::string& id, const std::string& body) {
  auto doc = nlohmann::ordered_json::parse(body);
  auto value = [&](const char* key) { return doc.contains(key) ? doc[key].get<std::string>() : std::string(); };
  if (type == "RQCHG") {
    serverDate_ = value("date");
    std::string json = changeReport();
    answer("ANCHG", id, json, json.size());
  } else if (type == "RQFLS") {
    std::lock_guard lock(mutex_);
    ++cycles_;
    cv_.notify_all();
  } else if (type == "RQFIL") {
    sendFile("ANFIL", id, local(value("filepath")), value("filepath"));
  } else if (type == "RQLOG") {
    sendFile("ANLOG", id, folder_ / "_log" / "Filesync.log", "log");
  } else if (type == "RQPUT") {
    std::string path = value("filepath");
    if (path.back() == '/') {
      fs::create_directories(local(path));
    } else {
      blocked_ = false;
      for (auto& fragment : excluded) blocked_ = blocked_ || path.find(fragment) != std::string::npos;
      bool discard = false;
      for (auto& fragment : discarded) discard = discard || path.find(fragment) != std::string::npos;
      receivingName_.clear();
      if (!blocked_ && !discard) {
        fs::create_directories(fs::path(local(path)).parent_path());
        fs::remove(local(path));
        receivingName_ = path;
      }
    }
    answer("ANPUT", id, "", 0);
  } else if (type == "RQLST") {
    std::string json = listing();
    answer("ANLST", id, json, json.size());
    std::lock_guard lock(mutex_);
    changes_.insert(changes_.end(), afterListing_.begin(), afterListing_.end());
    afterListing_.clear();
  } else if (type == "RQDEL") {
    fs::remove_all(local(value("filepath")));
    answer("ANDEL", id, "", 0);
  } else if (type == "RQMOV") {
    std::string from = local(value("sourcefilepath")), to = local(value("destinationfilepath"));
    bool ok = !refuseMoves;
    if (ok) {
      fs::create_directories(fs::path(to).parent_path().parent_path());
      fs::rename(fs::path(from).parent_path(), fs::path(to).parent_path());
    }
    answer(ok ? "ANMOV" : "FLMOV", id, "", 0);
  }
}

void ScriptedClient::sendFile(const std::string& type, const std::string& id, const fs::path& path,
                              const std::string& overrunKey) {
  std::ifstream in(path, std::ios::binary);
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  answer(type, id, "", data.size());
  std::string more;
  {
    std::lock_guard lock(mutex_);
    auto it = overrun_.find(overrunKey);
    if (it != overrun_.end()) more = it->second;
  }
  sendBytes(data + more);
}

std::string ScriptedClient::changeReport() {
  ClientChange c;
  {
    std::lock_guard lock(mutex_);
    if (!changes_.empty()) {
      c = changes_.front();
      changes_.pop_front();
    }
  }
  std::string size = "0";
  if (c.type == "MODIFIED" || c.type == "DELETED") {
    std::error_code ec;
    size = fs::is_regular_file(local(c.path), ec) ? std::to_string(fs::file_size(local(c.path))) : "-1";
  }
  const std::string& d = serverDate_;
  std::string json = "{\"date\":\"" + d + "\",\"time\":\"\",\"changes\":[{\"filepath\":\"" + c.path;
  if (!c.newname.empty()) json += "\",\"newname\":\"" + c.newname;
  json += "\",\"date\":\"" + d + "\",\"time\":\"\",\"mdate\":\"\",\"mtime\":\"";
  json += c.newname.empty() ? "\",\"size\":\"" + size + "\",\"changetype\":\"" + c.type
                            : "\",\"size\":\"\",\"changetype\":\"" + c.type;
  return toWire(json + "\"}]}");
}

std::string ScriptedClient::listing() {
  std::string body;
  for (auto& e : fs::recursive_directory_iterator(folder_)) {
    std::string size = "0", date, time;
    if (e.is_regular_file()) {
      size = std::to_string(e.file_size());
      auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
          std::chrono::file_clock::to_sys(e.last_write_time()).time_since_epoch()).count();
      date = formatLocal(seconds, "%Y-%m-%d");
      time = formatLocal(seconds, "%H.%M.%S");
    }
    if (!body.empty()) body += ",";
    body += "\"filepath\":\"" + serverPathOf(folder_, e.path()) + "\",\"size\":\"" + size + "\",\"mdate\":\"" + date +
            "\",\"mtime\":\"" + time + "\"";
  }
  return toWire("{\"content\":[{" + body + "}]}");
}

}  // namespace kqs::test
