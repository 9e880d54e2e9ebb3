// Fuzzes FilesyncSocketRead: the input is a sequence of reads separated by
// "\xFE\xFF"; an empty read stands for a dropped and re-made connection.
#include "fuzz_engine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kq::fuzz::FuzzEngine t;
  for (std::string_view read : kq::fuzz::splitReads(data, size)) {
    if (read.empty()) {
      t.server.active = false;
      t.engine.FilesyncSocketDisconnect();
      t.connect();
      continue;
    }
    t.engine.FilesyncSocketRead(read);
  }
  t.checkSends();
  return 0;
}
