// receive_probe.exe [MiB]: where the time of a received file goes under Wine.
// A thread serves MiB mebibytes over loopback as fast as it can; the same bytes
// are taken in four ways and timed:
//   recv loop     blocking recv() of 224 KiB, nothing else (the socket's ceiling)
//   events        the client's AsyncSocket: one read event per window message
//   events+write  the same, each read appended to a file as the receiver does
//   write only    WriteFile of 224 KiB blocks (the file's ceiling)
// For the event runs it also prints the number of read events and their mean size.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/win32/async_socket_win32.h"

namespace {

constexpr std::size_t kBlock = 229376;
constexpr UINT kFirstMessage = WM_APP + 100;
kq::AsyncSocket* gSocket = nullptr;

double seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// serveOnce listens on a free loopback port, returns it, and sends total bytes
// to the first client from a thread.
int serveOnce(std::uint64_t total, std::thread& sender) {
  SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
  listen(listener, 1);
  int length = sizeof address;
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  sender = std::thread([listener, total] {
    SOCKET peer = accept(listener, nullptr, nullptr);
    std::string block(1 << 20, 'x');
    for (std::uint64_t sent = 0; sent < total;) {
      int n = send(peer, block.data(), static_cast<int>(std::min<std::uint64_t>(block.size(), total - sent)), 0);
      if (n <= 0) break;
      sent += static_cast<std::uint64_t>(n);
    }
    shutdown(peer, SD_SEND);
    closesocket(peer);
    closesocket(listener);
  });
  return ntohs(address.sin_port);
}

void report(const char* what, std::uint64_t bytes, double secs, std::uint64_t events = 0) {
  std::printf("%-13s %8.1f MB/s", what, static_cast<double>(bytes) / 1e6 / secs);
  if (events) std::printf("  %llu read events, %.0f bytes each", static_cast<unsigned long long>(events),
                          static_cast<double>(bytes) / static_cast<double>(events));
  std::printf("\n");
}

void recvLoop(std::uint64_t total) {
  std::thread sender;
  int port = serveOnce(total, sender);
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
  std::string buffer(kBlock, '\0');
  std::uint64_t got = 0;
  auto start = std::chrono::steady_clock::now();
  for (int n; (n = recv(s, buffer.data(), static_cast<int>(buffer.size()), 0)) > 0;) got += static_cast<std::uint64_t>(n);
  report("recv loop", got, seconds(start));
  closesocket(s);
  sender.join();
}

LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (gSocket && gSocket->owns(message)) {
    gSocket->handleMessage(message, wParam, lParam);
    return 0;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

void events(std::uint64_t total, bool write) {
  HANDLE file = INVALID_HANDLE_VALUE;
  if (write) {
    file = CreateFileW(L"receive_probe.tmp", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  HWND window = CreateWindowExW(0, L"KqReceiveProbe", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  std::uint64_t got = 0, reads = 0;
  std::chrono::steady_clock::time_point start;
  kq::AsyncSocket::Events handlers;
  handlers.connect = [&] { start = std::chrono::steady_clock::now(); };
  handlers.read = [&](std::string_view bytes) {
    got += bytes.size();
    ++reads;
    DWORD put = 0;
    if (file != INVALID_HANDLE_VALUE) WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr);
  };
  handlers.disconnect = [] { PostQuitMessage(0); };
  handlers.error = [](int code, const char* api) {
    std::printf("error %d in %s\n", code, api);
    PostQuitMessage(1);
  };
  kq::AsyncSocket socket(window, kFirstMessage, handlers);
  gSocket = &socket;
  std::thread sender;
  socket.open("127.0.0.1", serveOnce(total, sender));
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  report(write ? "events+write" : "events", got, seconds(start), reads);
  gSocket = nullptr;
  sender.join();
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  DeleteFileW(L"receive_probe.tmp");
  DestroyWindow(window);
}

void writeOnly(std::uint64_t total) {
  HANDLE file = CreateFileW(L"receive_probe.tmp", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  std::string block(kBlock, 'x');
  auto start = std::chrono::steady_clock::now();
  for (std::uint64_t done = 0; done < total; done += block.size()) {
    DWORD put = 0;
    WriteFile(file, block.data(), static_cast<DWORD>(block.size()), &put, nullptr);
  }
  CloseHandle(file);
  report("write only", total, seconds(start));
  DeleteFileW(L"receive_probe.tmp");
}

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t total = (argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 200) << 20;
  if (!kq::initWinsock()) return 1;
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = windowProc;
  windowClass.lpszClassName = L"KqReceiveProbe";
  RegisterClassW(&windowClass);
  recvLoop(total);
  events(total, false);
  events(total, true);
  writeOnly(total);
  return 0;
}
