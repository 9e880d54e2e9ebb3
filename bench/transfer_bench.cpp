// Throughput of a large file through the receiving and sending handlers, on the
// real file system, with the peak resident memory of the process as a counter:
// it must not grow with the file size.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <string>

#include "engine/handler_ports.h"
#include "platform/tree_move.h"
#include "support/native_fs.h"
#include "support/recorders.h"
#include "tracking/exception_filter.h"
#include "transfer/file_receiver.h"
#include "transfer/file_sender.h"
#include "wire/packet.h"  // kReadSize: one read of the server socket

namespace kq {
namespace {


class NullLog : public Log {
 public:
  void writeLog(const std::string&, bool) override {}
};

// CountingLink takes every byte and keeps only the count.
class CountingLink : public test::RecordingServerLink {
 public:
  bool send(std::string_view bytes) override {
    sent += bytes.size();
    return true;
  }
  std::uint64_t sent = 0;
};

class NoClock : public Clock {
 public:
  LocalTime now() override { return {}; }
  std::int64_t epochMillis() override { return 0; }
  LocalTime toLocal(std::int64_t) override { return {}; }
  void sleepMs(int) override {}
};

double peakRssMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB on Linux
}

struct Bench {
  Bench() { (void)disk.fs().createFolders(sync); }
  test::NativeFs disk;
  std::string sync = disk.path("Sync");
  NullLog log;
  CountingLink server;
  test::RecordingStatusView status;
  test::RecordingFolderView folders;
  NoClock clock;
  PortableTreeMove processes{disk.fs()};
  ProtocolState protocol;
  ExceptionFilter filter{disk.fs()};
  ChangeTracker tracker{log, status, filter, disk.fs()};
  HandlerPorts ports{server, disk.fs(), log, status, folders, disk.ini(), clock, processes,
                     protocol, tracker, [this] { return sync; }, [] { return std::string(); },
                     [](const std::string&) { return false; }};
};

void receiveLargeFile(benchmark::State& state) {
  Bench b;
  auto size = static_cast<std::uint64_t>(state.range(0)) << 20;
  std::string read(kReadSize, 'x');
  FileReceiver receiver(b.ports);
  for (auto _ : state) {
    PacketContext packet{kRQPUT, ""};
    receiver.onMember("\"filepath\"", "\\/big.bin", packet);
    std::string first = encodeHeader(PacketHeader{"RQFDA", {}, size}) + read.substr(kHeaderSize);
    receiver.onHeader(first, packet);
    while (b.protocol.fileDataMode) receiver.onData(read, packet);
    if (packet.answerType != "ANFDA") state.SkipWithError("transfer did not complete");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(size) * state.iterations());
  state.counters["peak_rss_MiB"] = peakRssMiB();
}

void sendLargeFile(benchmark::State& state) {
  Bench b;
  auto size = static_cast<std::uint64_t>(state.range(0)) << 20;
  {
    auto out = b.disk.fs().openWrite(b.sync + "\\big.bin");
    std::string block(1 << 20, 'y');
    for (std::uint64_t i = 0; i < (size >> 20); ++i) (void)out->write(block.data(), block.size());
    (void)out->close();
  }
  for (auto _ : state) {
    b.server.sent = 0;
    sendDataPacket(b.ports, {}, b.sync + "\\big.bin", false);
    if (b.server.sent != size + kHeaderSize) state.SkipWithError("wrong byte count sent");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(size) * state.iterations());
  state.counters["peak_rss_MiB"] = peakRssMiB();
}

BENCHMARK(receiveLargeFile)->Arg(16)->Arg(256)->Unit(benchmark::kMillisecond);
BENCHMARK(sendLargeFile)->Arg(16)->Arg(256)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kq
