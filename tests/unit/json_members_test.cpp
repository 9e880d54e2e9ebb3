#include "protocol/json_members.h"

#include <gtest/gtest.h>

namespace kq {
namespace {

struct StringCase {
  std::string text;
  std::string json;
};

TEST(WriteJsonString, EscapesAsTheServerWriterDoes) {
  const StringCase cases[] = {
      {"/docs/a.txt", R"("\/docs\/a.txt")"},
      {"a\\b", R"("a\\b")"},
      {"say \"hi\"", R"("say \"hi\"")"},
      {"\b\t\n\f\r", R"("\u0008\u0009\u000a\u000c\u000d")"},
      {"\x7f", R"("\u007f")"},
      {std::string("\x01\x1f", 2), R"("\u0001\u001f")"},
      {"\xC3\xA6", R"("\u00e6")"},                  // U+00E6
      {"\xE2\x82\xAC", R"("\u20ac")"},              // U+20AC
      {"\xF0\x9F\x98\x80", R"("\ud83d\ude00")"},    // U+1F600
      {"", R"("")"},
  };
  for (const auto& c : cases) EXPECT_EQ(writeJsonString(c.text), c.json) << c.text;
}

struct MembersCase {
  std::string body;
  std::vector<JsonMember> members;
};

TEST(ReceivedMembers, ValueIsItsJsonTextWithoutFirstAndLastCharacter) {
  const MembersCase cases[] = {
      {R"({"filepath":"\/a b\/c.txt"})", {{"\"filepath\"", R"(\/a b\/c.txt)"}}},
      {R"({"a":"x\"y\\z\/"})", {{"\"a\"", R"(x\"y\\z\/)"}}},
      {R"({"n":12,"m":7,"f":1.50,"t":true,"z":null})",
       {{"\"n\"", "", }, {"\"m\"", ""}, {"\"f\"", ".5"}, {"\"t\"", "ru"}, {"\"z\"", "ul"}}},
      {R"({"o":{"a":[1, 2,{"b":"\/"}],"c":{}}})", {{"\"o\"", R"("a":[1,2,{"b":"\/"}],"c":{})"}}},
      {R"({"we\/ird":"\u00E6"})", {{R"("we\/ird")", R"(\u00e6)"}}},
      {R"({"k":"1"},{},{"k":"2"})", {{"\"k\"", "1"}, {"\"k\"", "2"}}},
      {R"({"k":"1","k":"2"})", {{"\"k\"", "1"}, {"\"k\"", "2"}}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(receivedMembers("{\"jsonReceived\":[" + c.body + "]}"), c.members) << c.body;
  }
}

TEST(ReceivedMembers, RejectsWhatIsNoListOfObjects) {
  const char* texts[] = {
      R"({"jsonReceived":[{"a":1}])",
      R"({"jsonReceived":[{"a":1},2]})",
      R"({"jsonReceived":[[]]})",
      R"({"jsonReceived":"x"})",
      R"({"other":[]})",
      R"({"jsonReceived":[{"a":1}]} x)",
      R"({"jsonReceived":[{"a":"\ud800"}]})",
  };
  for (const char* text : texts) EXPECT_THROW(receivedMembers(text), JsonBodyError) << text;
}

}  // namespace
}  // namespace kq
