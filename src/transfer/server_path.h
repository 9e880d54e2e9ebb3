#pragma once
// Local paths from server paths. The server names items by a path relative to
// the sync folder with "/" separators and a leading "/" (a trailing "/" names a
// folder). The dispatcher hands that value over as JSON string text with its
// escapes kept ("\/docs\/a.txt"). localPathFromServer decodes the escapes
// (\uXXXX into the code page of local text), turns "/" into "\" and appends the
// result to the sync folder, refusing every path that could leave the sync
// folder or that no Windows file system could hold.
#include <string>
#include <string_view>

#include "platform/codepage.h"

namespace kq {

class Log;

struct LocalPath {
  std::string path;      // sync folder + "\"-separated relative path, no trailing separator
  std::string relative;  // the relative part, starting with "\" ("" for the sync folder itself)
  bool folder = false;   // the server path ends in a separator
  std::string refusal;   // why the server path was refused; empty when accepted
  bool ok() const { return refusal.empty(); }
  // withSlash is path followed by "\" for a folder (the plain form of a folder).
  std::string withSlash() const { return folder ? path + "\\" : path; }
};

enum class RootUse { Refuse, Allow };

// decodeJsonString resolves the escapes of a JSON string's inner text into 8-bit
// text; false (and why in error) for a bad escape or a character outside the code page.
// A \u escape stands for a character (a pair of surrogate escapes for one beyond
// U+FFFF), written in its code-page bytes.
[[nodiscard]] bool decodeJsonString(std::string_view value, std::string& out, std::string& error,
                                    const CodePage& page = activeCodePage());

// localPathFromServer builds the local path of a server path value. With
// RootUse::Refuse a value naming the sync folder itself is refused too.
LocalPath localPathFromServer(std::string_view syncFolder, std::string_view value,
                              RootUse root = RootUse::Refuse,
                              const CodePage& page = activeCodePage());

// logRefusal writes the line that explains a refused server path.
void logRefusal(Log& log, std::string_view value, const LocalPath& local);

}  // namespace kq
