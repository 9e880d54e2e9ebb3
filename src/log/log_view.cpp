#include "log/log.h"

namespace kq {

void LogView::prepare() {
  if (lines_.size() <= kMaxLines) return;
  lines_.clear();
  if (onChange) onChange(nullptr, true);
}

void LogView::add(const std::string& line) {
  lines_.push_back(line);
  if (onChange) onChange(&lines_.back(), false);
}

}  // namespace kq
