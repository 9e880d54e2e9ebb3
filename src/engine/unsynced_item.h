#pragma once
// The local names the client cannot synchronise, as the user knows them.
#include <string>

namespace kq {

// unsyncedItemName is a local item's name for the list of items that are not
// synchronised: relative to the sync folder, "/" separated, UTF-8. A name that
// the code page could not hold is written in local text with a \uXXXX for each
// UTF-16 unit it lacked; those come back as the characters themselves.
std::string unsyncedItemName(const std::string& localPath, const std::string& syncFolder);

}  // namespace kq
