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

// removeTree deletes given and everything below it; links are never entered,
// and below the guarded folder they are not removed either (keepLinks).
void removeTree(const std::wstring& given, bool keepLinks) {
  const std::wstring path = longPath(given);
  DWORD attrs = GetFileAttributesW(path.c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES) return;
  if ((attrs & FILE_ATTRIBUTE_REPARSE_POINT) && keepLinks) return;
  if (attrs & FILE_ATTRIBUTE_DIRECTORY) {
    if (!(attrs & FILE_ATTRIBUTE_REPARSE_POINT)) {
      // Held while its content goes (released before it is removed itself):
      // a folder that became a link since is not entered.
      HeldFolders folder;
      if (folder.holdFolder(path)) {
        forEachChild(path, [&](const std::wstring& name, DWORD) {
          removeTree(path + L"\\" + name, true);
          return true;
        });
      }
    }
    RemoveDirectoryW(path.c_str());
    return;
  }
  if (!DeleteFileW(path.c_str()) && (attrs & FILE_ATTRIBUTE_READONLY)) {
    SetFileAttributesW(path.c_str(), attrs & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    DeleteFileW(path.c_str());
  }
}

// isDiskFileHandle: h is an open disk file, not a folder, a link, a device or a pipe.
bool isDiskFileHandle(HANDLE h) {
  BY_HANDLE_FILE_INFORMATION info;
  constexpr DWORD kNotAFile = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
  return GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info) &&
         (info.dwFileAttributes & kNotAFile) == 0;
}

EntryType entryTypeOf(DWORD attrs) {
  if (attrs & FILE_ATTRIBUTE_REPARSE_POINT) return EntryType::Link;
  if (attrs & FILE_ATTRIBUTE_DIRECTORY) return EntryType::Folder;
  if (attrs & FILE_ATTRIBUTE_DEVICE) return EntryType::Other;
  return EntryType::File;
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
    WalkEntry entry{local + "\\" + *ansiName, entryTypeOf(attrs), {}};
    if (!visit(entry)) {
      stopped = true;
      return false;
    }
    // Links and junctions are visited as links and never entered; a folder is
    // held while it is walked, and one that became a link since is not entered.
    HeldFolders sub;
    if (isRealFolder(attrs) && sub.holdFolder(native + L"\\" + name))
      inner = walkWide(native + L"\\" + name, entry.path, visit, stopped);
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

std::wstring withoutLongForm(const std::wstring& path) {
  if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\\\" + path.substr(8);
  if (path.rfind(L"\\\\?\\", 0) == 0) return path.substr(4);
  return path;
}

bool isBelowFolder(const std::wstring& givenPath, const std::wstring& givenFolder) {
  const std::wstring path = withoutLongForm(givenPath);
  std::wstring folder = withoutLongForm(givenFolder);
  while (!folder.empty() && isSeparator(folder.back())) folder.pop_back();
  if (folder.empty() || path.size() <= folder.size() || !isSeparator(path[folder.size()])) return false;
  return CompareStringOrdinal(path.c_str(), static_cast<int>(folder.size()), folder.c_str(),
                              static_cast<int>(folder.size()), TRUE) == CSTR_EQUAL;
}

void Win32FileSystem::guardFolder(const std::string& folder) {
  guard_ = folder.empty() ? std::wstring() : withoutLongForm(widePath(folder));
  while (!guard_.empty() && isSeparator(guard_.back())) guard_.pop_back();
}

// guarded: wide lies below the guarded folder (compared as text, case-insensitively).
bool Win32FileSystem::guarded(const std::wstring& wide) const { return isBelowFolder(wide, guard_); }

// holdOne opens folder without FILE_SHARE_DELETE (so it cannot be renamed or
// removed while held) and checks it: a folder, not a reparse point. The name
// is asked as well once held: Wine opens what a link names even with
// FILE_FLAG_OPEN_REPARSE_POINT and shows the attribute on the name only.
bool HeldFolders::holdFolder(const std::wstring& folder) {
  std::size_t before = handles_.size();
  return holdOne(folder, false) && handles_.size() > before;
}

bool HeldFolders::holdOne(const std::wstring& folder, bool followLink) {
  const std::wstring native = longPath(folder);
  DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  HANDLE h = CreateFileW(native.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, flags, nullptr);
  if (h == INVALID_HANDLE_VALUE) return true;  // missing: nothing further to hold
  handles_.push_back(h);
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info)) return false;
  if (followLink) return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return isRealFolder(info.dwFileAttributes) && isRealFolder(GetFileAttributesW(native.c_str()));
}

