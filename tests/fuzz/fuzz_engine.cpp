#include "fuzz_engine.h"

#include <cstdlib>

namespace kq::fuzz {

std::vector<std::string_view> splitReads(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> reads;
  for (;;) {
    auto cut = input.find("\xFE\xFF");
    if (cut == std::string_view::npos) break;
    reads.push_back(input.substr(0, cut));
    input.remove_prefix(cut + 2);
  }
  reads.push_back(input);
  return reads;
}

FuzzEngine::FuzzEngine() {
  if (engine.receiver() == nullptr) engine.registerReceiver(receiver);
  (void)fs.createFolders(path("_config"));
  (void)fs.createFolders(path("sub"));
  (void)fs.writeText(path("sub\\a.txt"), "hello");
  connect();
  ChangeTracker& tracker = engine.tracker();
  tracker.renameQueue.push_back({path("a.txt"), path("b.txt")});
  tracker.modificationQueue.push_back(path("sub\\a.txt"));
  tracker.modificationQueue.push_back("C:\\elsewhere\\x.txt");
  tracker.deleteQueue.push_back(path("\xE6.txt"));
}

void FuzzEngine::checkSends() const {
  for (const std::string& packet : server.sends) {
    if (packet.rfind("KQFILESYNC", 0) == 0) continue;  // the init text of a connection
    if (packet.size() < kHeaderSize || payloadLength(packet) != packet.size() - kHeaderSize) std::abort();
  }
}

}  // namespace kq::fuzz
