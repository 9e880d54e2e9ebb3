#pragma once
// Names both programs treat alike: the client's own folders in the sync
// folder, which are never synchronised, and the default exception lists, which
// keep temporary files out of the synchronisation.
#include <array>
#include <string_view>

namespace kq {

constexpr std::string_view kLogFolder = "_log";
constexpr std::string_view kConfigFolder = "_config";
constexpr std::string_view kTrashFolder = "_trash";
constexpr std::array<std::string_view, 3> kSystemFolders = {kLogFolder, kConfigFolder, kTrashFolder};

// The default lines of "exstensions.dat" and "exceptions.dat": a path holding
// any of them anywhere is excluded.
constexpr std::array<std::string_view, 2> kDefaultExtensionExceptions = {".tmp", ".TMP"};
constexpr std::array<std::string_view, 1> kDefaultPrefixExceptions = {"~"};

// isInSystemFolder is true for a path relative to the sync folder (no leading
// separator) that is one of the system folders or lies below one; separator
// is "/" for server paths, "\" for local paths.
bool isInSystemFolder(std::string_view relative, char separator);

// hasDefaultExclusion is true when text holds a line of the default lists.
bool hasDefaultExclusion(std::string_view text);

}  // namespace kq
