#pragma once
// KnownFiles finds the changes made while the client was not running. The
// client remembers the files of the sync folder it last knew (relative path,
// size, modification time) in "_config\KnownFiles.dat"; at start the folder is
// compared with that list and the differences go to the change tracker as the
// watcher would have reported them: a known file that is gone as deleted (so
// the deletion reaches the store instead of the file coming back), a new or
// changed file as modified. Without a saved list nothing is reported; when
// none of several known files is there any more (a disk that is not mounted,
// say), no deletion is reported either.
//
// The client's own folders (_config, _log, _trash) and excluded names are not
// listed. Deletions still waiting in the tracker are remembered as known files,
// so a deletion not yet sent when the client stops is found again.
//
// The list is kept in memory once the folder was walked (at start). A save
// looks only at the paths the tracker recorded as touched since the last one
// (a file is looked at again, a folder walked below it, what is gone dropped)
// and writes nothing when nothing changed (and the saved list is still
// there); the whole folder is walked again
// only when the tracker lost track (the watcher lost reports, too many paths).
#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace kq {

class ChangeTracker;
class ExceptionFilter;
class FileSystem;
class Log;

class KnownFiles {
 public:
  static constexpr std::size_t kMaxFiles = 2000000;
  // kMaxListBytes bounds what is read of "KnownFiles.dat": a larger list is not
  // read at all (logged) and counts as no list: nothing is taken for deleted.
  static constexpr std::uint64_t kMaxListBytes = 256ull * 1024 * 1024;

  struct Entry {
    std::uint64_t size = 0;
    std::int64_t modified = 0;
    bool operator==(const Entry&) const = default;
  };
  using Listing = std::map<std::string, Entry>;  // by path relative to the sync folder

  KnownFiles(FileSystem& fs, Log& log, ExceptionFilter& filter, ChangeTracker& tracker,
             std::uint64_t maxListBytes = kMaxListBytes)
      : fs_(fs), log_(log), filter_(filter), tracker_(tracker), maxListBytes_(maxListBytes) {}

  // findChanges compares syncFolder with the saved list, hands the differences
  // to the tracker and returns how many it handed over.
  std::size_t findChanges(const std::string& syncFolder);
  // remember saves the files of syncFolder now; false when it could not.
  [[nodiscard]] bool remember(const std::string& syncFolder);
  // walks counts the walks of the whole folder (start, lost reports).
  std::size_t walks() const { return walks_; }

  static std::string listPath(const std::string& syncFolder) { return syncFolder + "\\_config\\KnownFiles.dat"; }
  static std::string listText(const Listing& files);
  // parseList reads listText's format; nullopt for a text of another shape.
  static std::optional<Listing> parseList(const std::string& text);

 private:
  std::optional<Listing> scan(const std::string& syncFolder);
  // addTree adds the files at and below folder to files; false when the walk failed.
  bool addTree(const std::string& folder, std::size_t prefix, Listing& files);
  // refresh brings listing_ up to date with what the tracker saw touched.
  bool refresh(const std::string& syncFolder);
  bool patch(const std::string& syncFolder);
  void forgetBelow(const std::string& relative);
  Listing pendingDeletions(const std::string& syncFolder) const;

  FileSystem& fs_;
  Log& log_;
  ExceptionFilter& filter_;
  ChangeTracker& tracker_;
  std::uint64_t maxListBytes_;
  std::optional<Listing> listing_;  // the folder as last looked at
  std::string listingFolder_;
  Listing writtenDeletions_;  // the pending deletions in the saved list
  bool unsaved_ = false;      // listing_ differs from the saved list
  std::size_t walks_ = 0;
};

}  // namespace kq
