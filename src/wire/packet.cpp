#include "wire/packet.h"

#include <algorithm>
#include <cstring>

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

namespace {

void appendMark(std::string& out, char c) {
  static const char kHex[] = "0123456789abcdef";
  auto byte = static_cast<unsigned char>(c);
  out += "$u00";
  out.push_back(kHex[byte >> 4]);
  out.push_back(kHex[byte & 0xF]);
}

// escapeCharacters copies text character by character; a character of more than
// one byte or a byte >= 0x80 is marked byte by byte, and a single ASCII byte for
// which markAscii(text, pos) holds is marked too.
template <typename MarkAscii>
std::string escapeCharacters(std::string_view text, const CodePage& page, MarkAscii markAscii) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) {
    std::size_t n = page.characterLength(text, pos);
    if (n > 1 || static_cast<unsigned char>(text[pos]) >= 0x80) {
      page.appendWire(out, text.substr(pos, n));
    } else if (markAscii(text, pos)) {
      appendMark(out, text[pos]);
    } else {
      out.push_back(text[pos]);
    }
    pos += n;
  }
  return out;
}

}  // namespace

std::string escapeNonAscii(std::string_view text, const CodePage& page) {
  return escapeCharacters(text, page, [](std::string_view, std::size_t) { return false; });
}

std::string escapeJsonName(std::string_view text, const CodePage& page) {
  return escapeCharacters(text, page, [](std::string_view t, std::size_t pos) {
    auto byte = static_cast<unsigned char>(t[pos]);
    bool mark = t[pos] == '$' && pos + 1 < t.size() && t[pos + 1] == 'u';
    return byte < 0x20 || t[pos] == '"' || mark;
  });
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

}  // namespace kq
