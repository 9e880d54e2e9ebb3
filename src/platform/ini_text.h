#pragma once
// INI text as the Windows private-profile functions read and write it, for the
// platforms that have no such functions. Section and key names compare
// case-insensitively (ASCII); blanks around names and values are ignored; lines
// starting with ";" are comments; the first matching key wins.
#include <optional>
#include <string>
#include <string_view>

namespace kq {

// iniLookup returns the value of key in section (blanks and one pair of
// enclosing quotes removed), nullopt when there is no such key.
std::optional<std::string> iniLookup(std::string_view text, std::string_view section, std::string_view key);
// iniWithValue returns text with key in section set to value: an existing key
// line is replaced in place (keeping its name), a new key goes at the end of its
// section, a new section at the end of the text. Every other line is kept; lines
// end with CR LF.
std::string iniWithValue(std::string_view text, std::string_view section, std::string_view key,
                         std::string_view value);

}  // namespace kq
