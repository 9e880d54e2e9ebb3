#pragma once
// Sending on the client's server link: the header-only answer and the hex-dump
// trace hook. The framing itself is in wire/packet.h.
#include <cstdio>
#include <string>
#include <string_view>

#include "wire/packet.h"

namespace kq {

class Log;
class ServerLink;

// hexDump is a trace hook: with enabled false it does nothing. When enabled it
// writes one line per width bytes to out (stdout when null) and to the log.
void hexDump(std::string_view bytes, int width, bool enabled, Log* log, std::FILE* out = nullptr);

// sendSimplePacket sends a header-only answer; it never throws.
void sendSimplePacket(const std::string& answerType, const RequestId& requestId,
                      ServerLink& link, Log& log);

}  // namespace kq
