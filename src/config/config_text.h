#pragma once
// configTextToAscii turns the bytes of a configuration file into 7-bit ASCII
// text for the JSON parser.
#include <string>
#include <string_view>

namespace kq {

// configTextToAscii decodes bytes by their byte-order mark (UTF-8, UTF-16 LE or
// BE), else as the ANSI code page, and replaces every character outside 7-bit
// ASCII (and every undecodable sequence) by one question mark.
std::string configTextToAscii(std::string_view bytes);

}  // namespace kq
