#pragma once
#include <string>
#include <string_view>

// A file the client is still receiving is written beside its target under the
// target's name plus this suffix, and renamed over the target once complete.
inline constexpr std::string_view kPartialSuffix = ".kqpart";

inline std::string partialFileName(std::string_view target) {
    return std::string(target) + std::string(kPartialSuffix);
}

inline bool isPartialFileName(std::string_view path) {
    return path.size() > kPartialSuffix.size() &&
           path.substr(path.size() - kPartialSuffix.size()) == kPartialSuffix;
}
