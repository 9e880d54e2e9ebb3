#pragma once
// runWatcher is the work of zrservice.exe on Windows, as a service or in
// console mode: it listens on 127.0.0.1 port 11111, watches the sync folder
// and reports its changes until stop is signalled. Returns 0 after a stop, 1
// when it cannot listen.
#include <windows.h>

#include <string>

namespace kq {

class Log;

int runWatcher(const std::string& syncFolder, HANDLE stop, Log& log);

// consoleLog writes "yyyy/mm/dd hh:nn:ss : text" lines to the standard error.
Log& consoleLog();
// fileLog appends to the given file (opened for every line).
Log& fileLog(const std::string& path);

}  // namespace kq
