#pragma once
// A contract's index (SQLite) can be damaged on disk ("database disk image is
// malformed", "file is not a database"). checkIndex tells whether it is sound;
// rebuildIndex makes a fresh one from the store folder and keeps the damaged
// file beside it. A fresh index knows no client copies: the next listing of a
// client plans merges for files whose content matches, never conflicts.
#include <cstdint>
#include <string>

namespace kqs {

struct IndexHealth {
  bool sound = true;
  std::string problem;  // SQLite's own words when not sound
};

// checkIndex reads every page of the index at path (read only, beside a
// server that may be using it). A missing index is sound: it is made anew.
IndexHealth checkIndex(const std::string& path);

// damagedIndexLine is the log line of a contract that is not served because
// its index is damaged.
std::string damagedIndexLine(const std::string& contract, const std::string& path, const std::string& problem);

struct RebuildResult {
  std::string keptAs;  // where the damaged index (with its journal files) now is; empty when none
  std::size_t entries = 0;
};

// rebuildIndex builds a fresh index of the store at storeRoot next to
// indexPath, then puts it in place of the old one, which is kept as
// indexPath + ".damaged-" + the time (UTC). The versions are left as they are.
RebuildResult rebuildIndex(const std::string& storeRoot, const std::string& indexPath,
                           const std::string& versionsFolder, std::int64_t now);

}  // namespace kqs
