#pragma once
// TransferMeter turns samples of a running file transfer (bytes done of a
// total, at a time) into the progress the status line and "status" show: the
// file, bytes done / total and the rate, smoothed over the last seconds. A new
// file starts the rate afresh.
#include <cstdint>
#include <optional>
#include <string>

#include "engine/engine_status.h"

namespace kq {

class TransferMeter {
 public:
  // sample records the transfer of file at nowMs; reset() when none runs.
  TransferProgress sample(const std::string& file, std::int64_t done, std::int64_t total, std::int64_t nowMs);
  void reset() { file_.clear(); }

 private:
  std::string file_;
  std::int64_t lastDone_ = 0;
  std::int64_t lastMs_ = 0;
  double rate_ = 0;
  bool rated_ = false;
};

}  // namespace kq
