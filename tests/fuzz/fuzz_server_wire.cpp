// Fuzzes the server's reading of what a client sends: the first byte picks the
// reader, the rest is the client's bytes.
//   0: the init text, matched against two accounts
//   1: an ANCHG body (change report)
//   2: an ANLST body (listing)
//   3: the answer stream after an RQFIL request (id 00 00 00 01), read by the
//      server's peer: headers of ANFIL, ANCHG or ANLST and their bodies
// Every path taken must be a normalized path within the path limits, and
// every log value must be free of control bytes and bounded.
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>

#include "accounts.h"
#include "log_text.h"
#include "peer.h"
#include "socket_link.h"
#include "wire_text.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

void checkLogValue(std::string_view value) {
  std::string shown = kqs::logValue(value);
  require(shown.size() <= 4 * kqs::kMaxLogValue + 3);
  for (unsigned char c : shown) require(c >= 0x20 && c != 0x7F);
}

void checkPath(const std::string& path) {
  require(kqs::normalizeClientPath(path) == path);
  require(kqs::pathLimitProblem(path).empty());
}

void checkReport(std::string_view json) {
  std::string refusal;
  auto report = kqs::parseChangeReport(json, &refusal);
  if (!report) return;
  checkLogValue(report->path);
  checkLogValue(report->newname);
  if (report->changetype.empty() || !refusal.empty()) return;
  checkPath(report->path);
}

void checkListing(std::string_view json) {
  int skipped = 0;
  std::string refusal;
  auto listing = kqs::parseListing(json, &skipped, &refusal);
  if (!listing) return;
  for (auto& entry : *listing) {
    checkPath(entry.path);
    require(entry.size >= 0);
  }
  require(refusal.size() < 5 * kqs::kMaxLogValue);
}

void checkInit(const std::string& text) {
  kqs::Account a{"1234", "KEY1234abc", "/s"}, b{"12", "K", "/t"};
  auto match = kqs::matchInitText(text, {&a, &b});
  if (!match) return;
  require(text.find(match->protocol) != std::string::npos);
  checkLogValue(match->protocol);
}

void checkAnswers(std::string_view bytes) {
  if (bytes.size() > 60000) return;  // must fit the socket buffer
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return;
  std::atomic<bool> stop{false};
  {
    kqs::SystemClock clock;
    kqs::SocketLink link(fds[0], stop, clock);
    kqs::Peer peer(link, clock, 200);
    auto id = peer.sendRequest("RQFIL", "{\"filepath\":\"\\/a\"}", 17);
    [[maybe_unused]] auto sent = ::send(fds[1], bytes.data(), bytes.size(), 0);
    ::shutdown(fds[1], SHUT_WR);
    try {
      for (;;) {
        auto header = peer.readAnswer(id, {"ANFIL", "ANCHG", "ANLST"});
        if (header.type == "ANFIL") {
          peer.skipBody(header.payloadLength);
        } else if (header.payloadLength > (1 << 20)) {
          peer.skipBody(header.payloadLength);
        } else {
          kqs::Received body;
          peer.readBody(static_cast<std::size_t>(header.payloadLength), body);
          if (header.type == "ANCHG") checkReport(body.view());
          else checkListing(body.view());
        }
      }
    } catch (const kqs::PeerError&) {
    }
  }
  ::close(fds[1]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 4) {
    case 0: checkInit(std::string(rest)); break;
    case 1: checkReport(rest); break;
    case 2: checkListing(rest); break;
    default: checkAnswers(rest); break;
  }
  return 0;
}
