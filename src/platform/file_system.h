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

enum class EntryType { None, File, Folder, Other };

struct FileStatus {
  EntryType type = EntryType::None;
  std::uint64_t size = 0;       // bytes; 0 for folders
  std::int64_t modified = 0;    // last modification, seconds since 1970-01-01 UTC
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
};

struct WalkEntry {
  std::string path;  // full local path text: the walked folder + "\" + names
  EntryType type = EntryType::None;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

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

  // openRead opens a file for binary reading; nullptr on failure.
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
  // An entry's type is that of what it names; links to folders are listed but not
  // entered. Returns false when folder or a folder below it cannot be enumerated
  // (the walk ends there), true when it was completed or stopped by visit.
  virtual bool walk(const std::string& folder,
                    const std::function<bool(const WalkEntry&)>& visit) = 0;
};

}  // namespace kq
