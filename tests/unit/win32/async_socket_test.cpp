#ifdef _WIN32
// The WSAAsyncSelect socket layer against a real loopback listener, with its
// events delivered through a message-only window.
#include "platform/win32/async_socket_win32.h"

#include <gtest/gtest.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/links_win32.h"

namespace kq {
namespace {

constexpr UINT kFirst = WM_APP + 0x100;

LRESULT CALLBACK testProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* socket = reinterpret_cast<AsyncSocket*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (socket && socket->owns(message)) {
    socket->handleMessage(message, wParam, lParam);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// Listener accepts one connection on a loopback port in a thread of its own.
class Listener {
 public:
  Listener() {
    initWinsock();
    listen_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listen_, 4);
    int size = sizeof address;
    getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &size);
    port = ntohs(address.sin_port);
  }
  ~Listener() {
    if (worker_.joinable()) worker_.join();
    closesocket(listen_);
  }
  // serve runs work on the accepted connection, then closes it.
  void serve(std::function<void(SOCKET)> work) {
    worker_ = std::thread([this, work] {
      SOCKET peer = accept(listen_, nullptr, nullptr);
      if (peer == INVALID_SOCKET) return;
      work(peer);
      closesocket(peer);
    });
  }
  int port = 0;

 private:
  SOCKET listen_ = INVALID_SOCKET;
  std::thread worker_;
};

// unusedPort is a loopback port on which nothing listens.
int unusedPort() {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
  int size = sizeof address;
  getsockname(s, reinterpret_cast<sockaddr*>(&address), &size);
  closesocket(s);
  return ntohs(address.sin_port);
}

class AsyncSocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = testProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"KqAsyncSocketTest";
    RegisterClassW(&windowClass);
    window = CreateWindowW(L"KqAsyncSocketTest", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(window, nullptr);
  }
  void TearDown() override { DestroyWindow(window); }

  AsyncSocket::Events recorder() {
    AsyncSocket::Events e;
    e.connecting = [this] { events.push_back("connecting"); };
    e.connect = [this] { events.push_back("connect"); };
    e.read = [this](std::string_view bytes) { received += bytes; };
    e.disconnect = [this] { events.push_back("disconnect"); };
    e.error = [this](int code, const char* api) {
      events.push_back("error " + std::to_string(code) + " " + api);
    };
    return e;
  }
  void attach(AsyncSocket& socket) {
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&socket));
  }
  // pumpUntil runs the message loop until done() or 10 s have passed.
  bool pumpUntil(const std::function<bool()>& done) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    return true;
  }
  bool has(const std::string& event) const {
    for (auto& e : events)
      if (e == event) return true;
    return false;
  }

  HWND window = nullptr;
  std::vector<std::string> events;
  std::string received;
};

TEST_F(AsyncSocketTest, ConnectReadAndPeerClose) {
  Listener server;
  std::atomic<bool> release{false};
  server.serve([&](SOCKET peer) {
    send(peer, "hello", 5, 0);
    while (!release) Sleep(5);
  });
  AsyncSocket socket(window, kFirst, recorder());
  attach(socket);
  socket.open("127.0.0.1", server.port);
  ASSERT_TRUE(pumpUntil([&] { return received == "hello"; }));
  EXPECT_TRUE(socket.connected());
  release = true;
  ASSERT_TRUE(pumpUntil([&] { return has("disconnect"); }));
  EXPECT_EQ(events, (std::vector<std::string>{"connecting", "connect", "disconnect"}));
  EXPECT_FALSE(socket.connected());
  EXPECT_FALSE(socket.attempting());
}

TEST_F(AsyncSocketTest, EverythingSentBeforeACloseArrivesInBoundedReads) {
  Listener server;
  std::string sent(600000, '\0');
  for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<char>(i % 253);
  server.serve([&](SOCKET peer) {
    for (std::size_t off = 0; off < sent.size();) {
      int n = ::send(peer, sent.data() + off, static_cast<int>(sent.size() - off), 0);
      if (n <= 0) break;
      off += static_cast<std::size_t>(n);
    }
  });
  std::size_t largestRead = 0;
  auto events = recorder();
  events.read = [&](std::string_view bytes) {
    largestRead = std::max(largestRead, bytes.size());
    received += bytes;
  };
  AsyncSocket socket(window, kFirst, events);
  attach(socket);
  socket.open("127.0.0.1", server.port);
  ASSERT_TRUE(pumpUntil([&] { return has("disconnect"); }));
  EXPECT_EQ(received.size(), sent.size());
  EXPECT_TRUE(received == sent);
  EXPECT_LE(largestRead, 229376u);
  EXPECT_EQ(this->events, (std::vector<std::string>{"connecting", "connect", "disconnect"}));
}

