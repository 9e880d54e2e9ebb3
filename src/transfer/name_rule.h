#pragma once
// The name rule: which server paths a client can hold in its sync folder. The
// server applies it before it offers a path, the client before it writes one,
// so both refuse the same names for the same reasons. A server path has "/"
// separators and a leading "/"; a trailing "/" names a folder.
#include <cstddef>
#include <string>
#include <string_view>

namespace kq {

// How the text of a name is encoded: the 8-bit code page of the client's
// local paths, or UTF-8 (the server's store).
enum class NameText { CodePage, Utf8 };

constexpr std::size_t kMaxNameBytes = 255;   // one name, counted in UTF-8 bytes
constexpr std::size_t kMaxPathBytes = 4000;  // a whole server path, counted in UTF-8 bytes

// nameRefusal says why a client cannot hold one name (a path segment); empty
// when it can. Refused: an empty name, "." and ".." (and names of only dots and
// blanks), the characters : * ? " < > | \ and control characters, the reserved
// device names (CON, PRN, AUX, NUL, COM1-9, LPT1-9, CONIN$, CONOUT$, with any
// extension), a trailing dot or blank, and names over kMaxNameBytes.
std::string nameRefusal(std::string_view name, NameText text);

// pathRefusal applies nameRefusal to every segment of a server path and refuses
// paths that do not start with "/", paths over kMaxPathBytes and characters
// outside the code page (UTF-8 text). "/" alone (the sync folder) is accepted.
std::string pathRefusal(std::string_view path, NameText text);

// utf8Length is the length of a text in UTF-8 bytes.
std::size_t utf8Length(std::string_view text, NameText encoding);

}  // namespace kq
