#pragma once
// The code pages of the platform: makeCodePage is supplied by the platform
// layer (iconv tables on POSIX, the system's tables on Windows); the pure
// table code lives in wire/codepage.h.
#include <memory>

#include "wire/codepage.h"

namespace kq {

// makeCodePage builds a code page from the platform's tables; nullptr when the
// platform does not know the number.
std::unique_ptr<CodePage> makeCodePage(unsigned number);

}  // namespace kq
