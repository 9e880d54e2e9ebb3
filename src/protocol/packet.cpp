#include "protocol/packet.h"

#include <cstring>

#include "log/log.h"
#include "platform/links.h"

namespace kq {

namespace {

// The answer of each request name, in code order.
constexpr std::array<std::string_view, 16> kAnswers = {
    "ANCHG", "ANFLS", "ANFIL", "ANFIL", "ANPUT", "ANPUT", "ANFDA", "ANFDA",
    "ANDEL", "ANDEL", "ANMOV", "ANMOV", "ANCNV", "ANCNV", "ANLOG", "ANLST"};

}  // namespace

std::string encodeHeader(const PacketHeader& header) {
  std::string out(kHeaderSize, '\0');
  std::memcpy(out.data(), header.type.data(), std::min<std::size_t>(header.type.size(), 5));
  std::memcpy(out.data() + 5, header.requestId.data(), 4);
  for (int i = 0; i < 8; ++i) {
    out[9 + i] = static_cast<char>((header.payloadLength >> (8 * (7 - i))) & 0xFF);
  }
  return out;
}

std::uint64_t payloadLength(std::string_view header) {
  std::uint64_t value = 0;
  for (std::size_t i = 9; i < kHeaderSize; ++i) {
    unsigned char byte = i < header.size() ? static_cast<unsigned char>(header[i]) : 0;
    value = (value << 8) | byte;
  }
  return value;
}

RequestId requestIdOf(std::string_view header) {
  RequestId id{};
  for (std::size_t i = 0; i < 4; ++i) id[i] = 5 + i < header.size() ? header[5 + i] : '\0';
  return id;
}

std::string_view textView(std::string_view bytes) {
  auto zero = bytes.find('\0');
  return zero == std::string_view::npos ? bytes : bytes.substr(0, zero);
}

int packetTypeCode(std::string_view text) {
  text = textView(text);
  int code = 0;
  for (std::size_t i = 0; i < kPacketTypes.size(); ++i) {
    if (text.find(kPacketTypes[i]) != std::string_view::npos) code = static_cast<int>(i) + 1;
  }
  return code;
}

std::string answerTypeFor(std::string_view text) {
  int code = packetTypeCode(text);
  return code == 0 ? std::string() : std::string(kAnswers[code - 1]);
}

std::string escapeNonAscii(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      out.push_back(c);
    } else {
      out += "$u00";
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 0xF]);
    }
  }
  return out;
}

std::string replaceAll(std::string_view text, std::string_view from, std::string_view to) {
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  for (;;) {
    auto hit = text.find(from, pos);
    if (hit == std::string_view::npos) break;
    out.append(text.substr(pos, hit - pos));
    out.append(to);
    pos = hit + from.size();
  }
  out.append(text.substr(pos));
  return out;
}

std::string completeEscapes(std::string_view text) { return replaceAll(text, "$u", "\\u"); }

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
