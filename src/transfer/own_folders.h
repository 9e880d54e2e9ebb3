#pragma once
// The client's own folders in the sync folder ("_config", "_log", "_trash")
// hold its settings, its log with the lock of the running client, and the
// trash: they are the client's alone. A server may read from them (it fetches
// the log) and list them, but never write, delete or move anything there.
// Windows takes a name at any case for the same name (its upper-case table
// also maps U+0131 dotless i to I and U+017F long s to S), so those spellings
// are the client's folders too, on every platform.
#include <string>
#include <string_view>

#include "transfer/server_path.h"
#include "wire/codepage.h"

namespace kq {

// ownFolderOf is the own folder ("_config", "_log" or "_trash") that relative
// (a local path relative to the sync folder, "\"-separated, with or without
// its leading "\") is or lies below; empty when none.
std::string ownFolderOf(std::string_view relative, const CodePage& page = activeCodePage());

// ownFolderRefusal is why a server order may not change local: "the client's
// own folder _config" and so on; empty when local lies outside them.
std::string ownFolderRefusal(const LocalPath& local, const CodePage& page = activeCodePage());

// localPathToChange is localPathFromServer for an order that writes, deletes
// or moves: a path in the client's own folders is refused as well.
LocalPath localPathToChange(std::string_view syncFolder, std::string_view value,
                            const CodePage& page = activeCodePage());

}  // namespace kq
