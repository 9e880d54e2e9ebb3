#include "ui/win32/startup_role.h"

namespace kq::win {

std::wstring lowerAscii(std::wstring text) {
  for (auto& c : text)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  return text;
}

Role decideRole(const StartupFacts& facts) {
  const std::wstring argument = lowerAscii(facts.argument);
  if (facts.clientRunning)
    return argument.empty() || argument == L"showdir" ? Role::FolderAction : Role::Nothing;
  if (facts.configExists) return Role::Client;
  if (facts.installerRunning) return Role::InstallerAlreadyRunning;
  if (argument == L"install") return Role::Installer;
  return Role::NotSetUp;
}

}  // namespace kq::win
