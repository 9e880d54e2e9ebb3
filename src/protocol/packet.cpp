#include "protocol/packet.h"

#include "log/log.h"
#include "platform/links.h"

namespace kq {

void hexDump(std::string_view bytes, int width, bool enabled, Log* log, std::FILE* out) {
  if (!enabled || width <= 0) return;
  if (out == nullptr) out = stdout;
  for (std::size_t offset = 0; offset < bytes.size(); offset += static_cast<std::size_t>(width)) {
    auto run = bytes.substr(offset, static_cast<std::size_t>(width));
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "%04d : ", static_cast<int>(offset));
    std::string line = prefix;
    for (char c : run) {
      auto byte = static_cast<unsigned char>(c);
      line.push_back(byte < 32 || byte >= 128 ? '.' : c);
    }
    for (char c : run) {
      char hex[4];
      std::snprintf(hex, sizeof hex, " %02X", static_cast<unsigned char>(c));
      line += hex;
    }
    std::fprintf(out, "%s\n", line.c_str());
    if (log != nullptr) log->writeLog(line, true);
  }
}

void sendSimplePacket(const std::string& answerType, const RequestId& requestId,
                      ServerLink& link, Log& log) {
  try {
    log.writeLog(answerType + " ===>", true);
    PacketHeader header{answerType.substr(0, 5), requestId, 0};
    std::string bytes = encodeHeader(header);
    hexDump(bytes, 16, false, &log);
    if (!link.send(bytes)) log.writeLog("Error: sendSimplePacket()", true);
  } catch (...) {
    log.writeLog("Error: sendSimplePacket()", true);
  }
}

}  // namespace kq
