#include "platform/win32/process_runner_win32.h"

#include <windows.h>

#include <vector>

#include "platform/command_line.h"
#include "platform/win32/ansi_text.h"

namespace kq {

std::string Win32ProcessRunner::robocopyArguments(const std::string& source,
                                                  const std::string& destination) {
  return "robocopy /move /e " + quoteArgument(source) + " " + quoteArgument(destination);
}

int Win32ProcessRunner::runRobocopy(const std::string& source, const std::string& destination) {
  std::wstring line = ansiToWide(robocopyArguments(source, destination));
  std::vector<wchar_t> buffer(line.begin(), line.end());
  buffer.push_back(L'\0');
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                      nullptr, &startup, &process)) {
    return -1;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  if (!GetExitCodeProcess(process.hProcess, &code)) code = 16;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

MoveResult Win32ProcessRunner::moveTree(const std::string& source, const std::string& destination) {
  int code = fs_.isFolder(source) ? runRobocopy(source, destination) : -1;
  if (code >= 0 && code < 8 && !fs_.exists(source)) return MoveResult{true, code, ""};
  // robocopy missing, failed, or left something behind: the portable move takes
  // what is left (it merges into what robocopy already moved).
  MoveResult result = portable_.moveTree(source, destination);
  result.exitCode = code;
  if (code < 0 || code >= 8) {
    result.detail = (code < 0 ? std::string("robocopy could not be started")
                              : "robocopy exit code " + std::to_string(code)) +
                    (result.detail.empty() ? "" : "; " + result.detail);
  }
  return result;
}

}  // namespace kq
