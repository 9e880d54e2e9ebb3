#pragma once
// The name rule: which server paths a client can hold in its sync folder. The
// server applies it before it offers a path, the client before it writes one,
// so both refuse the same names for the same reasons. A server path has "/"
// separators and a leading "/"; a trailing "/" names a folder.
#include <cstddef>
#include <string>
#include <string_view>

#include "wire/codepage.h"
#include "wire/path_limits.h"

namespace kq {

// How the text of a name is encoded: the 8-bit code page of the client's
// local paths, or UTF-8 (the server's store).
enum class NameText { CodePage, Utf8 };

// nameRefusal says why a client cannot hold one name (a path segment); empty
// when it can. Refused: an empty name, "." and ".." (and names of only dots and
// blanks), the characters : * ? " < > | \ and control characters, the reserved
// device names (CON, PRN, AUX, NUL, COM1-9, LPT1-9, CONIN$, CONOUT$, with any
// extension), a trailing dot or blank, and names over kMaxNameBytes.
// In code-page text the trail byte of a double-byte character is part of that
// character, never one of the refused characters.
std::string nameRefusal(std::string_view name, NameText text, const CodePage& page = activeCodePage());

// pathRefusal applies nameRefusal to every segment of a server path and refuses
// paths that do not start with "/", paths beyond the limits of path_limits.h
// (over kMaxPathBytes, more than kMaxPathDepth names) and characters outside
// the code page (UTF-8 text). "/" alone (the sync folder) is accepted.
std::string pathRefusal(std::string_view path, NameText text, const CodePage& page = activeCodePage());

// utf8Length is the length of a text in UTF-8 bytes.
std::size_t utf8Length(std::string_view text, NameText encoding, const CodePage& page = activeCodePage());

// pathLimitRefusal says which limit of path_limits.h a UTF-8 server path
// breaks, in the words of pathRefusal; empty when none.
std::string pathLimitRefusal(std::string_view utf8Path);

}  // namespace kq
