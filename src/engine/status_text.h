#pragma once
// The status record in words, the same on both platforms.
#include <string>

#include "engine/engine_status.h"

namespace kq {

// transferText is "FILE 1.2 MB / 4.0 MB at 350.0 KB/s" (without the rate while it is not known).
std::string transferText(const TransferProgress& transfer);

// statusSummary is the short text of the tray icon: the connection, the
// transfer under way and the failed items, one per line.
std::string statusSummary(const EngineStatus& status);

}  // namespace kq
