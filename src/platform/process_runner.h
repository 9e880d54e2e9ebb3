#pragma once
// ProcessRunner is the port for the external folder move ("robocopy /move /e SRC DST").
#include <string>

namespace kq {

struct MoveResult {
  bool complete = false;   // everything below source reached destination
  int exitCode = 0;        // robocopy's exit code, or 0 for the portable move
  std::string detail;      // what could not be moved, for the log
};

class ProcessRunner {
 public:
  virtual ~ProcessRunner() = default;
  // moveTree moves every file and subfolder of source into destination, merging
  // and replacing files, removing the source folders that end up empty and
  // leaving in place whatever could not be moved. Waits until it is done.
  virtual MoveResult moveTree(const std::string& source, const std::string& destination) = 0;
};

}  // namespace kq
