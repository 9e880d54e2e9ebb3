#pragma once
// Reading a received JSON body member by member, as the request handlers see
// it: the key in its quoted JSON form and the value as JSON text without its
// first and last character, written back with the escapes of the server's JSON
// writer (so "/" reads "\/").
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kq {

struct JsonMember {
  std::string key;    // quoted JSON form, e.g. "\"filepath\""
  std::string value;  // JSON text of the value without its first and last character
  bool operator==(const JsonMember&) const = default;
};

struct JsonBodyError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// writeJsonString writes text (UTF-8) as a JSON string with its double quotes:
// backslash and quote escaped, "/" as "\/", \b \t \n \f \r, other control
// characters and every character above 0x7F as \u escapes (lower-case hex,
// surrogate pairs above U+FFFF), so the result is 7-bit ASCII.
std::string writeJsonString(std::string_view text);

// receivedMembers parses a wrapped body {"jsonReceived":[...]} and returns the
// members of every object of the first "jsonReceived" array, in document order;
// repeated keys are all kept. Throws JsonBodyError when the text does not
// parse, the array is missing, or an element of it is not an object.
std::vector<JsonMember> receivedMembers(std::string_view jsonText);

}  // namespace kq
