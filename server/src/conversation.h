#pragma once
// Conversation is the server's side of the talk with one client: each request
// the cycle asks for goes out over the Peer with its own id, and its answer is
// read and framed here. A change request that follows file data finds where
// the data ended by its answer (probeAfterData); a change reported in such an
// answer waits as a late report until the cycle takes it. The conversation
// logs what the client sent that cannot be used; what an answer means for the
// store is the cycle's.
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "peer.h"
#include "planner.h"
#include "store_files.h"
#include "wire_text.h"

namespace kqs {

struct ConversationLimits {
  std::size_t chunkBytes = 1 << 20;
  std::int64_t progressBytes = 8 << 20;  // a transfer above this logs one line: size, time and rate
  int maxLateReports = 1000;
  std::uint64_t maxListingBytes = std::uint64_t(64) << 20;
  std::uint64_t maxLogBytes = std::uint64_t(64) << 20;
};

// SentData: how the data of a push ended.
struct SentData {
  bool refusedEarly = false;  // the client answered before the last byte: it refused the file
  bool shortRead = false;     // the store file shrank while it was sent (the rest went as zeros)
};

// Fetched: the answer to a fetch. extraBytes: bytes beyond the announced size.
struct Fetched {
  std::uint64_t size = 0;
  std::uint64_t extraBytes = 0;
};

class Conversation {
 public:
  using Say = std::function<void(const std::string&)>;
  using Write = std::function<bool(std::string_view)>;
  // FiguresLeft: files and bytes still to push in this cycle, sent with every change request.
  struct FiguresLeft {
    std::int64_t files = 0, bytes = 0;
  };
  // The time of day for the date and time members comes from clock.
  Conversation(Peer& peer, Clock& clock, Say say, std::function<FiguresLeft()> figures, ConversationLimits limits)
      : peer_(peer), clock_(clock), say_(std::move(say)), figures_(std::move(figures)), limits_(limits) {}
  // requestChange sends RQCHG; nullopt when the report cannot be used (logged).
  std::optional<ChangeReport> requestChange();
  // takeLateReport: the oldest change reported with a request after data.
  std::optional<ChangeReport> takeLateReport();
  // onLateReport is told of every change reported after data, kept or not.
  void onLateReport(std::function<void(const ChangeReport&)> hook) { onLate_ = std::move(hook); }
  // requestListing sends RQLST; nullopt when the listing is over the limit or unusable (logged).
  std::optional<std::vector<ListingEntry>> requestListing();
  // fetchFile sends RQFIL and hands the data to write (where names it for errors).
  Fetched fetchFile(const std::string& path, const Write& write, const std::string& where);
  // offerFile sends RQPUT of a file (or a folder) and takes its answer.
  void offer(const std::string& path, bool isDir);
  // sendData sends RQFDA with every byte of source, then takes the answer.
  SentData sendData(const std::string& path, PushSource& source);
  void deleteOnClient(const std::string& path, bool isDir);
  // moveOnClient: false when the client could not move the folder (FLMOV).
  bool moveOnClient(const std::string& from, const std::string& to);
  void finishCycle();
  // uploadLog asks for the client's log into upload; false when it was over the limit (dropped).
  bool uploadLog(ClientLogUpload& upload);

 private:
  kq::RequestId sendChangeRequest();
  std::optional<ChangeReport> takeChangeReport(std::string_view json);
  // probeAfterData follows the data of an answer with an RQCHG and finds its
  // answer by the framing: bytes before the ANCHG header are data beyond the
  // announced size and go to extra (more than maxExtra end the connection).
  std::uint64_t probeAfterData(const std::function<void(std::string_view)>& extra, std::uint64_t maxExtra);
  void receive(const Write& write, const std::string& where, std::uint64_t size, const std::string& what);
  // sayTransfer logs "WHAT: SIZE in TIME (RATE)" for a whole transfer above
  // the limit, the time counted from startMs.
  void sayTransfer(const std::string& what, std::uint64_t size, std::int64_t startMs);
  std::string dateMember() const;
  std::string timeMember() const;

  Peer& peer_;
  Clock& clock_;
  Say say_;
  std::function<FiguresLeft()> figures_;
  ConversationLimits limits_;
  std::deque<ChangeReport> lateReports_;
  std::function<void(const ChangeReport&)> onLate_;
};

}  // namespace kqs
