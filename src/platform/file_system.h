#pragma once
// FileSystem is the port through which everything reaches the disk. Paths are
// local path text: 8-bit text in the ANSI code page (Windows-1252), drive letter,
// backslash separators, e.g. "C:\Sync\docs\a.txt". Implementations map that text
// to real paths (Win32: wide W functions; POSIX: drive mapping, see ARCHITECTURE.md).
// No method throws; failures are reported through the result.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kq {

// Link: a symbolic link or a junction (its name, never what it points to), or a
// path that leads through one below the guarded folder. Other: anything else
// that is neither a file nor a folder (a FIFO, a socket, a device).
enum class EntryType { None, File, Folder, Other, Link };

struct FileStatus {
  EntryType type = EntryType::None;
  std::uint64_t size = 0;       // bytes; 0 for folders
  std::int64_t modified = 0;    // last modification, seconds since 1970-01-01 UTC
  std::int64_t modifiedNanos = 0;  // the part of that second, in nanoseconds (0 where unknown)
  bool exists() const { return type != EntryType::None; }
};

// InputStream reads a file sequentially in binary mode.
class InputStream {
 public:
  virtual ~InputStream() = default;
  // read fills up to size bytes; returns the count read (0 at end), or -1 on error.
  [[nodiscard]] virtual std::int64_t read(char* buffer, std::size_t size) = 0;
};

// OutputStream writes a file sequentially in binary mode.
class OutputStream {
 public:
  virtual ~OutputStream() = default;
  [[nodiscard]] virtual bool write(const char* data, std::size_t size) = 0;
  [[nodiscard]] virtual bool close() = 0;  // flush and close; later writes fail
  // sync asks the disk to hold everything written so far (fsync); streams
  // without a disk behind them have nothing to do.
  [[nodiscard]] virtual bool sync() { return true; }
  // outOfSpace: a write, sync or close failed because the disk (or the
  // user's quota) is full.
  virtual bool outOfSpace() const { return false; }
};

struct WalkEntry {
  std::string path;  // full local path text: the walked folder + "\" + names
  EntryType type = EntryType::None;
  // refusal says why the entry's name cannot be synchronised (outside the code
  // page, not valid on Windows); empty for a usable name. A refused entry has
  // type Other, is never entered, and its path shows the name for a log line
  // (characters outside ASCII as \uXXXX), not a path to open.
  std::string refusal;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // guardFolder names the folder below which links are never followed: every
  // operation on a path below it resolves the names one at a time from the
  // folder itself, and a link on the way or at the end is never followed,
  // replaced, moved or removed (status says Link, everything else fails). The
  // folder's own path is resolved as the system resolves it. One folder at a
  // time; "" guards nothing. File systems without links ignore it.
  virtual void guardFolder(const std::string& folder) { (void)folder; }

  // status of path; type None when nothing is there or it cannot be queried.
  virtual FileStatus status(const std::string& path) = 0;
  bool exists(const std::string& path) { return status(path).exists(); }
  bool isFolder(const std::string& path) { return status(path).type == EntryType::Folder; }
  bool isFile(const std::string& path) { return status(path).type == EntryType::File; }

  // createFolders creates path and every missing parent; true when the folder exists afterwards.
  [[nodiscard]] virtual bool createFolders(const std::string& path) = 0;
  // remove deletes a file or an empty folder; false when nothing was removed.
  [[nodiscard]] virtual bool remove(const std::string& path) = 0;
  // removeAll deletes a file or a folder with everything below it; true when nothing is left.
  [[nodiscard]] virtual bool removeAll(const std::string& path) = 0;
  // rename moves from to to, replacing an existing file at to.
  [[nodiscard]] virtual bool rename(const std::string& from, const std::string& to) = 0;
  // setAttributes replaces the hidden/system attributes of path.
  [[nodiscard]] virtual bool setAttributes(const std::string& path, bool hidden, bool system) = 0;
  // attributes reads them back (false, false when they cannot be had).
  virtual std::pair<bool, bool> attributes(const std::string& path) = 0;

  // openRead opens a regular file for binary reading; nullptr on failure and for
  // anything else (a FIFO, a device: never opened).
  virtual std::unique_ptr<InputStream> openRead(const std::string& path) = 0;
  // openAppend opens (creating) a file for binary appending; nullptr on failure.
  virtual std::unique_ptr<OutputStream> openAppend(const std::string& path) = 0;
  // openWrite creates or truncates a file for binary writing; nullptr on failure.
  virtual std::unique_ptr<OutputStream> openWrite(const std::string& path) = 0;

  // readText returns the whole content of a file, nullopt when it cannot be read.
  virtual std::optional<std::string> readText(const std::string& path);
  // writeText replaces the content of a file.
  [[nodiscard]] virtual bool writeText(const std::string& path, const std::string& content);
  // appendText appends to a file, creating it.
  [[nodiscard]] virtual bool appendText(const std::string& path, const std::string& content);

  // walk visits every entry below folder, depth first: a folder is visited before
  // its content and entries come in enumeration order. visit returns false to stop.
  // A link is visited with type Link and never entered. Returns false when folder or a folder below it cannot be enumerated
  // (the walk ends there), true when it was completed or stopped by visit.
  virtual bool walk(const std::string& folder,
                    const std::function<bool(const WalkEntry&)>& visit) = 0;
};

}  // namespace kq
