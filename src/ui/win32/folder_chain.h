#pragma once
// Helpers of the folder browser: the chain of folders from the root down to a
// folder, as the folder tree shows it.
#include <string>
#include <utility>
#include <vector>

namespace kq::win {

// withoutTrailingSeparator drops final backslashes except at a drive root ("C:\").
std::wstring withoutTrailingSeparator(std::wstring folder);
// joinPath appends name to folder with one backslash between them.
std::wstring joinPath(const std::wstring& folder, const std::wstring& name);
// folderChain lists (label, full path) from the root down to folder:
// "C:\Sync\docs" gives ("C:\", "C:\"), ("Sync", "C:\Sync"), ("docs", "C:\Sync\docs").
// A UNC folder starts at "\\server\share".
std::vector<std::pair<std::wstring, std::wstring>> folderChain(const std::wstring& folder);

}  // namespace kq::win
