#pragma once
// UTF-8 as both programs read and write it. decodeUtf8 is strict: overlong
// forms, surrogates (U+D800..U+DFFF), values beyond U+10FFFF and cut-off
// sequences are invalid.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kq {

// decodeUtf8 reads one code point at pos and advances past it; for an invalid
// sequence it returns nullopt and advances by one byte.
std::optional<char32_t> decodeUtf8(std::string_view text, std::size_t& pos);
// appendUtf8 appends the UTF-8 form of a code point.
void appendUtf8(std::string& out, char32_t codePoint);
// isValidUtf8 is true when every sequence of text decodes.
bool isValidUtf8(std::string_view text);

}  // namespace kq
