// Fuzzes ClientSocket1Read: the input is a sequence of watcher reads separated
// by "\xFE\xFF". Afterwards the server drains the queues with RQCHG requests;
// every report must be a whole packet of valid JSON, and the queues must empty.
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "fuzz_engine.h"

namespace {

const std::string kRqchg = kq::encodeHeader({"RQCHG", {'\x01', '\x02', '\x03', '\x04'}, 0}) +
                           R"({"date":"2024-03-07","time":""})";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kq::fuzz::FuzzEngine t;
  for (std::string_view read : kq::fuzz::splitReads(data, size)) t.engine.ClientSocket1Read(read);
  kq::ChangeTracker& tracker = t.engine.tracker();
  std::size_t pending = tracker.renameQueue.size() + tracker.modificationQueue.size() +
                        tracker.deleteQueue.size();
  std::size_t before = t.server.sends.size();
  for (std::size_t i = 0; i <= pending; ++i) t.engine.FilesyncSocketRead(kRqchg);
  if (!tracker.renameQueue.empty() || !tracker.modificationQueue.empty() || !tracker.deleteQueue.empty())
    std::abort();
  if (t.server.sends.size() != before + pending + 1) std::abort();
  t.checkSends();
  // A name holding "$u" goes out with "\u" in its place, which need not be valid JSON.
  if (std::string_view(reinterpret_cast<const char*>(data), size).find("$u") != std::string_view::npos)
    return 0;
  for (std::size_t i = before; i < t.server.sends.size(); ++i) {
    if (!nlohmann::json::accept(t.server.sends[i].substr(kq::kHeaderSize))) std::abort();
  }
  return 0;
}
