#include "wire/path_limits.h"

#include <gtest/gtest.h>

#include "transfer/server_path.h"
#include "wire/json_string.h"
#include "wire/name_rule.h"

namespace kq {
namespace {

std::string repeat(const std::string& piece, std::size_t times) {
  std::string out;
  for (std::size_t i = 0; i < times; ++i) out += piece;
  return out;
}

// A name of 250 bytes, and paths of 16 such names: the length limit is
// reached long before the depth limit.
const std::string kLongName(250, 'p');

struct LimitCase {
  std::string path;
  std::string problem;  // what the server logs for it; "" within the limits
};

const LimitCase kLimits[] = {
    {"/a/b.txt", ""},
    {"/" + std::string(255, 'n'), ""},
    {"/" + std::string(256, 'n'), "name too long (256 bytes, at most 255)"},
    {"/" + repeat("\xc3\xa9", 127) + "e", ""},  // 255 bytes in 128 characters
    {"/" + repeat("\xc3\xa9", 128), "name too long (256 bytes, at most 255)"},
    {repeat("/a", 256), ""},
    {repeat("/a", 256) + "/", ""},  // a folder's trailing "/" is no level
    {repeat("/a", 257), "path too deep (257 levels, at most 256)"},
    {repeat("/a", 2000), "path too deep (2000 levels, at most 256)"},
    {repeat("/" + kLongName, 15) + "/" + std::string(234, 'q'), ""},  // 4000 bytes
    {repeat("/" + kLongName, 15) + "/" + std::string(234, 'q') + "/", ""},
    {repeat("/" + kLongName, 15) + "/" + std::string(235, 'q'), "path too long (4001 bytes, at most 4000)"},
    {repeat("/a", 22000), "path too deep (22000 levels, at most 256)"},
    {repeat("/" + std::string(200, 'p'), 170), "path too long (34170 bytes, at most 4000)"},
};

TEST(PathLimits, WhatTheServerTakesFromAClient) {
  for (const auto& c : kLimits) EXPECT_EQ(pathLimitProblem(c.path), c.problem) << c.path.substr(0, 40);
}

TEST(PathLimits, MeasureCountsBytesNamesAndLevels) {
  struct Case { std::string path; std::size_t bytes, longest, depth; } cases[] = {
      {"", 0, 0, 0}, {"/", 0, 0, 0}, {"/a", 2, 1, 1}, {"/ab/c/", 5, 2, 2},
      {"/a//b", 5, 1, 3}, {"/caf\xc3\xa9", 6, 5, 1}, {"rel/x", 5, 3, 2},
  };
  for (const auto& c : cases) {
    PathMeasure m = measurePath(c.path);
    EXPECT_EQ(m.bytes, c.bytes) << c.path;
    EXPECT_EQ(m.longestName, c.longest) << c.path;
    EXPECT_EQ(m.depth, c.depth) << c.path;
  }
}

// The server offers a path only when the name rule lets it (pathRefusal), and
// the client takes what it is offered: file and folder form, plain and
// non-ASCII names, on both sides of every limit.
TEST(PathLimits, ClientAndServerDrawTheSameLine) {
  for (const auto& c : kLimits) {
    std::string offered = pathRefusal(c.path, NameText::Utf8);
    EXPECT_EQ(offered.empty(), c.problem.empty()) << c.path.substr(0, 40) << ": " << offered;
    for (const std::string& sent : {c.path, c.path.back() == '/' ? c.path : c.path + "/"}) {
      std::string value = writeJsonString(sent);
      LocalPath local = localPathFromServer("C:\\Sync", value.substr(1, value.size() - 2));
      EXPECT_EQ(local.ok(), c.problem.empty()) << sent.substr(0, 40) << ": " << local.refusal;
    }
  }
}

TEST(PathLimits, TheClientSaysWhichLimitAPathBreaks) {
  EXPECT_EQ(pathRefusal(repeat("/a", 257), NameText::Utf8), "a path of more than 256 names");
  EXPECT_EQ(pathRefusal(repeat("/a", 2001), NameText::Utf8), "a path of more than 256 names");
  EXPECT_EQ(pathRefusal(repeat("/" + std::string(200, 'p'), 20), NameText::Utf8), "a path longer than 4000 bytes");
  EXPECT_EQ(pathRefusal("/" + std::string(256, 'n'), NameText::Utf8), "a name longer than 255 bytes");
  // Code-page text is measured in its UTF-8 form: 0xE9 is two bytes there.
  EXPECT_EQ(pathRefusal("/" + std::string(128, '\xe9'), NameText::CodePage), "a name longer than 255 bytes");
  EXPECT_EQ(pathRefusal("/" + std::string(127, '\xe9'), NameText::CodePage), "");
}

}  // namespace
}  // namespace kq
