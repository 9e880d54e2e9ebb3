#pragma once
// runStartup decides the role of this run and plays it: the folder action, the
// tray client, or the end. Returns the process exit code (0).
#include <windows.h>

#include <string>

namespace kq::win {

inline constexpr wchar_t kInstallerCaption[] = L"Configure Korvalinq Drive";

int runStartup(HINSTANCE instance, const std::wstring& argument);

}  // namespace kq::win
