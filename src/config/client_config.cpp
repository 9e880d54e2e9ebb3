#include "config/client_config.h"

#include <nlohmann/json.hpp>

#include "config/config_text.h"
#include "platform/codepage.h"

namespace kq {

namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kRootMember = "KQFilsyncConfig";

// memberText is a member value's JSON text without its first and last character,
// escapes kept. A value that is not a string (a number such as 8080) keeps its
// whole text: cutting it would turn 8080 into 08.
std::string memberText(const Json& value) {
  std::string text = value.dump(-1, ' ', true);
  if (!value.is_string()) return text;
  return text.substr(1, text.size() - 2);
}

// applyMember stores one member of a configuration object into fields and record.
void applyMember(const std::string& key, const std::string& value, ClientConfig& record,
                 ConfigFields& fields) {
  if (key == "Host") {
    record.host = value;
    fields.host = value;
  } else if (key == "port") {
    record.port = value;
    fields.port = value;
  } else if (key == "protocol") {
    fields.protocol = value;
  } else if (key == "contract") {
    fields.contract = value;
  } else if (key == "API-key") {
    fields.apiKey = value;
  } else if (key == "KQDir") {
    fields.syncFolder = collapseBackslashes(value);
    record.syncFolderRaw = value;
    record.syncFolderCollapsed = false;
  }
}

Json parseConfig(const std::string& path, const std::string& ascii) {
  try {
    return Json::parse(ascii);
  } catch (const Json::exception& e) {
    throw ConfigError("Invalid configuration file \"" + path + "\": " + e.what());
  }
}

}  // namespace

ClientConfig makeClientConfig(const std::string& exeName) {
  ClientConfig record;
  record.exeName = exeName;
  auto cut = exeName.find_last_of("\\/:");
  record.exeFolder = cut == std::string::npos ? std::string() : exeName.substr(0, cut + 1);
  if (!record.exeFolder.empty() && record.exeFolder.back() == '/') record.exeFolder.back() = '\\';
  record.configFolder = record.exeFolder;
  return record;
}

void readConfig(ClientConfig& record, const std::string& folder, ConfigFields& fields,
                FileSystem& fs) {
  std::string path = folder + "\\" + record.configFileName;
  auto bytes = fs.readText(path);
  if (!bytes) throw ConfigError("Cannot open file \"" + path + "\"");
  Json doc = parseConfig(path, configTextToAscii(*bytes));
  if (!doc.is_object() || !doc.contains(kRootMember) || !doc.at(kRootMember).is_array())
    throw ConfigError("\"" + path + "\" has no " + kRootMember + " array");
  for (const auto& element : doc.at(kRootMember)) {
    if (!element.is_object())
      throw ConfigError("\"" + path + "\": an element of " + kRootMember + " is not an object");
    for (const auto& [key, value] : element.items()) applyMember(key, memberText(value), record, fields);
  }
}

std::optional<std::string> nativeSyncFolder(std::string_view bytes) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  std::optional<std::string> folder;
  try {
    // A file written as ANSI text (as saveConfig writes) is read in the code page.
    Json doc = Json::accept(bytes) ? Json::parse(bytes) : Json::parse(localToUtf8(bytes));
    for (const auto& element : doc.at(kRootMember))
      if (element.contains("KQDir") && element.at("KQDir").is_string()) folder = element.at("KQDir").get<std::string>();
  } catch (const Json::exception&) {
    return std::nullopt;
  }
  if (!folder || folder->empty() || folder->front() != '/') return std::nullopt;
  return folder;
}

std::string configText(const ConfigFields& fields) {
  Json entry = Json::object();
  entry["Host"] = localToUtf8(fields.host);
  entry["port"] = localToUtf8(fields.port);
  entry["protocol"] = localToUtf8(fields.protocol);
  entry["contract"] = localToUtf8(fields.contract);
  entry["API-key"] = localToUtf8(fields.apiKey);
  entry["KQDir"] = localToUtf8(fields.syncFolder);
  entry["Reconnect"] = std::to_string(1);
  Json doc = Json::object();
  doc[kRootMember] = Json::array({entry});
  // The file is ANSI text: characters beyond ASCII are written as their code-page bytes.
  return utf8ToLocal(doc.dump());
}

void saveConfig(const ClientConfig& record, const ConfigFields& fields, FileSystem& fs) {
  std::string path = record.configFolder + "/" + record.configFileName;
  if (!fs.writeText(path, configText(fields)))
    throw ConfigError("Cannot create file \"" + path + "\"");
}

std::string collapseBackslashes(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    out.push_back(text[i]);
    if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '\\') ++i;
  }
  return out;
}

std::string syncFolderPath(ClientConfig& record) {
  if (!record.syncFolderCollapsed) {
    record.syncFolderRaw = collapseBackslashes(record.syncFolderRaw);
    record.syncFolderCollapsed = true;
  }
  return record.syncFolderRaw;
}

}  // namespace kq
