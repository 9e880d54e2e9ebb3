#pragma once
// The path limits both programs enforce, counted on the UTF-8 form of a server
// path ("/docs/a.txt"): what the server takes from a client, what it offers
// and what a client accepts are the same paths. 255 bytes is what the
// file systems of the Linux client and of the server's store hold per name;
// 4000 bytes leaves room below PATH_MAX (4096) for the folder in front.
#include <cstddef>
#include <string>
#include <string_view>

namespace kq {

constexpr std::size_t kMaxNameBytes = 255;   // one name
constexpr std::size_t kMaxPathBytes = 4000;  // a whole path, its folder's trailing "/" not counted
constexpr std::size_t kMaxPathDepth = 256;   // names in a path

struct PathMeasure {
  std::size_t bytes = 0;        // length without a trailing "/"
  std::size_t longestName = 0;  // bytes of the longest name
  std::size_t depth = 0;        // number of names (empty ones between two "/" included)
};

// measurePath measures a UTF-8 server path in one pass; a leading "/" and a
// trailing "/" (a folder) are no names.
PathMeasure measurePath(std::string_view utf8Path);

enum class PathLimit { None, Length, Name, Depth };

// brokenLimit is the first limit a measure breaks: the depth, then the
// longest name, then the length.
PathLimit brokenLimit(const PathMeasure& measure);

// pathLimitProblem says which limit a UTF-8 path from a client breaks, as the
// server logs it ("path too deep (300 levels, at most 256)"); "" when none.
std::string pathLimitProblem(std::string_view utf8Path);

}  // namespace kq
