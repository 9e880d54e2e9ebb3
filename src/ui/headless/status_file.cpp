#include "ui/headless/status_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>

namespace kq {

namespace {

using Json = nlohmann::ordered_json;

std::string timeText(std::int64_t unixSeconds) {
  std::time_t t = static_cast<std::time_t>(unixSeconds);
  std::tm local{};
  localtime_r(&t, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

Json transferJson(const std::optional<TransferProgress>& transfer) {
  if (!transfer) return nullptr;
  return {{"file", transfer->file},
          {"bytes_done", transfer->bytesDone},
          {"bytes_total", transfer->bytesTotal},
          {"bytes_per_second", transfer->bytesPerSecond}};
}

Json failedJson(const std::vector<FailedItem>& failed) {
  Json list = Json::array();
  for (const auto& item : failed) list.push_back({{"path", item.path}, {"reason", item.reason}});
  return list;
}

std::optional<TransferProgress> transferFrom(const Json& t) {
  if (t.is_null()) return std::nullopt;
  return TransferProgress{t.at("file").get<std::string>(), t.at("bytes_done").get<std::int64_t>(),
                          t.at("bytes_total").get<std::int64_t>(), t.at("bytes_per_second").get<double>()};
}

}  // namespace

std::string stateJson(const ClientState& s) {
  Json j = {{"pid", s.pid},
            {"connected", s.connected},
            {"server", s.server},
            {"contract", s.contract},
            {"sync_folder", s.syncFolder},
            {"last_completed_cycle", s.lastCycleEnd ? Json(*s.lastCycleEnd) : Json(nullptr)},
            {"queued_modifications", s.queuedModifications},
            {"queued_deletions", s.queuedDeletions},
            {"failed_items", s.failedItems},
            {"activity", s.activity},
            {"transfer", transferJson(s.transfer)},
            {"updated", s.updated},
            {"watcher_connected", s.watcherConnected},
            {"sync_folder_present", s.syncFolderPresent},
            {"sync_folder_locked", s.syncFolderLocked},
            {"failed", failedJson(s.failed)},
            {"sending", transferJson(s.sending)},
            {"last_error", s.lastError},
            {"refusals_in_a_row", s.refusalsInARow}};
  return j.dump(2) + "\n";
}

std::optional<ClientState> stateFromJson(const std::string& text) {
  try {
    Json j = Json::parse(text);
    ClientState s;
    s.pid = j.at("pid").get<long>();
    s.connected = j.at("connected").get<bool>();
    s.server = j.at("server").get<std::string>();
    s.contract = j.at("contract").get<std::string>();
    s.syncFolder = j.at("sync_folder").get<std::string>();
    if (!j.at("last_completed_cycle").is_null()) s.lastCycleEnd = j["last_completed_cycle"].get<std::int64_t>();
    s.queuedModifications = j.at("queued_modifications").get<int>();
    s.queuedDeletions = j.at("queued_deletions").get<int>();
    s.failedItems = j.at("failed_items").get<int>();
    s.activity = j.at("activity").get<std::string>();
    s.transfer = transferFrom(j.at("transfer"));
    s.updated = j.at("updated").get<std::int64_t>();
    // Fields added later; a state file of an older client has none of them.
    s.watcherConnected = j.value("watcher_connected", false);
    s.syncFolderPresent = j.value("sync_folder_present", true);
    s.syncFolderLocked = j.value("sync_folder_locked", false);
    if (j.contains("failed"))
      for (const Json& item : j.at("failed"))
        s.failed.push_back({item.at("path").get<std::string>(), item.at("reason").get<std::string>()});
    if (j.contains("sending")) s.sending = transferFrom(j.at("sending"));
    s.lastError = j.value("last_error", std::string());
    s.refusalsInARow = j.value("refusals_in_a_row", 0);
    return s;
  } catch (const Json::exception&) {
    return std::nullopt;
  }
}

bool writeStateFile(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".tmp";
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ok = ::close(fd) == 0 && ok;
  if (ok && std::rename(temporary.c_str(), path.c_str()) == 0) return true;
  ::unlink(temporary.c_str());
  return false;
}

std::string statusText(const ClientState& s, bool running) {
  std::string text;
  text += std::string("Client:          ") + (running ? "running (process " + std::to_string(s.pid) + ")" : "not running") + "\n";
  text += std::string("Server:          ") + s.server + (running ? (s.connected ? " (connected)" : " (not connected)") : "") + "\n";
  if (s.refusalsInARow > 0)
    text += "Refused:         " + std::to_string(s.refusalsInARow) + " time" + (s.refusalsInARow == 1 ? "" : "s") +
            " in a row: the server closed the connection at the contract and API key\n";
  text += "Contract:        " + s.contract + "\n";
  text += "Sync folder:     " + s.syncFolder + "\n";
  text += "Last cycle:      " + (s.lastCycleEnd ? timeText(*s.lastCycleEnd) : std::string("none yet")) + "\n";
  text += "Queued changes:  " + std::to_string(s.queuedModifications) + " to send, " +
          std::to_string(s.queuedDeletions) + " deletions\n";
  text += "Failed items:    " + std::to_string(s.failedItems) + "\n";
  for (const auto& item : s.failed) text += "                 " + item.path + ": " + item.reason + "\n";
  std::string now = s.transfer ? transferText(*s.transfer) : (s.activity.empty() ? "idle" : s.activity);
  text += "Now:             " + (running ? now : std::string("-")) + "\n";
  if (running && s.sending) text += "Sending:         " + transferText(*s.sending) + "\n";
  if (running) text += std::string("Watcher:         ") + (s.watcherConnected ? "connected" : "not connected") + "\n";
  if (!s.syncFolderPresent) text += "Sync folder:     not found\n";
  if (running)
    text += std::string("Folder lock:     ") +
            (s.syncFolderLocked ? "held" : s.syncFolderPresent ? "not held" : "not held (the sync folder is missing)") +
            "\n";
  if (!s.lastError.empty()) text += "Last error:      " + s.lastError + "\n";
  return text;
}

std::string statusJson(const ClientState& s, bool running) {
  Json j = {{"running", running},
            {"pid", running ? Json(s.pid) : Json(nullptr)},
            {"connected", running && s.connected},
            {"server", s.server},
            {"contract", s.contract},
            {"sync_folder", s.syncFolder},
            {"last_completed_cycle", s.lastCycleEnd ? Json(*s.lastCycleEnd) : Json(nullptr)},
            {"queued_changes", {{"modifications", s.queuedModifications}, {"deletions", s.queuedDeletions}}},
            {"failed_items", s.failedItems},
            {"activity", running ? Json(s.activity) : Json(nullptr)},
            {"current_transfer", running ? transferJson(s.transfer) : Json(nullptr)},
            {"updated", s.updated},
            {"failed", failedJson(s.failed)},
            {"current_send", running ? transferJson(s.sending) : Json(nullptr)},
            {"watcher_connected", running && s.watcherConnected},
            {"sync_folder_present", s.syncFolderPresent},
            {"sync_folder_locked", running && s.syncFolderLocked},
            {"last_error", s.lastError},
            {"refusals_in_a_row", s.refusalsInARow}};
  return j.dump(2) + "\n";
}

std::string failedText(const ClientState& s) {
  std::string text;
  for (const auto& item : s.failed) text += item.path + ": " + item.reason + "\n";
  return text;
}

std::string failedListJson(const ClientState& s) { return failedJson(s.failed).dump(2) + "\n"; }

}  // namespace kq