bool HeldFolders::hold(const std::wstring& guard, const std::wstring& wide) {
  if (!holdOne(guard, true)) return false;
  std::size_t last = wide.size();
  while (last > guard.size() && !isSeparator(wide[last - 1])) --last;
  for (std::size_t i = guard.size() + 1; i < last; ++i) {
    if (!isSeparator(wide[i]) || isSeparator(wide[i - 1])) continue;
    std::size_t before = handles_.size();
    if (!holdOne(wide.substr(0, i), false)) return false;
    if (handles_.size() == before) break;  // missing
  }
  return true;
}

void HeldFolders::release() {
  for (auto it = handles_.rbegin(); it != handles_.rend(); ++it) CloseHandle(*it);
  handles_.clear();
}

bool Win32FileSystem::crossesLink(const std::wstring& wide, HeldFolders& held) const {
  if (!guarded(wide)) return false;
  if (!held.hold(guard_, withoutLongForm(wide))) return true;
  DWORD attrs = GetFileAttributesW(longPath(wide).c_str());
  return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_REPARSE_POINT);
}

// openFile opens a disk file; below the guarded folder a reparse point is
// opened as itself and refused.
HANDLE Win32FileSystem::openFile(const std::string& path, unsigned long access, unsigned long share,
                                 unsigned long disposition) const {
  if (path.empty()) return INVALID_HANDLE_VALUE;
  std::wstring wide = widePath(path);
  HeldFolders held;  // the folders on the way, until the file is open
  if (crossesLink(wide, held)) return INVALID_HANDLE_VALUE;
  DWORD attrs = GetFileAttributesW(wide.c_str());
  if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DEVICE)) return INVALID_HANDLE_VALUE;
  DWORD flags = FILE_ATTRIBUTE_NORMAL | (guarded(wide) ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
  HANDLE h = CreateFileW(wide.c_str(), access, share, nullptr, disposition, flags, nullptr);
  // Once open (without FILE_SHARE_DELETE) the name stays this file: it is asked
  // again for Wine, which opens what a link names and shows that on the name only.
  bool linked = h != INVALID_HANDLE_VALUE && guarded(wide) &&
                (GetFileAttributesW(wide.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT);
  if (h != INVALID_HANDLE_VALUE && (linked || !isDiskFileHandle(h))) {
    CloseHandle(h);
    return INVALID_HANDLE_VALUE;
  }
  return h;
}

FileStatus Win32FileSystem::status(const std::string& path) {
  FileStatus result;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (path.empty()) return result;
  std::wstring wide = widePath(path);
  HeldFolders held;
  if (crossesLink(wide, held)) {
    result.type = EntryType::Link;
    return result;
  }
  if (!GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) return result;
  result.type = entryTypeOf(data.dwFileAttributes);
  // Outside the guarded folder a link counts as what it names, as before.
  if (result.type == EntryType::Link && !guarded(wide))
    result.type = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? EntryType::Folder : EntryType::File;
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
      HeldFolders held;  // until the folder is made
      if (crossesLink(wide.substr(0, i), held)) return false;  // never create through a link
      CreateDirectoryW(wide.substr(0, i).c_str(), nullptr);
    }
  }
  HeldFolders held;
  if (crossesLink(wide, held)) return false;
  CreateDirectoryW(wide.c_str(), nullptr);
  DWORD attrs = GetFileAttributesW(wide.c_str());
  return attrs != INVALID_FILE_ATTRIBUTES && isRealFolder(attrs);
}

