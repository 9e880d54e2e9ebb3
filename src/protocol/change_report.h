#pragma once
// ChangeReport is the RQCHG member handler: it shows the progress figures and,
// at every "time" member, reports the next pending local change (renames first,
// then modifications, then deletions) in one ANCHG packet.
#include <cstdint>
#include <optional>
#include <string>

#include "protocol/request_handler.h"
#include "tracking/change_tracker.h"
#include "wire/change_report.h"

namespace kq {

class Clock;
class ConfigStore;
class FileSystem;
class Log;
class ServerLink;
class StatusView;

// toServerPath converts a full local path below syncFolder to the server's form
// ("/sub/a.txt"; a trailing backslash gives a trailing "/"). The path must start
// with the sync folder itself followed by a backslash; nullopt otherwise.
std::optional<std::string> toServerPath(const std::string& fullPath, const std::string& syncFolder);

// sendPacketANCHG builds the report and sends header and JSON in one send. An
// empty date is replaced by the local date and time ("yyyy-mm-dd", "hh:nn:ss").
// The JSON is encodeChangeReport's: filepath and newname are escaped as the
// listing escapes its paths (escapeJsonName): a double quote, control character
// or the text "$u" as a \u escape of its byte, bytes of 0x80 and above (both
// bytes of a double-byte character) as \u escapes of their value.
// It never throws: a failure logs "Error: sendPacketANCHG()". Returns true when
// the link took the whole packet.
[[nodiscard]] bool sendPacketANCHG(std::string date, std::string time, const RequestId& requestId,
                     ChangeRecord change, ServerLink& link, Clock& clock, Log& log);

// ChangeReport also watches the session: the queue entry behind a report stays
// in its hands until the server's next request header shows the report arrived.
// When the send fails or the connection closes first, the entry goes back to
// the front of its queue.
class ChangeReport : public RequestHandler, public SessionObserver {
 public:
  ChangeReport(ProtocolState& state, ChangeTracker& tracker, ConfigStore& config,
               FileSystem& fs, Clock& clock, StatusView& status, ServerLink& link, Log& log)
      : state_(state), tracker_(tracker), config_(config), fs_(fs), clock_(clock),
        status_(status), link_(link), log_(log) {}

  void onMember(const std::string& key, const std::string& value, PacketContext& packet) override;
  void onRequestHeader(int code) override;
  void onSessionClosed() override;

  // serverDate is the value of the last "date" member; it lives as long as the program.
  std::string serverDate;

 private:
  // TakenChange is the queue entry a report was made from.
  struct TakenChange {
    enum class Queue { Rename, Modification, Deletion } queue;
    RenameEntry rename;
    std::string path;
  };

  // giveBack puts a taken entry back at the front of its queue, unless the
  // queues already say something newer about its path.
  void giveBack(const TakenChange& taken);
  // nextChange takes the next pending change from the queues; an empty record
  // when none is pending. Entries outside the sync folder are dropped on the way.
  ChangeRecord nextChange();
  bool takeRename(const std::string& folder, ChangeRecord& change);
  bool takeModification(const std::string& folder, ChangeRecord& change);
  bool takeDeletion(const std::string& folder, ChangeRecord& change);
  std::optional<std::string> serverPathOrDrop(const std::string& path, const std::string& folder);
  std::int64_t sizeOf(const std::string& path);

  std::optional<TakenChange> taken_;        // behind the report being built
  std::optional<TakenChange> unconfirmed_;  // behind the last report sent
  bool roundEnded_ = true;                   // no change request since the last RQFLS

  ProtocolState& state_;
  ChangeTracker& tracker_;
  ConfigStore& config_;
  FileSystem& fs_;
  Clock& clock_;
  StatusView& status_;
  ServerLink& link_;
  Log& log_;
};

}  // namespace kq
