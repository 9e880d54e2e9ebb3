#pragma once
// Local path text on POSIX: "C:\Sync\docs\a.txt" style paths in Windows-1252
// turned into real UTF-8 paths and back. The drive Z: is "/" (as under Wine);
// further drive letters can be mapped to folders. "\" and "/" both separate and
// runs of separators count as one; "." and ".." segments are resolved in the
// text, as Windows does, so a path never climbs above its drive's folder.
#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace kq {

// DriveMap maps drive letters (case-insensitive) to native folders.
class DriveMap {
 public:
  DriveMap();  // Z: is "/"; no other drive is mapped
  // map makes letter stand for nativeFolder (an absolute UTF-8 path).
  void map(char letter, std::string nativeFolder);
  // toNative returns the real path, nullopt when the text has no mapped drive
  // letter, is drive-relative ("C:x") or holds a character Windows refuses in names.
  std::optional<std::string> toNative(std::string_view localPath) const;
  // toLocal returns the local path text of an absolute native path: the drive whose
  // folder is the longest prefix of it (Z: for the rest). Relative paths are made
  // absolute against the working directory first.
  std::string toLocal(std::string_view nativePath) const;

 private:
  std::array<std::string, 26> folders_;  // empty: not mapped
};

// localToNativePath converts with the default map (Z: only): Z:\home\me -> /home/me.
std::optional<std::string> localToNativePath(const std::string& localPath);
// nativeToLocalPath converts with the default map: /home/me/Sync -> Z:\home\me\Sync.
std::string nativeToLocalPath(const std::string& posixPath);

}  // namespace kq
