#include "transfer/folder_listing.h"

#include <cstdio>

#include "platform/time_text.h"
#include "tracking/sync_folder_monitor.h"
#include "transfer/partial_file.h"
#include "transfer/server_path.h"
#include "wire/listing.h"

namespace kq {

namespace {

// listedFolderText is how the folder argument stands in front of the listed
// paths: every separator as "\/", which the listing's last steps turn into "//"
// (for /docs the entries read //docs/report.pdf). The local walk uses the
// decoded path; only the listing text keeps this form.
std::string listedFolderText(std::string_view decoded) {
  const CodePage& page = activeCodePage();
  std::string out;
  for (std::size_t pos = 0; pos < decoded.size();) {
    std::size_t n = page.characterLength(decoded, pos);
    bool separator = n == 1 && (decoded[pos] == '/' || decoded[pos] == '\\');
    out += separator ? std::string("\\/") : std::string(decoded.substr(pos, n));
    pos += n;
  }
  return out;
}

}  // namespace

void FolderListing::onMember(const std::string& key, const std::string& value, PacketContext&) {
  p_.tracker.setServerBusy();
  if (key == "\"filepath\"") sendPacketANLST(value, p_.protocol.currentRequestId);
}

void FolderListing::sendPacketANLST(const std::string& folder, const RequestId& requestId) {
  try {
    p_.log.writeTrace("ANLST ===>");
    std::string syncFolder = p_.syncFolder();
    LocalPath local = localPathFromServer(syncFolder, folder, RootUse::Allow);
    if (!p_.fs.isFolder(syncFolder)) return sendNoListing(syncFolder, requestId);
    workingDirectory_.clear();
    listedFolder_.clear();
    if (local.ok() && !local.relative.empty()) local.refusal = unsyncedReason(p_.fs.status(local.path).type);
    std::string decoded, error;
    if (local.ok() && decodeJsonString(folder, decoded, error)) {
      workingDirectory_ = local.path;
      listedFolder_ = syncFolder + listedFolderText(decoded);
    }
    if (local.ok()) {
      p_.log.writeTrace("ANLST working directory: " + local.path);
      simpleSnapshot(local.path);
    } else {
      refuse(p_, folder, local);
      snapshot.clear();
    }
    // The folder may have gone during the walk: what was seen is not all there is.
    if (!p_.fs.isFolder(syncFolder)) return sendNoListing(syncFolder, requestId);
    std::string text = listingText(syncFolder);
    p_.log.writeLog(summary_, true);
    p_.log.writeTrace("ANLST JSON buffer length: " + std::to_string(text.size()));
    std::string packet = encodeHeader(PacketHeader{"ANLST", requestId, text.size()});
    packet += text;
    if (!p_.server.send(packet)) p_.log.writeLog("Error: sendPacketANLST()", true);
  } catch (...) {
    p_.log.writeLog("Error: sendPacketANLST()", true);
  }
}

// sendNoListing answers a listing of a missing sync folder: an ANLST without
// any text. An empty folder would be the text {"content":[{}]}, from which the
// server would conclude that every file was deleted; no text is no listing.
void FolderListing::sendNoListing(const std::string& syncFolder, const RequestId& requestId) {
  snapshot.clear();
  p_.log.writeLog(syncFolderNotFound(syncFolder), true);
  p_.log.writeLog("ANLST without a listing: the sync folder is missing", true);
  p_.server.send(encodeHeader(PacketHeader{"ANLST", requestId, 0}));
}

std::string FolderListing::listingText(const std::string& syncFolder) {
  std::string body;
  ListingCounts counts;
  std::size_t listed = 0;
  for (const std::string& path : snapshot) {
    FileStatus st = p_.fs.status(path);
    // An item gone since the walk is not listed: its entry would read as an
    // empty folder where the other side may hold a file.
    if (st.type == EntryType::None) continue;
    if (listed++ > 0) body += ",";
    body += entryText(path, st, counts);
  }
  std::string text = kq::listingText(body, syncFolder);
  summary_ = "ANLST listing: " + std::to_string(listed) + " entries (" +
             std::to_string(counts.files) + " files, " + std::to_string(counts.folders) + " folders, " +
             std::to_string(counts.unreadable) + " unreadable)";
  return text;
}

// entryText is one entry of the listing; sizes and times come from the status.
// Entries are counted for the summary line, not logged one by one.
std::string FolderListing::entryText(const std::string& path, const FileStatus& st, ListingCounts& counts) {
  ListedEntry entry{listedPath(path)};
  if (st.type == EntryType::File) {
    ++counts.files;
    entry.size = st.size;
    LocalTime t = p_.clock.toLocal(st.modified);
    entry.mdate = dateText(t, '-');  // "%Y-%m-%d"
    entry.mtime = timeText(t, '.');  // "%H.%M.%S"
  } else if (st.type == EntryType::Folder) {
    ++counts.folders;
  } else {
    ++counts.unreadable;
  }
  return listingEntryText(entry);
}

// listedPath puts the folder argument's listing form in place of the working
// directory; a form ending in a separator is followed by the names directly.
std::string FolderListing::listedPath(const std::string& path) const {
  if (workingDirectory_.empty() || path.compare(0, workingDirectory_.size(), workingDirectory_) != 0)
    return path;
  std::string rest = path.substr(workingDirectory_.size());
  bool joined = listedFolder_.size() >= 2 && listedFolder_.compare(listedFolder_.size() - 2, 2, "\\/") == 0;
  if (joined && !rest.empty() && rest[0] == '\\') rest.erase(0, 1);
  return listedFolder_ + rest;
}

void FolderListing::simpleSnapshot(const std::string& directory) {
  try {
    p_.log.writeTrace("Create the simple snapshot for RQLST");
    snapshot.clear();
    bool walked = p_.fs.walk(directory, [this](const WalkEntry& entry) {
      pumpMessages();
      std::string reason = entry.refusal.empty() ? unsyncedReason(entry.type) : entry.refusal;
      if (!reason.empty()) {  // a link or a special file is never listed, a link never entered
        unsynced.report(entry.path, reason);
        return true;
      }
      FileStatus st = p_.fs.status(entry.path);
      if (!st.exists()) {
        p_.log.writeLog("simpleSnapshot() - Error get files/directories snapshot!", true);
      } else if (isPartialFileName(entry.path)) {
        // a file still being received is not there yet
      } else if (st.type == EntryType::Folder || st.type == EntryType::File) {
        snapshot.push_back(entry.path);
      }
      return true;
    });
    if (!walked) {
      p_.log.writeLog("Error: createSimpleSnapshot()", true);
      return;
    }
    p_.log.writeLog("Extra snapshot done", true);
  } catch (...) {
    p_.log.writeLog("Error: createSimpleSnapshot()", true);
  }
}

}  // namespace kq
