#include "wire/json_string.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "protocol/json_members.h"

namespace kq {
namespace {

using namespace std::string_literals;

struct EscapeCase {
  std::string text;
  std::string json;
};

const EscapeCase kEscapes[] = {
    {"", R"("")"},
    {"/docs/report.pdf", R"("\/docs\/report.pdf")"},
    {"/dir/", R"("\/dir\/")"},
    {"a\"b\\c", R"("a\"b\\c")"},
    {"\b\t\n\f\r", R"("\u0008\u0009\u000a\u000c\u000d")"},
    {"\x00\x01\x1f"s, R"("\u0000\u0001\u001f")"},
    {" ~\x7f", R"(" ~\u007f")"},
    {"caf\xc3\xa9", R"("caf\u00e9")"},
    {"\xc2\x80", R"("\u0080")"},
    {"\xe2\x82\xac", R"("\u20ac")"},
    {"\xef\xbf\xbf", R"("\uffff")"},
    {"\xf0\x9f\x98\x80", R"("\ud83d\ude00")"},
    {"\xf4\x8f\xbf\xbf", R"("\udbff\udfff")"},
    {"a\xc0\x80" "b", R"("a??b")"},        // an overlong form: each byte is no character
    {"\xed\xa0\x80", R"("???")"},          // a surrogate written in UTF-8
    {"\xe2\x82", R"("??")"},               // cut off
};

TEST(WriteJsonString, WritesSevenBitJsonOfEveryCharacter) {
  for (const auto& c : kEscapes) EXPECT_EQ(writeJsonString(c.text), c.json) << testing::PrintToString(c.text);
}

// What kqsyncd writes, a JSON reader reads back as the same text, and the
// client's handlers see the value exactly as it was on the wire.
TEST(WriteJsonString, TheClientSeesTheServersBytesAndAReaderTheText) {
  for (const auto& c : kEscapes) {
    if (c.json.find('?') != std::string::npos) continue;  // invalid input has no text to get back
    EXPECT_EQ(nlohmann::json::parse(c.json).get<std::string>(), c.text) << c.json;
    auto members = receivedMembers("{\"jsonReceived\":[{\"filepath\":" + c.json + "}]}");
    ASSERT_EQ(members.size(), 1u);
    EXPECT_EQ(members[0].value, c.json.substr(1, c.json.size() - 2));
  }
}

}  // namespace
}  // namespace kq
