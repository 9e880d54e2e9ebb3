// Code pages on POSIX: Windows-1252 from the built-in table, every other
// Windows code page through the C library's iconv tables ("CP1251", "CP932", ...).
#include <errno.h>
#include <iconv.h>

#include <array>
#include <cstring>

#include "platform/codepage.h"

namespace kq {

namespace {

// Converter owns one iconv descriptor for one call.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // run converts all of in; false when a sequence is invalid or incomplete
  // (errno tells which).
  bool run(std::string_view in, std::string& out) {
    out.assign(in.size() * 4 + 16, '\0');
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    char* dst = out.data();
    std::size_t dstLeft = out.size();
    if (iconv(cd_, &src, &srcLeft, &dst, &dstLeft) == static_cast<std::size_t>(-1)) return false;
    if (iconv(cd_, nullptr, nullptr, &dst, &dstLeft) == static_cast<std::size_t>(-1)) return false;
    out.resize(out.size() - dstLeft);
    return true;
  }

 private:
  iconv_t cd_;
};

class IconvCodePage : public CodePage {
 public:
  IconvCodePage(unsigned number, std::string name) : number_(number), name_(std::move(name)) {
    for (unsigned b = 0x80; b <= 0xFF; ++b) {
      Converter c("UTF-32LE", name_.c_str());
      std::string out;
      char byte = static_cast<char>(b);
      lead_[b] = !c.run(std::string_view(&byte, 1), out) && errno == EINVAL;
    }
  }

  bool usable() const { return Converter("UTF-32LE", name_.c_str()).ok(); }
  unsigned number() const override { return number_; }

  std::size_t characterLength(std::string_view text, std::size_t pos) const override {
    auto byte = static_cast<unsigned char>(text[pos]);
    return lead_[byte] && pos + 1 < text.size() ? 2 : 1;
  }

  std::optional<std::u32string> toUnicode(std::string_view text) const override {
    Converter c("UTF-32LE", name_.c_str());
    std::string bytes;
    if (!c.ok() || !c.run(text, bytes)) return std::nullopt;
    std::u32string out(bytes.size() / 4, U'\0');
    std::memcpy(out.data(), bytes.data(), out.size() * 4);
    return out;
  }

  std::optional<std::string> fromUnicode(std::u32string_view text) const override {
    Converter c(name_.c_str(), "UTF-32LE");
    std::string out;
    std::string_view in(reinterpret_cast<const char*>(text.data()), text.size() * 4);
    if (!c.ok() || !c.run(in, out)) return std::nullopt;
    return out;
  }

 private:
  unsigned number_;
  std::string name_;
  std::array<bool, 256> lead_{};
};

}  // namespace

std::unique_ptr<CodePage> makeCodePage(unsigned number) {
  if (number == 1252) return makeWindows1252();
  auto page = std::make_unique<IconvCodePage>(number, "CP" + std::to_string(number));
  if (!page->usable()) return nullptr;
  return page;
}

}  // namespace kq
