#pragma once
// Reading a received JSON body member by member, as the request handlers see
// it: the key in its quoted JSON form and the value as JSON text without its
// first and last character, written back with the server's JSON writer
// (writeJsonString, so "/" reads "\/").
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "wire/json_string.h"

namespace kq {

struct JsonMember {
  std::string key;    // quoted JSON form, e.g. "\"filepath\""
  std::string value;  // JSON text of the value without its first and last character
  bool operator==(const JsonMember&) const = default;
};

struct JsonBodyError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// receivedMembers parses a wrapped body {"jsonReceived":[...]} and returns the
// members of every object of the first "jsonReceived" array, in document order;
// repeated keys are all kept. Throws JsonBodyError when the text does not
// parse, the array is missing, or an element of it is not an object.
std::vector<JsonMember> receivedMembers(std::string_view jsonText);

}  // namespace kq
