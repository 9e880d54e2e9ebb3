#include "protocol/json_members.h"

#include <nlohmann/json.hpp>

namespace kq {

namespace {

// MemberCollector is a SAX consumer that keeps the members of the objects of the
// first top-level "jsonReceived" array, writing nested values back as compact
// JSON text.
class MemberCollector : public nlohmann::json_sax<nlohmann::json> {
 public:
  std::vector<JsonMember> members;
  std::string error;
  bool foundArray = false;

  bool null() override { return scalar("null"); }
  bool boolean(bool val) override { return scalar(val ? "true" : "false"); }
  bool number_integer(number_integer_t val) override { return scalar(std::to_string(val)); }
  bool number_unsigned(number_unsigned_t val) override { return scalar(std::to_string(val)); }
  bool number_float(number_float_t, const string_t& s) override { return scalar(s); }
  bool string(string_t& val) override { return scalar(writeJsonString(val)); }
  bool binary(binary_t&) override { return fail("binary value"); }

  bool start_object(std::size_t) override { return open(true); }
  bool start_array(std::size_t) override { return open(false); }
  bool end_object() override { return close('}'); }
  bool end_array() override { return close(']'); }

  bool key(string_t& val) override {
    if (level_ == 1) {
      topKeyIsReceived_ = !foundArray && val == "jsonReceived";
    } else if (inArray_ && level_ == 3) {
      members.push_back({writeJsonString(val), {}});
      capture_.clear();
      afterKey_ = true;
    } else if (capturing()) {
      separate();
      capture_ += writeJsonString(val);
      capture_ += ':';
      afterKey_ = true;
    }
    return true;
  }

  bool parse_error(std::size_t position, const std::string&,
                   const nlohmann::detail::exception& ex) override {
    return fail("parse error at " + std::to_string(position) + ": " + ex.what());
  }

 private:
  bool capturing() const { return inArray_ && level_ >= 4; }

  // separate writes the comma before a value or key that is not the first of
  // its container.
  void separate() {
    if (afterKey_) {
      afterKey_ = false;
      return;
    }
    if (!counts_.empty() && counts_.back()++ > 0) capture_ += ',';
  }

  bool scalar(const std::string& text) {
    if (level_ == 1 && topKeyIsReceived_) return fail("jsonReceived is not an array");
    if (inArray_ && level_ == 2) return fail("element is not an object");
    if (inArray_ && level_ == 3) {
      setValue(text);
    } else if (capturing()) {
      separate();
      capture_ += text;
    }
    return true;
  }

  bool open(bool object) {
    if (level_ == 1 && topKeyIsReceived_) {
      if (object) return fail("jsonReceived is not an array");
      inArray_ = foundArray = true;
      topKeyIsReceived_ = false;
    } else if (inArray_ && level_ == 2 && !object) {
      return fail("element is not an object");
    } else if (inArray_ && level_ >= 3) {
      if (level_ == 3) {
        capture_.clear();
        counts_.clear();
        afterKey_ = false;
      } else {
        separate();
      }
      capture_ += object ? '{' : '[';
      counts_.push_back(0);
    }
    ++level_;
    return true;
  }

  bool close(char bracket) {
    --level_;
    if (inArray_ && level_ >= 3) {
      capture_ += bracket;
      counts_.pop_back();
      if (level_ == 3) setValue(capture_);
    } else if (inArray_ && level_ == 1) {
      inArray_ = false;
    }
    return true;
  }

  void setValue(const std::string& text) {
    members.back().value = text.size() >= 2 ? text.substr(1, text.size() - 2) : std::string();
  }

  bool fail(std::string message) {
    if (error.empty()) error = std::move(message);
    return false;
  }

  int level_ = 0;
  bool topKeyIsReceived_ = false;
  bool inArray_ = false;
  bool afterKey_ = false;
  std::string capture_;
  std::vector<int> counts_;
};

}  // namespace

std::vector<JsonMember> receivedMembers(std::string_view jsonText) {
  MemberCollector collector;
  bool ok = nlohmann::json::sax_parse(jsonText.begin(), jsonText.end(), &collector);
  if (!ok) throw JsonBodyError(collector.error.empty() ? "invalid JSON" : collector.error);
  if (!collector.foundArray) throw JsonBodyError("no jsonReceived array");
  return std::move(collector.members);
}

}  // namespace kq
