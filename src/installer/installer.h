#pragma once
// runInstaller is the installer role of KQFilesyncClient.exe: it shows the
// window "Configure Korvalinq Drive" and runs its message loop until the
// window closes. Returns the exit code of the loop (0).
#include <windows.h>

namespace kq {

int runInstaller(HINSTANCE instance);

}  // namespace kq
