#include "conversation.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "log_text.h"

namespace kqs {

namespace {

constexpr std::uint64_t kMaxPayload = std::uint64_t(1) << 62;  // a negative size from the client is refused
constexpr std::uint64_t kMaxChangeReport = 1 << 20;
constexpr std::uint64_t kMaxExtraBytes = std::uint64_t(1) << 30;  // data beyond an announced size, read and dropped

std::string folderForm(const std::string& path) { return path + "/"; }
std::string shown(std::string_view value) { return logValue(value); }

// megabytes rounds a byte count up to whole MiB, as the status bar shows it.
std::int64_t megabytes(std::int64_t bytes) { return (bytes + (1 << 20) - 1) / (1 << 20); }

// amountText is a byte count as a person reads it: "512 bytes", "3.5 KiB", "300.0 MiB", "1.2 GiB".
std::string amountText(double bytes) {
  static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
  if (bytes < 1024) return std::to_string(static_cast<std::int64_t>(bytes)) + " bytes";
  int unit = 0;
  for (bytes /= 1024; bytes >= 1024 && unit < 3; bytes /= 1024) ++unit;
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", bytes, kUnits[unit]);
  return text;
}

// transferText is the one line of a whole transfer: "300.0 MiB in 4.2 s (71.4 MiB/s)".
std::string transferText(std::uint64_t bytes, std::int64_t elapsedMs) {
  const std::int64_t ms = std::max<std::int64_t>(elapsedMs, 1);
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f s", static_cast<double>(elapsedMs) / 1000);
  return amountText(static_cast<double>(bytes)) + " in " + seconds + " (" +
         amountText(static_cast<double>(bytes) * 1000 / static_cast<double>(ms)) + "/s)";
}

}  // namespace

std::string Conversation::dateMember() const { return formatLocal(clock_.wallSeconds(), "%Y-%m-%d"); }
std::string Conversation::timeMember() const { return formatLocal(clock_.wallSeconds(), "%H:%M:%S"); }

std::optional<ChangeReport> Conversation::requestChange() {
  auto id = sendChangeRequest();
  auto header = peer_.readAnswer(id, {"ANCHG"});
  if (header.payloadLength > kMaxChangeReport) throw PeerError("oversized change report");
  Received json;
  peer_.readBody(static_cast<std::size_t>(header.payloadLength), json);
  return takeChangeReport(json.view());
}

kq::RequestId Conversation::sendChangeRequest() {
  auto left = figures_();
  std::string body = requestBody({{"date", dateMember()}, {"time", timeMember()},
                                  {"filesleft", std::to_string(left.files)},
                                  {"mbytesleft", std::to_string(megabytes(left.bytes))}});
  return peer_.sendRequest("RQCHG", body, body.size());
}

std::optional<ChangeReport> Conversation::takeChangeReport(std::string_view json) {
  std::string refusal;
  auto report = parseChangeReport(json, &refusal);
  if (!report) {
    say_("unusable change report of " + std::to_string(json.size()) + " bytes skipped");
    return std::nullopt;
  }
  if (!refusal.empty()) {
    say_("change report refused, " + refusal + ": " + shown(report->changetype) + " " + shown(report->path) +
         (report->newname.empty() ? "" : " -> " + shown(report->newname)));
    return std::nullopt;
  }
  if (!report->changetype.empty()) {
    say_("client reports " + shown(report->changetype) + " " + shown(report->path) +
         (report->newname.empty() ? "" : " -> " + shown(report->newname)));
  }
  return report;
}

std::optional<ChangeReport> Conversation::takeLateReport() {
  if (lateReports_.empty()) return std::nullopt;
  ChangeReport report = std::move(lateReports_.front());
  lateReports_.pop_front();
  return report;
}

std::uint64_t Conversation::probeAfterData(const std::function<void(std::string_view)>& extra,
                                           std::uint64_t maxExtra) {
  auto id = sendChangeRequest();
  const std::string expect = "ANCHG" + std::string(id.begin(), id.end());
  std::string buffer;
  std::uint64_t extraBytes = 0;
  auto spill = [&](std::size_t n) {
    if (n == 0) return;
    extraBytes += n;
    if (extraBytes > maxExtra) throw PeerError("more data than announced, beyond " + std::to_string(maxExtra) + " bytes");
    extra(std::string_view(buffer.data(), n));
    buffer.erase(0, n);
  };
  std::size_t at;
  while ((at = buffer.find(expect)) == std::string::npos) {
    spill(buffer.size() - std::min(buffer.size(), expect.size() - 1));  // keep what may start the header
    std::string more = peer_.readSome(1 << 16, peer_.timeoutMs());
    if (more.empty()) throw PeerError("the client stopped answering");
    buffer += more;
  }
  spill(at);
  if (buffer.size() < kq::kHeaderSize) buffer += peer_.readExact(kq::kHeaderSize - buffer.size());
  std::uint64_t length = kq::payloadLength(buffer);
  if (length > kMaxChangeReport) throw PeerError("oversized change report");
  std::string json = buffer.substr(kq::kHeaderSize);
  if (json.size() > length) throw PeerError("unexpected bytes after a change report");
  json += peer_.readExact(static_cast<std::size_t>(length) - json.size());
  auto report = takeChangeReport(json);
  if (report && !report->changetype.empty()) {
    if (onLate_) onLate_(*report);
    if (lateReports_.size() < static_cast<std::size_t>(limits_.maxLateReports)) lateReports_.push_back(*report);
    else say_("change report of " + shown(report->path) + " not kept: too many waiting");
  }
  return extraBytes;
}

std::optional<std::vector<ListingEntry>> Conversation::requestListing() {
  std::string body = requestBody({{"filepath", ""}});
  auto id = peer_.sendRequest("RQLST", body, body.size());
  auto header = peer_.readAnswer(id, {"ANLST"});
  if (header.payloadLength > limits_.maxListingBytes) {
    say_("listing of " + std::to_string(header.payloadLength) + " bytes is over the limit of " +
         std::to_string(limits_.maxListingBytes) + " bytes (--max-listing); the cycle ends without reconciliation");
    peer_.skipBody(header.payloadLength);
    return std::nullopt;
  }
  std::optional<std::vector<ListingEntry>> listing;
  int skipped = 0;
  std::string refusal;
  std::size_t size = static_cast<std::size_t>(header.payloadLength);
  {
    Received json;
    peer_.readBody(size, json);
    listing = parseListing(json.view(), &skipped, &refusal);
  }  // the text goes before the plan is made
  if (!listing) {
    say_("unusable listing of " + std::to_string(size) + " bytes; reconciliation skipped this cycle");
    return std::nullopt;
  }
  if (skipped > 0) say_("listing: " + std::to_string(skipped) + " entries with unusable paths left out");
  if (!refusal.empty()) say_("listing entry refused, " + refusal);
  return listing;
}

void Conversation::receive(const Write& write, const std::string& where, std::uint64_t size, const std::string& what) {
  const std::int64_t startMs = clock_.steadyMs();
  std::uint64_t done = 0;
  bool diskOk = true;
  while (done < size) {
    std::string chunk =
        peer_.readExact(static_cast<std::size_t>(std::min<std::uint64_t>(size - done, limits_.chunkBytes)));
    diskOk = diskOk && write(chunk);
    done += chunk.size();
  }
  if (!diskOk) throw std::runtime_error("cannot write " + where);
  sayTransfer(what, size, startMs);
}

void Conversation::sayTransfer(const std::string& what, std::uint64_t size, std::int64_t startMs) {
  if (size <= static_cast<std::uint64_t>(limits_.progressBytes)) return;
  say_(what + ": " + transferText(size, clock_.steadyMs() - startMs));
}

Fetched Conversation::fetchFile(const std::string& path, const Write& write, const std::string& where) {
  std::string body = requestBody({{"filepath", path}});
  auto id = peer_.sendRequest("RQFIL", body, body.size());
  auto header = peer_.readAnswer(id, {"ANFIL"});
  if (header.payloadLength >= kMaxPayload) throw PeerError("ANFIL announces an impossible size");
  receive(write, where, header.payloadLength, "received " + shown(path) + " from the client");
  // The next request's answer shows where the file's data ended: bytes before
  // it are more than the client announced (a file that grew while it was sent).
  Fetched fetched;
  fetched.size = header.payloadLength;
  fetched.extraBytes = probeAfterData([](std::string_view) {}, kMaxExtraBytes);
  return fetched;
}

void Conversation::offer(const std::string& path, bool isDir) {
  std::string body = requestBody({{"filepath", isDir ? folderForm(path) : path}});
  auto id = peer_.sendRequest("RQPUT", body, body.size());
  peer_.readAnswer(id, {"ANPUT"});
}

SentData Conversation::sendData(const std::string& path, PushSource& source) {
  SentData sent;
  std::uint64_t size = source.size();
  auto dataId = peer_.sendRequest("RQFDA", "", size);
  // Every announced byte goes out, whatever the client answers meanwhile: it
  // counts them off even when it refused the file. An answer that arrives
  // before the last byte was sent is a refusal; one after it takes the data.
  std::string buffer(limits_.chunkBytes, '\0');
  std::uint64_t done = 0;
  const std::int64_t startMs = clock_.steadyMs();
  while (done < size) {
    if (!sent.refusedEarly && peer_.readable()) {
      peer_.readAnswer(dataId, {"ANFDA"});
      sent.refusedEarly = true;
    }
    auto want = static_cast<std::size_t>(std::min<std::uint64_t>(size - done, buffer.size()));
    auto n = source.read(buffer.data(), want);
    if (n == 0) {  // the store file shrank: complete the announced size, resend next cycle
      std::fill(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(want), '\0');
      n = want;
      sent.shortRead = true;
    }
    peer_.sendAll(std::string_view(buffer.data(), n));
    done += n;
  }
  if (sent.refusedEarly) return sent;  // the session says why the file did not go
  peer_.readAnswer(dataId, {"ANFDA"});
  sayTransfer("sent " + shown(path) + " to the client", size, startMs);
  return sent;
}

void Conversation::deleteOnClient(const std::string& path, bool isDir) {
  std::string body = requestBody({{"filepath", isDir ? folderForm(path) : path}});
  auto id = peer_.sendRequest("RQDEL", body, body.size());
  peer_.readAnswer(id, {"ANDEL"});
}

bool Conversation::moveOnClient(const std::string& from, const std::string& to) {
  std::string body = requestBody({{"sourcefilepath", folderForm(from)}, {"destinationfilepath", folderForm(to)}});
  auto id = peer_.sendRequest("RQMOV", body, body.size());
  return peer_.readAnswer(id, {"ANMOV", "FLMOV"}).type != "FLMOV";
}

void Conversation::finishCycle() {
  std::string body = requestBody({{"date", dateMember()}, {"time", timeMember()}});
  peer_.sendRequest("RQFLS", body, body.size());
}

bool Conversation::uploadLog(ClientLogUpload& upload) {
  std::string body = requestBody({{"logfile", "Filesync.log"}});
  auto id = peer_.sendRequest("RQLOG", body, body.size());
  auto header = peer_.readAnswer(id, {"ANLOG"});
  if (header.payloadLength >= kMaxPayload) throw PeerError("ANLOG announces an impossible size");
  if (header.payloadLength > limits_.maxLogBytes) {
    say_("client log of " + std::to_string(header.payloadLength) + " bytes not kept: over the limit of " +
         std::to_string(limits_.maxLogBytes) + " bytes (--max-log)");
    for (std::uint64_t left = header.payloadLength; left > 0;) {
      auto n = std::min<std::uint64_t>(left, limits_.chunkBytes);
      peer_.readExact(static_cast<std::size_t>(n));
      left -= n;
    }
    probeAfterData([](std::string_view) {}, kMaxExtraBytes);
    return false;
  }
  receive([&](std::string_view data) { return upload.write(data); }, upload.path(), header.payloadLength,
          "received the client log");
  // The log grows while it is sent: the lines written meanwhile follow the
  // announced size, up to the answer of the next request; they are kept up
  // to the limit, and more is out of turn.
  bool diskOk = true;
  probeAfterData([&](std::string_view more) { diskOk = upload.write(more) && diskOk; },
                 limits_.maxLogBytes - header.payloadLength);
  if (!diskOk) throw std::runtime_error("cannot write " + upload.path() + ": " + std::strerror(errno));
  return true;
}

}  // namespace kqs
