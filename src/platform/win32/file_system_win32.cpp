#include "platform/win32/file_system_win32.h"

#include <windows.h>

#include "platform/win32/ansi_text.h"
#include "platform/codepage.h"
#include "platform/display_name.h"
#include "platform/win32/win32_streams.h"

namespace kq {

namespace {

constexpr std::int64_t kEpochAsFileTime = 116444736000000000LL;  // 1970-01-01 in 100 ns units since 1601

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

std::wstring widePath(const std::string& path) { return longPath(ansiToWide(path)); }

bool isMissingError(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

bool isRealFolder(DWORD attrs) {
  return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY) &&
         !(attrs & FILE_ATTRIBUTE_REPARSE_POINT);
}

// forEachChild calls visit with every entry of folder but "." and "..";
// false when the folder cannot be enumerated.
template <typename Visit>
bool forEachChild(const std::wstring& folder, Visit visit) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileExW(longPath(folder + L"\\*").c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                 nullptr, 0);
  if (find == INVALID_HANDLE_VALUE) {
    // An empty drive root has not even "." and "..".
    return GetLastError() == ERROR_FILE_NOT_FOUND && isRealFolder(GetFileAttributesW(longPath(folder).c_str()));
  }
  bool ok = true;
  for (;;) {
    std::wstring name = data.cFileName;
    if (name != L"." && name != L".." && !visit(name, data.dwFileAttributes)) break;
    if (!FindNextFileW(find, &data)) {
      ok = GetLastError() == ERROR_NO_MORE_FILES;
      break;
    }
  }
  FindClose(find);
  return ok;
}

void removeTree(const std::wstring& given) {
  const std::wstring path = longPath(given);
  DWORD attrs = GetFileAttributesW(path.c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES) return;
  if (attrs & FILE_ATTRIBUTE_DIRECTORY) {
    if (!(attrs & FILE_ATTRIBUTE_REPARSE_POINT)) {
      forEachChild(path, [&](const std::wstring& name, DWORD) {
        removeTree(path + L"\\" + name);
        return true;
      });
    }
    RemoveDirectoryW(path.c_str());
    return;
  }
  if (!DeleteFileW(path.c_str()) && (attrs & FILE_ATTRIBUTE_READONLY)) {
    SetFileAttributesW(path.c_str(), attrs & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    DeleteFileW(path.c_str());
  }
}

HANDLE openHandle(const std::string& path, DWORD access, DWORD share, DWORD disposition) {
  return CreateFileW(widePath(path).c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool isFolderHandle(HANDLE h) {
  BY_HANDLE_FILE_INFORMATION info;
  return GetFileInformationByHandle(h, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool walkWide(const std::wstring& given, const std::string& local,
              const std::function<bool(const WalkEntry&)>& visit, bool& stopped) {
  const std::wstring native = longPath(given);
  bool inner = true;
  bool ok = forEachChild(native, [&](const std::wstring& name, DWORD attrs) {
    auto ansiName = wideToAnsiExact(name);
    if (!ansiName) {
      WalkEntry refused{local + "\\" + displayName(wideToUtf8(name)), EntryType::Other,
                        "characters outside the code page " + std::to_string(activeCodePage().number())};
      if (visit(refused)) return true;
      stopped = true;
      return false;
    }
    WalkEntry entry{local + "\\" + *ansiName,
                    (attrs & FILE_ATTRIBUTE_DIRECTORY) ? EntryType::Folder : EntryType::File, {}};
    if (!visit(entry)) {
      stopped = true;
      return false;
    }
    // Links and junctions to folders are listed but not entered.
    if (isRealFolder(attrs)) inner = walkWide(native + L"\\" + name, entry.path, visit, stopped);
    return inner && !stopped;
  });
  return ok && inner;
}

}  // namespace

std::wstring longPath(const std::wstring& path) {
  constexpr std::size_t kShortLimit = 247;
  if (path.size() <= kShortLimit || path.rfind(L"\\\\?\\", 0) == 0) return path;
  bool drive = path.size() > 2 && path[1] == L':' && isSeparator(path[2]);
  bool share = isSeparator(path[0]) && isSeparator(path[1]);
  if (!drive && !share) return path;
  std::wstring out = drive ? L"\\\\?\\" : L"\\\\?\\UNC";
  for (std::size_t i = share ? 1 : 0; i < path.size(); ++i) {
    wchar_t c = isSeparator(path[i]) ? L'\\' : path[i];
    if (c == L'\\' && !out.empty() && out.back() == L'\\') continue;
    out.push_back(c);
  }
  return out;
}

FileStatus Win32FileSystem::status(const std::string& path) {
  FileStatus result;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (path.empty() || !GetFileAttributesExW(widePath(path).c_str(), GetFileExInfoStandard, &data)) return result;
  bool folder = data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
  result.type = folder ? EntryType::Folder : (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) ? EntryType::Other
                                                                                              : EntryType::File;
  if (result.type == EntryType::File) {
    result.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  }
  auto ticks = (static_cast<std::int64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
               data.ftLastWriteTime.dwLowDateTime;
  result.modified = (ticks - kEpochAsFileTime) / 10000000;
  result.modifiedNanos = ((ticks - kEpochAsFileTime) % 10000000) * 100;
  return result;
}

bool Win32FileSystem::createFolders(const std::string& path) {
  std::wstring wide = widePath(path);
  if (wide.empty()) return false;
  for (std::size_t i = 1; i < wide.size(); ++i) {
    if (isSeparator(wide[i]) && !isSeparator(wide[i - 1]) && wide[i - 1] != L':') {
      CreateDirectoryW(wide.substr(0, i).c_str(), nullptr);
    }
  }
  CreateDirectoryW(wide.c_str(), nullptr);
  DWORD attrs = GetFileAttributesW(wide.c_str());
  return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY);
}

bool Win32FileSystem::remove(const std::string& path) {
  std::wstring wide = widePath(path);
  DWORD attrs = GetFileAttributesW(wide.c_str());
  if (wide.empty() || attrs == INVALID_FILE_ATTRIBUTES) return false;
  return (attrs & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryW(wide.c_str()) != 0 : DeleteFileW(wide.c_str()) != 0;
}

bool Win32FileSystem::removeAll(const std::string& path) {
  std::wstring wide = widePath(path);
  if (wide.empty()) return false;
  removeTree(wide);
  return GetFileAttributesW(wide.c_str()) == INVALID_FILE_ATTRIBUTES && isMissingError(GetLastError());
}

bool Win32FileSystem::rename(const std::string& from, const std::string& to) {
  if (from.empty() || to.empty()) return false;
  std::wstring source = widePath(from);
  // Only a file replaces a file: MoveFileEx's replacing is not meant for folders
  // (and Wine would put a folder in a file's place).
  DWORD flags = (GetFileAttributesW(source.c_str()) & FILE_ATTRIBUTE_DIRECTORY) ? 0 : MOVEFILE_REPLACE_EXISTING;
  return MoveFileExW(source.c_str(), widePath(to).c_str(), flags) != 0;
}

bool Win32FileSystem::setAttributes(const std::string& path, bool hidden, bool system) {
  std::wstring wide = widePath(path);
  DWORD attrs = GetFileAttributesW(wide.c_str());
  if (wide.empty() || attrs == INVALID_FILE_ATTRIBUTES) return false;
  constexpr DWORD kKept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY |
                          FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  DWORD wanted = (attrs & kKept) | (hidden ? FILE_ATTRIBUTE_HIDDEN : 0) | (system ? FILE_ATTRIBUTE_SYSTEM : 0);
  return SetFileAttributesW(wide.c_str(), wanted == 0 ? FILE_ATTRIBUTE_NORMAL : wanted) != 0;
}

std::pair<bool, bool> Win32FileSystem::attributes(const std::string& path) {
  if (path.empty()) return {false, false};
  DWORD attrs = GetFileAttributesW(widePath(path).c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES) return {false, false};
  return {(attrs & FILE_ATTRIBUTE_HIDDEN) != 0, (attrs & FILE_ATTRIBUTE_SYSTEM) != 0};
}

std::unique_ptr<InputStream> Win32FileSystem::openRead(const std::string& path) {
  if (path.empty()) return nullptr;
  HANDLE h = openHandle(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  if (isFolderHandle(h)) {
    CloseHandle(h);
    return nullptr;
  }
  return std::make_unique<HandleInputStream>(h);
}

std::unique_ptr<OutputStream> Win32FileSystem::openAppend(const std::string& path) {
  if (path.empty()) return nullptr;
  HANDLE h = openHandle(path, FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ, OPEN_ALWAYS);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<HandleOutputStream>(h);
}

std::unique_ptr<OutputStream> Win32FileSystem::openWrite(const std::string& path) {
  if (path.empty()) return nullptr;
  // OPEN_ALWAYS and truncating: CREATE_ALWAYS refuses existing hidden or system files.
  HANDLE h = openHandle(path, GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  if (!SetEndOfFile(h)) {
    CloseHandle(h);
    return nullptr;
  }
  return std::make_unique<HandleOutputStream>(h);
}

bool Win32FileSystem::walk(const std::string& folder, const std::function<bool(const WalkEntry&)>& visit) {
  if (folder.empty()) return false;
  bool stopped = false;
  return walkWide(widePath(folder), folder, visit, stopped);
}

}  // namespace kq
