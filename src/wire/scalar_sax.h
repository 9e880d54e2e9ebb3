#pragma once
// ScalarSax is the base of the server's readers of client JSON: it hands every
// scalar over as text (null and booleans as "") and stops at a parse error.
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

namespace kq {

struct ScalarSax : nlohmann::json_sax<nlohmann::json> {
  bool null() override { return scalar(""); }
  bool boolean(bool) override { return scalar(""); }
  bool number_integer(number_integer_t v) override { return scalar(std::to_string(v)); }
  bool number_unsigned(number_unsigned_t v) override { return scalar(std::to_string(v)); }
  bool number_float(number_float_t, const string_t& s) override { return scalar(s); }
  bool string(string_t& v) override { return scalar(std::move(v)); }
  bool binary(binary_t&) override { return true; }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;
  }
  virtual bool scalar(std::string v) = 0;
};

// parseInt64 reads a whole text as a decimal 64-bit integer.
bool parseInt64(const std::string& text, std::int64_t& out);

}  // namespace kq
