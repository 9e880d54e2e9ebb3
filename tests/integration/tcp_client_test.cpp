#include "platform/posix/tcp_client_posix.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/socket_errors.h"

namespace kq {
namespace {

using namespace std::chrono_literals;

// RecordingEvents keeps every socket event as a line of text.
struct RecordingEvents : LinkEvents {
  void onConnecting() override { events.push_back("connecting"); }
  void onConnect() override { events.push_back("connect"); }
  void onRead(std::string_view bytes) override {
    events.push_back("read");
    reads.emplace_back(bytes);
    received += bytes;
  }
  void onDisconnect() override { events.push_back("disconnect"); }
  void onError(int code) override { events.push_back("error " + std::to_string(code)); }
  std::vector<std::string> events;
  std::vector<std::string> reads;
  std::string received;
};

// Listener is a loopback listening socket on a free port.
struct Listener {
  Listener() {
    fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(fd, 4);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
  }
  ~Listener() {
    if (fd >= 0) close(fd);
  }
  int accept() { return ::accept(fd, nullptr, nullptr); }
  int fd = -1;
  int port = 0;
};

int unusedPort() {
  Listener l;
  return l.port;  // closed again when l goes: nothing listens there
}

void sendAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    auto n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    ASSERT_GT(n, 0);
    done += static_cast<std::size_t>(n);
  }
}

