#pragma once
// The status record in words, the same on both platforms.
#include <string>

#include "engine/engine_status.h"

namespace kq {

// transferText is "FILE 1.2 MB / 4.0 MB at 350.0 KB/s" (without the rate while it is not known).
std::string transferText(const TransferProgress& transfer);

// megabytesLeft rounds a byte count up to whole MiB: nothing left is 0, a byte left is 1.
std::int64_t megabytesLeft(std::int64_t bytes);

// megabytesLeftPanel is the "MB left" panel while a file moves, "MB left: N"
// with the client's own count (the rest of the transfers under way and the
// files queued to be sent); empty while none moves, when the server's figure
// of its last change request stands.
std::string megabytesLeftPanel(const EngineStatus& status);

// statusSummary is the short text of the tray icon: the connection, the
// transfer under way and the failed items, one per line.
std::string statusSummary(const EngineStatus& status);

}  // namespace kq
