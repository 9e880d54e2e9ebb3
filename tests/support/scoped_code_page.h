#pragma once
// ScopedCodePage makes a code page the active one for a test and restores
// Windows-1252 afterwards.
#include <gtest/gtest.h>

#include "platform/codepage.h"

namespace kq::test {

class ScopedCodePage {
 public:
  explicit ScopedCodePage(unsigned number) {
    auto page = makeCodePage(number);
    EXPECT_NE(page, nullptr) << number;
    setActiveCodePage(std::move(page));
  }
  ~ScopedCodePage() { setActiveCodePage(nullptr); }
  ScopedCodePage(const ScopedCodePage&) = delete;
  ScopedCodePage& operator=(const ScopedCodePage&) = delete;
};

}  // namespace kq::test
