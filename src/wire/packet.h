#pragma once
// Packet framing: the 17-byte PacketHeader (five type letters, four opaque
// request-identifier bytes, a 64-bit big-endian payload length), the table of
// packet types and their codes, and the escapes of the client's JSON text.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "wire/codepage.h"

namespace kq {

constexpr std::size_t kHeaderSize = 17;
// kReadSize is the most one read of the client's server socket delivers; the
// dispatcher's framing depends on read boundaries, so every side that plays
// the client reads in pieces of this size.
constexpr std::size_t kReadSize = 229376;
using RequestId = std::array<char, 4>;

// The packet type names; the code of a name is its index + 1.
constexpr std::array<std::string_view, 16> kPacketTypes = {
    "RQCHG", "RQFLS", "RQFIL", "FLFIL", "RQPUT", "FLPUT", "RQFDA", "FLFDA",
    "RQDEL", "FLDEL", "RQMOV", "FLMOV", "RQCNV", "FLCNV", "RQLOG", "RQLST"};

enum PacketCode : int {
  kNone = 0, kRQCHG = 1, kRQFLS = 2, kRQFIL = 3, kFLFIL = 4, kRQPUT = 5, kFLPUT = 6,
  kRQFDA = 7, kFLFDA = 8, kRQDEL = 9, kFLDEL = 10, kRQMOV = 11, kFLMOV = 12,
  kRQCNV = 13, kFLCNV = 14, kRQLOG = 15, kRQLST = 16
};

struct PacketHeader {
  std::string type;                 // five letters
  RequestId requestId{};            // echoed unchanged
  std::uint64_t payloadLength = 0;  // big-endian on the wire
};

// encodeHeader writes the 17 header bytes (type cut or zero-padded to five bytes).
std::string encodeHeader(const PacketHeader& header);
// payloadLength reads bytes 9..16 of a header as a big-endian 64-bit value.
std::uint64_t payloadLength(std::string_view header);
// requestIdOf copies bytes 5..8 of a header.
RequestId requestIdOf(std::string_view header);

// textView is the bytes up to the first zero byte.
std::string_view textView(std::string_view bytes);

// packetTypeCode is the code of the last type name (in code order) found anywhere
// in the text view of text; 0 when none occurs.
int packetTypeCode(std::string_view text);
// answerTypeFor is the answer type for the last request name found, "" when none.
std::string answerTypeFor(std::string_view text);

// escapeNonAscii marks every byte >= 0x80 as "$u" + four lower-case hex digits;
// in a double-byte code page both bytes of a two-byte character are marked, so
// that a trail byte such as 0x5C ("\") can never be read as a character of its own.
std::string escapeNonAscii(std::string_view text, const CodePage& page = activeCodePage());
// escapeJsonName escapes a name or path for the JSON text of a listing or a
// change report: what escapeNonAscii marks, and, so that a JSON reader gets the
// name back exactly, the text "$u" itself, control characters and double quotes
// (each as "$u" + the byte's four hex digits). Backslashes are left alone.
std::string escapeJsonName(std::string_view text, const CodePage& page = activeCodePage());
// completeEscapes replaces every "$u" with "\u".
std::string completeEscapes(std::string_view text);
// replaceAll replaces every occurrence of from (non-empty) with to.
std::string replaceAll(std::string_view text, std::string_view from, std::string_view to);

}  // namespace kq
