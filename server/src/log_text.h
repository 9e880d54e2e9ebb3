#pragma once
// Text that reaches the server log. Anything a client controls is shown with
// logValue: control bytes (C0, DEL, C1) and bytes that are not UTF-8 become
// \xNN, and the value is cut to kMaxLogValue characters, so that no client can
// forge log lines, send terminal escapes or flood the log through one value.
#include <cstddef>
#include <string>
#include <string_view>

namespace kqs {

constexpr std::size_t kMaxLogValue = 512;

// escapeLogText writes every control byte and every byte outside a valid
// UTF-8 sequence as \xNN (C1 characters as the \xNN of their UTF-8 bytes).
std::string escapeLogText(std::string_view text);

// logValue is escapeLogText of at most the first kMaxLogValue characters of
// value; a cut value ends with "...".
std::string logValue(std::string_view value);

}  // namespace kqs