bool Win32FileSystem::remove(const std::string& path) {
  std::wstring wide = widePath(path);
  HeldFolders held;
  if (wide.empty() || crossesLink(wide, held)) return false;
  DWORD attrs = GetFileAttributesW(wide.c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES) return false;
  return (attrs & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryW(wide.c_str()) != 0 : DeleteFileW(wide.c_str()) != 0;
}

bool Win32FileSystem::removeAll(const std::string& path) {
  std::wstring wide = widePath(path);
  HeldFolders held;
  if (wide.empty() || crossesLink(wide, held)) return false;
  removeTree(wide, guarded(wide));
  return GetFileAttributesW(wide.c_str()) == INVALID_FILE_ATTRIBUTES && isMissingError(GetLastError());
}

bool Win32FileSystem::rename(const std::string& from, const std::string& to) {
  if (from.empty() || to.empty()) return false;
  std::wstring source = widePath(from), target = widePath(to);
  HeldFolders heldSource, heldTarget;
  if (crossesLink(source, heldSource) || crossesLink(target, heldTarget)) return false;
  // Only a file replaces a file: MoveFileEx's replacing is not meant for folders
  // (and Wine would put a folder in a file's place).
  DWORD flags = (GetFileAttributesW(source.c_str()) & FILE_ATTRIBUTE_DIRECTORY) ? 0 : MOVEFILE_REPLACE_EXISTING;
  return MoveFileExW(source.c_str(), target.c_str(), flags) != 0;
}

bool Win32FileSystem::setAttributes(const std::string& path, bool hidden, bool system) {
  std::wstring wide = widePath(path);
  HeldFolders held;
  if (wide.empty() || crossesLink(wide, held)) return false;
  DWORD attrs = GetFileAttributesW(wide.c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES) return false;
  constexpr DWORD kKept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY |
                          FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  DWORD wanted = (attrs & kKept) | (hidden ? FILE_ATTRIBUTE_HIDDEN : 0) | (system ? FILE_ATTRIBUTE_SYSTEM : 0);
  return SetFileAttributesW(wide.c_str(), wanted == 0 ? FILE_ATTRIBUTE_NORMAL : wanted) != 0;
}

std::pair<bool, bool> Win32FileSystem::attributes(const std::string& path) {
  if (path.empty()) return {false, false};
  std::wstring wide = widePath(path);
  HeldFolders held;
  if (crossesLink(wide, held)) return {false, false};
  DWORD attrs = GetFileAttributesW(wide.c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES) return {false, false};
  return {(attrs & FILE_ATTRIBUTE_HIDDEN) != 0, (attrs & FILE_ATTRIBUTE_SYSTEM) != 0};
}

std::unique_ptr<InputStream> Win32FileSystem::openRead(const std::string& path) {
  HANDLE h = openFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<HandleInputStream>(h);
}

std::unique_ptr<OutputStream> Win32FileSystem::openAppend(const std::string& path) {
  HANDLE h = openFile(path, FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ, OPEN_ALWAYS);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<HandleOutputStream>(h);
}

std::unique_ptr<OutputStream> Win32FileSystem::openWrite(const std::string& path) {
  // OPEN_ALWAYS and truncating: CREATE_ALWAYS refuses existing hidden or system files.
  HANDLE h = openFile(path, GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  if (!SetEndOfFile(h)) {
    CloseHandle(h);
    return nullptr;
  }
  return std::make_unique<HandleOutputStream>(h);
}

bool Win32FileSystem::walk(const std::string& folder, const std::function<bool(const WalkEntry&)>& visit) {
  if (folder.empty()) return false;
  std::wstring wide = widePath(folder);
  HeldFolders held;
  if (crossesLink(wide, held) || (guarded(wide) && !held.holdFolder(wide))) return false;
  bool stopped = false;
  return walkWide(wide, folder, visit, stopped);
}

}  // namespace kq