std::string readAll(int fd, std::size_t size) {
  std::string out;
  char buf[65536];
  while (out.size() < size) {
    auto n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  return out;
}

TEST(TcpClient, ConnectsReadsAndReportsThePeerClosing) {
  EventLoop loop;
  RecordingEvents ev;
  TcpClient client(loop, ev);
  Listener server;
  client.activate("127.0.0.1", server.port);
  EXPECT_TRUE(ev.events.empty()) << "no event runs inside the call";
  EXPECT_FALSE(client.isActive());
  ASSERT_TRUE(loop.runUntil([&] { return client.isActive(); }, 2000ms));
  int peer = server.accept();
  ASSERT_GE(peer, 0);
  EXPECT_TRUE(client.send("KQFILESYNC00003"));
  EXPECT_EQ(readAll(peer, 15), "KQFILESYNC00003");
  sendAll(peer, "RQCHG");
  ASSERT_TRUE(loop.runUntil([&] { return ev.received == "RQCHG"; }, 2000ms));
  close(peer);
  ASSERT_TRUE(loop.runUntil([&] { return !client.isActive(); }, 2000ms));
  loop.runFor(10ms);
  EXPECT_EQ(ev.events, (std::vector<std::string>{"connecting", "connect", "read", "disconnect"}));
}

TEST(TcpClient, RefusedAttemptReportsTheWindowsSocketsCodeAndNoDisconnect) {
  EventLoop loop;
  RecordingEvents ev;
  TcpClient client(loop, ev);
  client.activate("127.0.0.1", unusedPort());
  ASSERT_TRUE(loop.runUntil([&] { return ev.events.size() >= 2; }, 2000ms));
  loop.runFor(20ms);
  EXPECT_EQ(ev.events, (std::vector<std::string>{"connecting", "error 10061"}));
  EXPECT_FALSE(client.isActive());
  EXPECT_FALSE(client.isConnecting());
}

TEST(TcpClient, ResetByPeerIsAnErrorFollowedByADisconnect) {
  EventLoop loop;
  RecordingEvents ev;
  TcpClient client(loop, ev);
  Listener server;
  client.activate("localhost", server.port);
  ASSERT_TRUE(loop.runUntil([&] { return client.isActive(); }, 2000ms));
  int peer = server.accept();
  linger hard{1, 0};
  setsockopt(peer, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  close(peer);
  ASSERT_TRUE(loop.runUntil([&] { return ev.events.size() >= 4; }, 2000ms));
  EXPECT_EQ(ev.events, (std::vector<std::string>{"connecting", "connect", "error 10054", "disconnect"}));
  EXPECT_FALSE(client.isActive());
}

TEST(TcpClient, SendSaysWhetherTheConnectionTookTheBytes) {
  EventLoop loop;
  RecordingEvents ev;
  TcpClient client(loop, ev);
  EXPECT_FALSE(client.send("x")) << "nothing to send on before a connection";
  Listener server;
  client.activate("127.0.0.1", server.port);
  ASSERT_TRUE(loop.runUntil([&] { return client.isActive(); }, 2000ms));
  int peer = server.accept();
  EXPECT_TRUE(client.send("hello"));
  EXPECT_EQ(readAll(peer, 5), "hello");
  linger hard{1, 0};
  setsockopt(peer, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  close(peer);
  std::this_thread::sleep_for(50ms);  // the reset reaches the client's socket
  EXPECT_FALSE(client.send(std::string(1 << 20, 'x')));
  EXPECT_FALSE(client.isActive());
  EXPECT_FALSE(client.send("y"));
  ASSERT_TRUE(loop.runUntil([&] { return ev.events.size() >= 4; }, 2000ms));
  ASSERT_EQ(ev.events.size(), 4u);
  EXPECT_EQ(ev.events[2].rfind("error ", 0), 0u) << ev.events[2];
  EXPECT_EQ(ev.events[3], "disconnect");
}

TEST(TcpClient, DeactivateClosesAndTheDisconnectEventFollowsLater) {
  EventLoop loop;
  RecordingEvents ev;
  TcpClient client(loop, ev);
  Listener server;
  client.activate("127.0.0.1", server.port);
  ASSERT_TRUE(loop.runUntil([&] { return client.isActive(); }, 2000ms));
  int peer = server.accept();
  client.deactivate();
  EXPECT_FALSE(client.isActive());
  EXPECT_EQ(ev.events.back(), "connect");
  loop.runFor(10ms);
  EXPECT_EQ(ev.events.back(), "disconnect");
  char c;
  EXPECT_EQ(recv(peer, &c, 1, 0), 0) << "the server sees the connection end";
  close(peer);
}

TEST(TcpClient, ActiveSocketRefusesAnotherHostOrPortButAcceptsTheSame) {
  EventLoop loop;
  RecordingEvents ev;
  TcpClient client(loop, ev);
  Listener server;
  client.activate("127.0.0.1", server.port);
  ASSERT_TRUE(loop.runUntil([&] { return client.isActive(); }, 2000ms));
  EXPECT_NO_THROW(client.activate("127.0.0.1", server.port));
  EXPECT_THROW(client.activate("127.0.0.1", server.port + 1), LinkError);
  EXPECT_THROW(client.activate("127.0.0.2", server.port), LinkError);
  EXPECT_TRUE(client.isActive());
}

TEST(TcpClient, InvalidPortIsRefusedAtOnce) {
  EventLoop loop;
  RecordingEvents ev;
  TcpClient client(loop, ev);
  EXPECT_THROW(client.activate("127.0.0.1", 0), LinkError);
  EXPECT_THROW(client.activate("127.0.0.1", 70000), LinkError);
}

TEST(TcpClient, RenewDropsTheAttemptAndItsPendingEvents) {
  EventLoop loop;
  RecordingEvents ev;
  TcpClient client(loop, ev);
  client.activate("127.0.0.1", unusedPort());
  client.renew();
  loop.runFor(50ms);
  EXPECT_TRUE(ev.events.empty());
  EXPECT_FALSE(client.isConnecting());
}

TEST(TcpClient, LargeSendIsCompletedBeforeItReturns) {
  EventLoop loop;
  RecordingEvents ev;
  TcpClient client(loop, ev);
  Listener server;
  client.activate("127.0.0.1", server.port);
  ASSERT_TRUE(loop.runUntil([&] { return client.isActive(); }, 2000ms));
  int peer = server.accept();
  std::string big(16 * 1024 * 1024, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  std::string got;
  std::thread reader([&] {
    std::this_thread::sleep_for(100ms);  // let the socket buffers fill first
    got = readAll(peer, big.size());
  });
  EXPECT_TRUE(client.send(big));
  reader.join();
  EXPECT_EQ(got.size(), big.size());
  EXPECT_TRUE(got == big);
  EXPECT_TRUE(client.isActive());
  close(peer);
}

TEST(TcpClient, OneReadEventDeliversAtMost229376Bytes) {
  EventLoop loop;
  RecordingEvents ev;
  TcpClient client(loop, ev);
  Listener server;
  client.activate("127.0.0.1", server.port);
  ASSERT_TRUE(loop.runUntil([&] { return client.isActive(); }, 2000ms));
  int peer = server.accept();
  std::string data(1024 * 1024, 'x');
  std::thread writer([&] { sendAll(peer, data); });
  ASSERT_TRUE(loop.runUntil([&] { return ev.received.size() == data.size(); }, 5000ms));
  writer.join();
  for (const auto& r : ev.reads) EXPECT_LE(r.size(), TcpClient::kMaxRead);
  EXPECT_GE(ev.reads.size(), 5u);
  close(peer);
}

TEST(SocketErrors, MapToWindowsSocketsNumbers) {
  const std::pair<int, int> cases[] = {
      {ECONNREFUSED, 10061}, {ECONNRESET, 10054}, {ETIMEDOUT, 10060}, {EHOSTUNREACH, 10065},
      {ENETUNREACH, 10051},  {ECONNABORTED, 10053}, {EPIPE, 10054},  {EADDRNOTAVAIL, 10049},
      {ENOTCONN, 10057},     {EAGAIN, 10035},       {EINPROGRESS, 10036}, {ENOENT, 10107}};
  for (auto [error, code] : cases) EXPECT_EQ(wsaErrorFromErrno(error), code) << error;
  EXPECT_EQ(wsaErrorFromLookup(EAI_NONAME, 0), 11001);
  EXPECT_EQ(wsaErrorFromLookup(EAI_AGAIN, 0), 11002);
  EXPECT_EQ(wsaErrorFromLookup(EAI_FAIL, 0), 11003);
  EXPECT_EQ(wsaErrorFromLookup(EAI_SYSTEM, ECONNREFUSED), 10061);
}

}  // namespace
}  // namespace kq
