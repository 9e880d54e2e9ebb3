#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "installer/win32/installer_ports_win32.h"
#include "platform/win32/ansi_text.h"

namespace kq::installer {

namespace {

// ComRef releases a COM interface pointer when it goes out of scope.
template <class T>
struct ComRef {
  T* p = nullptr;
  ~ComRef() {
    if (p) p->Release();
  }
};

}  // namespace

std::string Win32InstallerShell::moduleFileName() {
  std::wstring path(32768, L'\0');
  DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  path.resize(n);
  return wideToAnsi(path);
}

std::optional<std::string> Win32InstallerShell::profileFolder() {
  wchar_t path[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, SHGFP_TYPE_CURRENT, path)))
    return std::nullopt;
  return wideToAnsi(path);
}

std::string Win32InstallerShell::environment(const std::string& name) {
  std::wstring wideName = ansiToWide(name);
  DWORD n = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
  if (n == 0) return {};
  std::wstring value(n, L'\0');
  n = GetEnvironmentVariableW(wideName.c_str(), value.data(), n);
  value.resize(n);
  return wideToAnsi(value);
}

bool Win32InstallerShell::copyFile(const std::string& from, const std::string& to) {
  return CopyFileW(ansiToWide(from).c_str(), ansiToWide(to).c_str(), FALSE) != 0;
}

bool Win32InstallerShell::clearAttributes(const std::string& path) {
  return SetFileAttributesW(ansiToWide(path).c_str(), FILE_ATTRIBUTE_NORMAL) != 0;
}

std::int32_t Win32InstallerShell::createShortcut(const std::string& target, const std::string& linkPath,
                                                 const std::string& description) {
  std::wstring link = ansiToWide(linkPath);
  if (link.size() >= MAX_PATH) return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
  ComRef<IShellLinkW> shellLink;
  HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&shellLink.p));
  if (FAILED(hr)) return hr;
  shellLink.p->SetPath(ansiToWide(target).c_str());
  shellLink.p->SetDescription(ansiToWide(description).c_str());
  ComRef<IPersistFile> file;
  hr = shellLink.p->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file.p));
  if (FAILED(hr)) return hr;
  return file.p->Save(link.c_str(), TRUE);
}

void Win32InstallerShell::shellOpen(const std::string& file, const std::string& parameters) {
  std::wstring wideParameters = ansiToWide(parameters);
  ShellExecuteW(owner_, L"open", ansiToWide(file).c_str(),
                wideParameters.empty() ? nullptr : wideParameters.c_str(), nullptr, SW_SHOWNORMAL);
}

void Win32InstallerMessages::show(MessageKind kind, const std::string& text) {
  bool error = kind == MessageKind::Error;
  MessageBoxW(owner_, ansiToWide(text).c_str(), error ? L"Error" : L"Information",
              MB_OK | (error ? MB_ICONERROR : MB_ICONEXCLAMATION));
}

bool Win32InstallerMessages::ask(const std::string& text) {
  return MessageBoxW(owner_, ansiToWide(text).c_str(), L"Warning", MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
}

}  // namespace kq::installer