TEST_F(AsyncSocketTest, BigSendCompletesWhileThePeerIsSlow) {
  Listener server;
  std::atomic<std::size_t> got{0};
  std::string checksum;
  server.serve([&](SOCKET peer) {
    Sleep(300);  // let the socket buffer fill first
    std::vector<char> buffer(65536);
    for (;;) {
      int n = recv(peer, buffer.data(), static_cast<int>(buffer.size()), 0);
      if (n <= 0) break;
      for (int i = 0; i < n; ++i)
        if (buffer[static_cast<std::size_t>(i)] != static_cast<char>((got + static_cast<std::size_t>(i)) % 251))
          checksum = "mismatch";
      got += static_cast<std::size_t>(n);
    }
  });
  AsyncSocket socket(window, kFirst, recorder());
  attach(socket);
  socket.open("127.0.0.1", server.port);
  ASSERT_TRUE(pumpUntil([&] { return socket.connected(); }));
  std::string big(12u << 20, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i % 251);
  EXPECT_TRUE(socket.send(big));
  socket.close(false);
  ASSERT_TRUE(pumpUntil([&] { return got == big.size(); }));
  EXPECT_EQ(checksum, "");
  EXPECT_EQ(events, (std::vector<std::string>{"connecting", "connect"}));
}

TEST_F(AsyncSocketTest, SendOnAResetConnectionFailsWithErrorAndDisconnectEvents) {
  Listener server;
  server.serve([](SOCKET peer) {
    linger hard{1, 0};
    setsockopt(peer, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard);
  });
  AsyncSocket socket(window, kFirst, recorder());
  attach(socket);
  socket.open("127.0.0.1", server.port);
  ASSERT_TRUE(pumpUntil([&] { return socket.connected(); }));
  Sleep(200);  // the peer resets the connection; no message is handled meanwhile
  std::string chunk(1u << 20, 'x');
  bool failed = false;
  for (int i = 0; i < 8 && !failed; ++i) failed = !socket.send(chunk);
  EXPECT_TRUE(failed);
  EXPECT_FALSE(socket.connected());
  EXPECT_FALSE(socket.send("x"));
  ASSERT_TRUE(pumpUntil([&] { return has("disconnect"); }));
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[2].rfind("error ", 0), 0u) << events[2];
  EXPECT_NE(events[2].find(" send"), std::string::npos) << events[2];
  EXPECT_EQ(events[3], "disconnect");
}

TEST_F(AsyncSocketTest, RefusedConnectIsAnErrorEvent) {
  AsyncSocket socket(window, kFirst, recorder());
  attach(socket);
  socket.open("127.0.0.1", unusedPort());
  ASSERT_TRUE(pumpUntil([&] { return events.size() >= 2; }));
  EXPECT_EQ(events, (std::vector<std::string>{"connecting", "error 10061 connect"}));
  EXPECT_FALSE(socket.connected());
  EXPECT_FALSE(socket.attempting());
}

TEST_F(AsyncSocketTest, UnknownHostIsAnErrorEventNotACallDuringOpen) {
  AsyncSocket socket(window, kFirst, recorder());
  attach(socket);
  socket.open("host.invalid", 5000);
  EXPECT_TRUE(events.empty());
  ASSERT_TRUE(pumpUntil([&] { return !events.empty(); }));
  EXPECT_EQ(events[0].rfind("error ", 0), 0u) << events[0];
  EXPECT_NE(events[0].find(" lookup"), std::string::npos);
}

TEST_F(AsyncSocketTest, AFreshAttemptDropsTheEventsOfTheOldOne) {
  Listener first, second;
  std::atomic<bool> release{false};
  first.serve([&](SOCKET) { while (!release) Sleep(5); });
  second.serve([&](SOCKET peer) {
    send(peer, "second", 6, 0);
    while (!release) Sleep(5);
  });
  AsyncSocket socket(window, kFirst, recorder());
  attach(socket);
  socket.open("127.0.0.1", first.port);
  socket.open("127.0.0.1", second.port);
  ASSERT_TRUE(pumpUntil([&] { return received == "second"; }));
  EXPECT_EQ(events, (std::vector<std::string>{"connecting", "connect"}));
  EXPECT_EQ(socket.port(), second.port);
  release = true;
}

TEST_F(AsyncSocketTest, ServerLinkRefusesAnotherTargetWhileActive) {
  Listener server;
  std::atomic<bool> release{false};
  server.serve([&](SOCKET) { while (!release) Sleep(5); });
  Win32ServerLink link(window, kFirst, recorder());
  attach(link.socket());
  link.activate("127.0.0.1", server.port);
  ASSERT_TRUE(pumpUntil([&] { return link.isActive(); }));
  EXPECT_NO_THROW(link.activate("127.0.0.1", server.port));
  EXPECT_THROW(link.activate("127.0.0.1", server.port + 1), LinkError);
  link.deactivate();
  EXPECT_FALSE(link.isActive());
  ASSERT_TRUE(pumpUntil([&] { return has("disconnect"); }));
  EXPECT_EQ(events, (std::vector<std::string>{"connecting", "connect", "disconnect"}));
  // A renewed link starts inactive and a send on it fails without events.
  link.renew();
  EXPECT_FALSE(link.send("x"));
  release = true;
}

}  // namespace
}  // namespace kq
#endif
