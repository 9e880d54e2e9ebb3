#include "config/watcher_address.h"

#include <nlohmann/json.hpp>
#include <stdexcept>

namespace kq {

namespace {

constexpr const char* kRootMember = "KQFilsyncConfig";
constexpr const char* kMember = "Watcher";

}  // namespace

std::string WatcherAddress::folder() const {
  auto cut = socketPath.find_last_of('/');
  return cut == std::string::npos ? std::string() : socketPath.substr(0, cut);
}

std::optional<std::string> watcherSetting(std::string_view bytes) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  std::optional<std::string> setting;
  try {
    auto doc = nlohmann::json::parse(bytes, nullptr, false);
    if (!doc.is_object() || !doc.contains(kRootMember) || !doc.at(kRootMember).is_array()) return std::nullopt;
    for (const auto& element : doc.at(kRootMember)) {
      if (!element.is_object() || !element.contains(kMember)) continue;
      const auto& value = element.at(kMember);
      setting = value.is_string() ? value.get<std::string>() : value.dump();
    }
  } catch (const nlohmann::json::exception&) {
    return std::nullopt;
  }
  return setting;
}

WatcherAddress watcherAddress(const std::optional<std::string>& setting, const char* runtimeDir) {
  WatcherAddress address;
  if (!setting) return address;
  if (*setting == "unix") {
    if (runtimeDir == nullptr || runtimeDir[0] != '/')
      throw std::invalid_argument("\"Watcher\":\"unix\" needs XDG_RUNTIME_DIR (the user's runtime folder); "
                                  "set it, or give the watcher a port (\"Watcher\":\"11112\")");
    address.socketPath = std::string(runtimeDir) + "/kqfilesync/zrservice.sock";
    return address;
  }
  const bool digits = !setting->empty() && setting->size() <= 5 &&
                      setting->find_first_not_of("0123456789") == std::string::npos;
  const int port = digits ? std::stoi(*setting) : 0;
  if (port < 1 || port > 65535)
    throw std::invalid_argument("\"Watcher\":\"" + *setting + "\" is neither \"unix\" nor a port from 1 to 65535");
  address.port = port;
  return address;
}

std::string withWatcherSetting(const std::string& configJson, const std::string& setting) {
  const std::string end = "}]}";
  auto at = configJson.rfind(end);
  if (at == std::string::npos) return configJson;
  return configJson.substr(0, at) + ",\"" + kMember + "\":" + nlohmann::json(setting).dump() + configJson.substr(at);
}

}  // namespace kq
