#include "engine/server_refusal.h"

#include <algorithm>

namespace kq {

void ServerRefusal::onInitSent(const std::string& identity) {
  if (identity != identity_) forget();
  identity_ = identity;
  armed_ = true;
}

void ServerRefusal::onServerSpoke() {
  armed_ = false;
  inARow_ = 0;
}

bool ServerRefusal::onClosed(std::int64_t nowMs) {
  if (!armed_) return false;
  armed_ = false;
  ++inARow_;
  closedAtMs_ = nowMs;
  return true;
}

bool ServerRefusal::mayConnect(const std::string& identity, std::int64_t nowMs) {
  if (identity != identity_) {
    forget();
    identity_ = identity;
  }
  return nowMs - closedAtMs_ >= waitMs();
}

std::int64_t ServerRefusal::waitMs() const {
  if (inARow_ < kSlowAfter) return 0;
  std::int64_t wait = kFirstWaitMs;
  for (int n = kSlowAfter; n < inARow_ && wait < kLongestWaitMs; ++n) wait *= 2;
  return std::min(wait, kLongestWaitMs);
}

void ServerRefusal::forget() {
  armed_ = false;
  inARow_ = 0;
  closedAtMs_ = 0;
}

std::string refusalText(const std::string& contract) {
  return "The server refused contract " + contract +
         " and this API key: run the installer again to correct them";
}

std::string refusalPanelText(const std::string& contract) { return "Refused: contract " + contract; }

}  // namespace kq
