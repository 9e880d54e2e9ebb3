#pragma once
// The 8-bit code page of local path text. The platform supplies it at start-up
// (setActiveCodePage, with makeCodePage of platform/codepage.h): Windows asks
// the system for its ANSI code page, POSIX uses Windows-1252 unless configured
// otherwise. Every conversion between local
// text and characters goes through a CodePage, which never turns a character it
// lacks into another one. In a double-byte code page (932 and the like) a
// character is a lead byte and a trail byte, and the trail byte can look like
// ASCII ("\" is 0x5C); characterLength lets byte-wise code step over whole
// characters so that no pair is ever split.
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "wire/utf8.h"

namespace kq {

class CodePage {
 public:
  virtual ~CodePage() = default;
  // number is the Windows code page identifier (1252, 1251, 932, ...).
  virtual unsigned number() const = 0;
  // characterLength is the byte count of the character starting at text[pos]:
  // 1 for a single-byte character, 2 for a lead byte followed by its trail byte
  // (up to 4 for UTF-8). A lead byte cut off at the end of the text counts 1.
  virtual std::size_t characterLength(std::string_view text, std::size_t pos) const = 0;
  // toUnicode decodes 8-bit text; nullopt when a byte sequence is not valid.
  virtual std::optional<std::u32string> toUnicode(std::string_view text) const = 0;
  // fromUnicode encodes characters; nullopt when one of them is outside the code
  // page (no best-fit look-alike is ever chosen).
  virtual std::optional<std::string> fromUnicode(std::u32string_view text) const = 0;
  // appendWire appends the JSON form of one character of more than one byte or
  // of a byte >= 0x80 (character holds its bytes), with "$u" marks that the
  // sender completes to "\u": by default "$u00" and two hex digits per byte.
  virtual void appendWire(std::string& out, std::string_view character) const;
};

// windows1252 is the built-in Windows-1252 table. Bytes the code page leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) stand for their own code point, as on Windows.
const CodePage& windows1252();
// makeWindows1252 is a new instance of that table.
std::unique_ptr<CodePage> makeWindows1252();

// makeUnicodeNames is the local text of full Unicode names: UTF-8, so that every
// name can be held (number() is 65001). On the wire a character the system code
// page holds keeps its byte-exact form (its bytes in that page as \u00XX); any
// other goes out as \u escapes of its UTF-16 code units. Characters U+0080 to
// U+00FF that the system page lacks cannot be told from such bytes on the wire,
// so fromUnicode refuses them.
std::unique_ptr<CodePage> makeUnicodeNames(std::unique_ptr<CodePage> system);

// activeCodePage is the code page of local path text (Windows-1252 until set).
const CodePage& activeCodePage();
// setActiveCodePage replaces it; null restores Windows-1252. Called at start-up only.
void setActiveCodePage(std::unique_ptr<CodePage> page);

// isMultiByteAt tells whether the character at pos spans more than one byte.
bool isMultiByteAt(const CodePage& page, std::string_view text, std::size_t pos);
// findCharacters finds needle in text at a character boundary only (a match that
// would start on a trail byte does not count); npos when absent.
std::size_t findCharacters(const CodePage& page, std::string_view text, std::string_view needle,
                           std::size_t from = 0);
// replaceCharacter replaces the single-byte character from by to, leaving trail bytes alone.
std::string replaceCharacter(const CodePage& page, std::string_view text, char from, char to);

// toUtf8 converts 8-bit text to UTF-8; a byte sequence the page does not
// define becomes replacement.
std::string toUtf8(const CodePage& page, std::string_view text, char replacement = '?');
// fromUtf8 converts UTF-8 to 8-bit text; nullopt when a character is outside the
// page or the UTF-8 is invalid.
std::optional<std::string> fromUtf8(const CodePage& page, std::string_view utf8);
// fromUtf8Lossy converts like fromUtf8, each character the page lacks (and each
// invalid UTF-8 byte) becoming replacement. For display and typed input only.
std::string fromUtf8Lossy(const CodePage& page, std::string_view utf8, char replacement = '?');

// The Windows-1252 conversions, kept for the server, which stores UTF-8 and
// reads a client's bytes in that code page.
char32_t cp1252ToUnicode(unsigned char byte);
std::optional<unsigned char> unicodeToCp1252(char32_t codePoint);
std::string cp1252ToUtf8(std::string_view text);
std::string utf8ToCp1252(std::string_view text, char replacement = '?');

// localToUtf8 and utf8ToLocal convert with the active code page ("?" for what
// cannot be converted): for display, typed input and the configuration file.
std::string localToUtf8(std::string_view text);
std::string utf8ToLocal(std::string_view utf8);

}  // namespace kq
