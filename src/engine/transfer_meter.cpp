#include "engine/transfer_meter.h"

namespace kq {

TransferProgress TransferMeter::sample(const std::string& file, std::int64_t done, std::int64_t total,
                                       std::int64_t nowMs) {
  if (file != file_ || done < lastDone_) {
    file_ = file;
    lastDone_ = done;
    lastMs_ = nowMs;
    rate_ = 0;
    rated_ = false;
  } else if (nowMs > lastMs_) {
    double current = static_cast<double>(done - lastDone_) * 1000.0 / static_cast<double>(nowMs - lastMs_);
    // The newest second counts for half: the rate follows changes within a few seconds.
    rate_ = rated_ ? (rate_ + current) / 2 : current;
    rated_ = true;
    lastDone_ = done;
    lastMs_ = nowMs;
  }
  return TransferProgress{file, done, total, rate_};
}

}  // namespace kq
