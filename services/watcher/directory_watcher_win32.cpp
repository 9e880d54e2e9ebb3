#include "watcher/directory_watcher_win32.h"

#include <utility>

#include "log/log.h"
#include "platform/win32/ansi_text.h"
#include "watcher/change_reporter.h"

namespace kq {

namespace {

bool sameFolder(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

// isReparsePoint: the folder open as h is a symbolic link or a junction. The
// name is asked too: Wine opens what a link names even with
// FILE_FLAG_OPEN_REPARSE_POINT and shows the attribute on the name only.
bool isReparsePoint(HANDLE h, const std::wstring& name) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(h, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
  DWORD attrs = GetFileAttributesW(name.c_str());
  return attrs == INVALID_FILE_ATTRIBUTES || (attrs & FILE_ATTRIBUTE_REPARSE_POINT);
}

// writerGone: no program holds the file at path open for writing any more (an
// open for reading that shares only reading succeeds), or it is no file now.
bool writerGone(const std::string& path) {
  const std::wstring name = ansiToWide(path);
  DWORD attrs = GetFileAttributesW(name.c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES || (attrs & FILE_ATTRIBUTE_DIRECTORY)) return true;
  HANDLE h = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return GetLastError() != ERROR_SHARING_VIOLATION;
  CloseHandle(h);
  return true;
}

std::int64_t tickMs() { return static_cast<std::int64_t>(GetTickCount64()); }

constexpr DWORD kFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME | FILE_NOTIFY_CHANGE_SIZE |
                          FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_ATTRIBUTES;

}  // namespace

DirectoryWatcher::DirectoryWatcher(std::string root, ChangeReporter& reporter, Log& log, Clock clock)
    : root_(std::move(root)), reporter_(reporter), log_(log), clock_(clock ? std::move(clock) : Clock(tickMs)),
      buffer_(kBufferBytes / sizeof(DWORD)) {
  while (root_.size() > 3 && (root_.back() == '\\' || root_.back() == '/')) root_.pop_back();
  overlapped_.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  reporter_.onRemovalHeld = [this] {
    holdUntil_ = static_cast<ULONGLONG>(clock_()) + ChangeReporter::kRemovalHoldMs;
  };
}

DirectoryWatcher::~DirectoryWatcher() {
  reporter_.onRemovalHeld = nullptr;
  close({});
  CloseHandle(overlapped_.hEvent);
}

DWORD DirectoryWatcher::poll() {
  const auto now = static_cast<ULONGLONG>(clock_());
  for (const auto& write : writing_.takeQuiet(static_cast<std::int64_t>(now))) reportWrite(write);
  if (holdUntil_ != 0 && now >= holdUntil_) {
    holdUntil_ = 0;
    reporter_.flushHeld();
  }
  if (now >= nextCheck_) {
    nextCheck_ = now + kRetryMs;
    if (watching()) checkRoot();
    if (!watching()) (void)open();
  }
  return untilNextPoll(now);
}

DWORD DirectoryWatcher::untilNextPoll(ULONGLONG now) const {
  ULONGLONG next = nextCheck_;
  if (holdUntil_ != 0 && holdUntil_ < next) next = holdUntil_;
  const std::int64_t quiet = writing_.untilQuiet(static_cast<std::int64_t>(now));
  if (quiet >= 0 && now + static_cast<ULONGLONG>(quiet) < next) next = now + static_cast<ULONGLONG>(quiet);
  return next > now ? static_cast<DWORD>(next - now) : 0;
}

// checkRoot notices that the path no longer names the watched folder (it was
// moved away, deleted, or its drive is gone).
void DirectoryWatcher::checkRoot() {
  HANDLE now = CreateFileW(ansiToWide(root_).c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  BY_HANDLE_FILE_INFORMATION info{};
  bool same = now != INVALID_HANDLE_VALUE && GetFileInformationByHandle(now, &info) &&
              (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && sameFolder(info, identity_);
  if (now != INVALID_HANDLE_VALUE) CloseHandle(now);
  if (!same) rootLost("The sync folder is gone: ");
}

// rootLost stops watching; the removals that wait are the folder's own going
// and are not reported.
void DirectoryWatcher::rootLost(const std::string& why) {
  std::size_t dropped = reporter_.dropHeld();
  holdUntil_ = 0;
  pendingOldName_.reset();
  writing_.clear();
  close(why + root_ + (dropped > 0 ? " (" + std::to_string(dropped) + " changes before it not reported)" : ""));
}

// open watches the sync folder itself, never what a link or junction in its
// place names.
bool DirectoryWatcher::open() {
  const std::wstring name = ansiToWide(root_);
  folder_ = CreateFileW(name.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING,
                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (folder_ != INVALID_HANDLE_VALUE && isReparsePoint(folder_, name)) {
    CloseHandle(folder_);
    folder_ = INVALID_HANDLE_VALUE;
    if (!missingLogged_) log_.writeLog("Cannot watch " + root_ + ": it is a link, never watched; trying again every second", true);
    missingLogged_ = true;
    return false;
  }
  if (folder_ == INVALID_HANDLE_VALUE) {
    if (!missingLogged_)
      log_.writeLog("Cannot watch " + root_ + " (error " + std::to_string(GetLastError()) +
                        "): trying again every second",
                    true);
    missingLogged_ = true;
    return false;
  }
  missingLogged_ = false;
  if (!GetFileInformationByHandle(folder_, &identity_)) identity_ = {};
  if (!request()) return false;
  log_.writeLog("Watching " + root_, true);
  return true;
}

bool DirectoryWatcher::request() {
  ResetEvent(overlapped_.hEvent);
  if (ReadDirectoryChangesW(folder_, buffer_.data(), kBufferBytes, TRUE, kFilter, nullptr, &overlapped_,
                            nullptr))
    return true;
  close("Cannot watch " + root_ + " (error " + std::to_string(GetLastError()) + ")");
  return false;
}

void DirectoryWatcher::close(const std::string& why) {
  if (folder_ == INVALID_HANDLE_VALUE) return;
  CancelIo(folder_);
  CloseHandle(folder_);
  folder_ = INVALID_HANDLE_VALUE;
  ResetEvent(overlapped_.hEvent);
  if (!why.empty()) log_.writeLog(why, true);
}

void DirectoryWatcher::onEvent() {
  if (!watching()) {
    ResetEvent(overlapped_.hEvent);
    return;
  }
  DWORD size = 0;
  if (!GetOverlappedResult(folder_, &overlapped_, &size, FALSE)) {
    DWORD error = GetLastError();
    if (error != ERROR_NOTIFY_ENUM_DIR) {
      rootLost("The sync folder can no longer be watched (error " + std::to_string(error) + "): ");
      return;
    }
    size = 0;
  }
  if (size == 0) {
    log_.writeLog("Watch queue overflow: changes in " + root_ + " may have been missed", true);
  } else {
    report(reinterpret_cast<const BYTE*>(buffer_.data()), size);
  }
  if (watching()) request();
}

void DirectoryWatcher::report(const BYTE* data, DWORD size) {
  DWORD offset = 0;
  while (offset + offsetof(FILE_NOTIFY_INFORMATION, FileName) <= size) {
    auto* info = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(data + offset);
    std::wstring name(info->FileName, info->FileNameLength / sizeof(WCHAR));
    // A name the code page of local text cannot hold is not reported: its
    // converted text would name another path. The client reports such names.
    if (auto local = wideToAnsiExact(name)) handle(info->Action, root_ + "\\" + *local);
    if (info->NextEntryOffset == 0) break;
    offset += info->NextEntryOffset;
  }
  // A rename's halves arrive in one batch: an old name left over has no new one.
  if (pendingOldName_) reporter_.removed(*std::exchange(pendingOldName_, std::nullopt));
  // The files written in this batch whose writer is done go now; the others once quiet.
  for (const auto& write : writing_.takeClosed(batchWrites_, writerGone)) reportWrite(write);
  batchWrites_.clear();
  // The batch may be the folder's own going: look at once, not at the next check.
  if (reporter_.held() > 0) checkRoot();
}

void DirectoryWatcher::reportWrite(const QuietWrites::Write& write) {
  if (write.added)
    reporter_.added(write.path);
  else
    reporter_.modified(write.path);
}

void DirectoryWatcher::reportWritesBelow(const std::string& path) {
  for (const auto& write : writing_.takeBelow(path, '\\')) reportWrite(write);
}

void DirectoryWatcher::handle(DWORD action, const std::string& path) {
  if (pendingOldName_ && action != FILE_ACTION_RENAMED_NEW_NAME)
    reporter_.removed(*std::exchange(pendingOldName_, std::nullopt));
  switch (action) {
    case FILE_ACTION_ADDED:
    case FILE_ACTION_MODIFIED:
      writing_.note(path, action == FILE_ACTION_ADDED, clock_());
      batchWrites_.push_back(path);
      break;
    case FILE_ACTION_REMOVED:
      reportWritesBelow(path);
      reporter_.removed(path);
      break;
    case FILE_ACTION_RENAMED_OLD_NAME:
      reportWritesBelow(path);
      pendingOldName_ = path;
      break;
    case FILE_ACTION_RENAMED_NEW_NAME:
      if (pendingOldName_) reporter_.renamed(*std::exchange(pendingOldName_, std::nullopt), path);
      else reporter_.added(path);
      break;
    default: break;
  }
}

}  // namespace kq
