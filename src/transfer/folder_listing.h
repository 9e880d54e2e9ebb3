#pragma once
// Folder listing: the RQLST handler, simpleSnapshot (the recursive walk that
// collects the full path of every folder and file) and sendPacketANLST, which
// answers with one ANLST packet holding the listing text.
#include <functional>
#include <string>
#include <vector>

#include "engine/handler_ports.h"
#include "protocol/request_handler.h"
#include "transfer/unsynced_names.h"

namespace kq {

class FolderListing : public RequestHandler {
 public:
  explicit FolderListing(HandlerPorts& ports) : unsynced(ports.tracker.unsynced), p_(ports) {}

  // onMember handles one member of an RQLST body ("filepath" names the folder).
  void onMember(const std::string& key, const std::string& value, PacketContext& packet) override;

  // sendPacketANLST lists folder (the RQLST value as delivered) and sends the
  // ANLST packet; a refused folder gets the empty listing, a missing sync folder
  // an ANLST without text (no listing). The listing is logged as one summary
  // line. Never throws.
  void sendPacketANLST(const std::string& folder, const RequestId& requestId);
  // simpleSnapshot fills snapshot with every folder and file below directory,
  // depth first, each folder before its content; files still being received
  // (".kqpart") are left out. Never throws.
  void simpleSnapshot(const std::string& directory);
  // listingText builds the listing of the snapshot (the text sent after the header).
  std::string listingText(const std::string& syncFolder);

  // snapshot is the last walk's result, one full local path per entry.
  std::vector<std::string> snapshot;
  // pumpMessages runs once per walked entry so the platform can handle pending
  // events during a long walk; it does nothing by default.
  std::function<void()> pumpMessages = [] {};
  // unsynced reports the walked names that cannot be synchronised (the change
  // tracker's: each item is reported once, whoever meets it first).
  UnsyncedNames& unsynced;

 private:
  struct ListingCounts {
    std::size_t files = 0, folders = 0, unreadable = 0;
  };
  std::string entryText(const std::string& path, const FileStatus& st, ListingCounts& counts);
  std::string listedPath(const std::string& path) const;
  void sendNoListing(const std::string& syncFolder, const RequestId& requestId);

  HandlerPorts& p_;
  std::string summary_;  // the summary line of the last listingText
  // The walked folder of the current request and the text that stands for it in
  // the listing (sync folder + the folder argument's listing form).
  std::string workingDirectory_;
  std::string listedFolder_;
};

}  // namespace kq
