#pragma once
// Shared pieces of the fuzz targets: an engine over in-memory ports with a few
// pending changes, input split into reads, and checks on what was sent.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "support/engine_harness.h"
#include "support/protocol_doubles.h"

namespace kq::fuzz {

// splitReads cuts the input at every "\xFE\xFF": each piece is one read.
std::vector<std::string_view> splitReads(const std::uint8_t* data, std::size_t size);

// FuzzEngine is a MemoryEngine with a file receiver, a connected link and a
// change of each kind waiting.
class FuzzEngine : public test::MemoryEngine {
 public:
  FuzzEngine();
  // checkSends stops the run when a sent packet is not a whole header plus the
  // payload its length announces (the init text excepted).
  void checkSends() const;

  test::CountingReceiver receiver{engine.protocol()};
};

}  // namespace kq::fuzz
