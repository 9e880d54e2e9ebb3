#include "transfer/folder_listing.h"

#include <cstdio>

#include "platform/time_text.h"
#include "transfer/partial_file.h"
#include "transfer/server_path.h"

namespace kq {

namespace {

// escapeListedPath escapes a listed path for the listing text: bytes of 0x80 and
// above as escapeNonAscii marks them, and, so that a JSON reader gets the name
// back exactly, the mark "$u" itself, control characters and double quotes.
std::string escapeListedPath(const std::string& path) {
  static const char kHex[] = "0123456789abcdef";
  std::string marked = replaceAll(path, "$u", "$u0024u");
  std::string out;
  for (char c : marked) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || c == '"') {
      out += "$u00";
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 0xF]);
    } else {
      out.push_back(c);
    }
  }
  return escapeNonAscii(out);
}

}  // namespace

void FolderListing::onMember(const std::string& key, const std::string& value, PacketContext&) {
  p_.tracker.setServerBusy();
  if (key == "\"filepath\"") sendPacketANLST(value, p_.protocol.currentRequestId);
}

void FolderListing::sendPacketANLST(const std::string& folder, const RequestId& requestId) {
  try {
    p_.log.writeLog("ANLST ===>", true);
    std::string syncFolder = p_.syncFolder();
    LocalPath local = localPathFromServer(syncFolder, folder, RootUse::Allow);
    if (local.ok()) {
      p_.log.writeLog("ANLST working directory: " + local.path, true);
      simpleSnapshot(local.path);
    } else {
      logRefusal(p_.log, folder, local);
      snapshot.clear();
    }
    std::string text = listingText(syncFolder);
    p_.log.writeLog("ANLST JSON to Server:", true);
    p_.log.writeLog(text, true);
    p_.log.writeLog("ANLST JSON buffer length: " + std::to_string(text.size()), true);
    std::string packet = encodeHeader(PacketHeader{"ANLST", requestId, text.size()});
    packet += text;
    if (!p_.server.send(packet)) p_.log.writeLog("Error: sendPacketANLST()", true);
  } catch (...) {
    p_.log.writeLog("Error: sendPacketANLST()", true);
  }
}

std::string FolderListing::listingText(const std::string& syncFolder) {
  std::string body;
  for (std::size_t i = 0; i < snapshot.size(); ++i) {
    if (i > 0) body += ",";
    body += entryText(snapshot[i]);
  }
  std::string text = "{\"content\":[{" + body + "}]}";
  text = replaceAll(text, escapeListedPath(syncFolder), "");
  text = replaceAll(text, "\\", "/");
  return completeEscapes(text);
}

// entryText is one entry of the listing; sizes and times come from the status.
std::string FolderListing::entryText(const std::string& path) {
  p_.log.writeLog(path, true);
  std::string size = "0", date, time;
  FileStatus st = p_.fs.status(path);
  if (st.type == EntryType::File) {
    size = std::to_string(st.size);
    LocalTime t = p_.clock.toLocal(st.modified);
    date = dateText(t, '-');  // "%Y-%m-%d"
    time = timeText(t, '.');  // "%H.%M.%S"
  } else {
    p_.log.writeLog("ANLST Error: can not read file!", true);
  }
  return "\"filepath\":\"" + escapeListedPath(path) + "\",\"size\":\"" + size +
         "\",\"mdate\":\"" + date + "\",\"mtime\":\"" + time + "\"";
}

void FolderListing::simpleSnapshot(const std::string& directory) {
  try {
    p_.log.writeLog("Create the simple snapshot for RQLST", true);
    snapshot.clear();
    bool walked = p_.fs.walk(directory, [this](const WalkEntry& entry) {
      pumpMessages();
      FileStatus st = p_.fs.status(entry.path);
      if (!st.exists()) {
        p_.log.writeLog("simpleSnapshot() - Error get files/directories snapshot!", true);
      } else if (st.type == EntryType::File && isPartialFileName(entry.path)) {
        // a file still being received is not the client's to list
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
