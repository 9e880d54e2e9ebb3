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
  // What goes out after the init text must be whole packets: each header is
  // followed by exactly the payload it announces (file data may come in chunks).
  std::string stream;
  for (const std::string& packet : server.sends) {
    if (packet.rfind("KQFILESYNC", 0) == 0) continue;  // the init text of a connection
    stream += packet;
  }
  std::size_t pos = 0;
  while (pos < stream.size()) {
    if (stream.size() - pos < kHeaderSize) std::abort();
    std::uint64_t length = payloadLength(std::string_view(stream).substr(pos, kHeaderSize));
    if (length > stream.size() - pos - kHeaderSize) std::abort();
    pos += kHeaderSize + length;
  }
}

}  // namespace kq::fuzz
