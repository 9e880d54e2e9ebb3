#include "ui/headless/status_publisher.h"

#include <cstdlib>

namespace kq {

namespace {

int countAfter(const std::string& text, const std::string& prefix) {
  if (text.rfind(prefix, 0) != 0) return 0;
  return std::atoi(text.c_str() + prefix.size());
}

}  // namespace

void StatePublisher::onPanel(int index, const std::string& text, std::int64_t nowSeconds) {
  if (index == 0) {
    state_.connected = text != "Disconnected";
  } else if (index == 1) {
    state_.activity = text == "Listening..." ? "" : text;
  } else if (index == 2) {
    state_.queuedModifications = countAfter(text, "MOD: ");
    state_.lastCycleEnd = nowSeconds;
  } else if (index == 3) {
    state_.queuedDeletions = countAfter(text, "DEL: ");
  }
  dirty_ = true;
}

void StatePublisher::onCaption(const std::string& caption) {
  // The caption offers the other action: "Disconnect" while connected.
  state_.connected = caption == "Disconnect";
  dirty_ = true;
}

void StatePublisher::onLogLine(const std::string& line) {
  static const std::string kRefused = "Refused server path ";
  auto at = line.find(kRefused);
  if (at == std::string::npos) return;
  std::string rest = line.substr(at + kRefused.size());
  std::string name = rest.substr(0, rest.rfind(": "));
  if (failedNames_.size() >= kMaxFailedNames || !failedNames_.insert(name).second) return;
  state_.failedItems = static_cast<int>(failedNames_.size());
  dirty_ = true;
}

void StatePublisher::setTransfer(const std::optional<TransferProgress>& transfer) {
  state_.transfer = transfer;
  dirty_ = true;
}

void StatePublisher::publish(std::int64_t nowSeconds) {
  if (!dirty_) return;
  state_.updated = nowSeconds;
  dirty_ = !writeStateFile(path_, stateJson(state_));
}

}  // namespace kq
