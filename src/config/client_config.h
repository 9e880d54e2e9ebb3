#pragma once
// ClientConfig, the configuration record, and the six configuration fields
// (the configuration window's Edit1..Edit6) that are the live store of the
// settings. readConfig/saveConfig read and write "filesync.cfg".
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/file_system.h"

namespace kq {

// ConfigFields are the six read-only fields of the configuration window.
struct ConfigFields {
  std::string host;        // Edit1 "Host"
  std::string port;        // Edit2 "Port"
  std::string protocol;    // Edit3 "Protocol Version Number"
  std::string contract;    // Edit4 "Contract number"
  std::string apiKey;      // Edit5 "The API key associated with the contract number"
  std::string syncFolder;  // Edit6 "Filsync folder" (backslashes collapsed)
};

struct ClientConfig {
  std::string syncFolderRaw;                    // "KQDir" as read, escaped form
  bool syncFolderCollapsed = false;             // syncFolderPath has collapsed syncFolderRaw
  std::string exeName;                          // full path of the running executable
  std::string exeFolder;                        // folder of exeName, ending in a backslash
  std::string configFolder;                     // where "filesync.cfg" lives
  std::string configFileName = "filesync.cfg";
  std::string host;
  std::string port;
};

struct ConfigError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// makeClientConfig builds a record for the executable at exeName (local path text).
ClientConfig makeClientConfig(const std::string& exeName);

// readConfig reads folder + "\filesync.cfg" into record and fields; throws ConfigError
// when the file cannot be read or is not of the expected shape. Members read
// before a failure keep their new values.
void readConfig(ClientConfig& record, const std::string& folder, ConfigFields& fields,
                FileSystem& fs);

// saveConfig writes fields to record.configFolder + "/filesync.cfg"; throws ConfigError.
void saveConfig(const ClientConfig& record, const ConfigFields& fields, FileSystem& fs);

// syncFolderPath collapses doubled backslashes in record.syncFolderRaw, stores and
// returns it. It collapses once per read: later calls return the stored result, so a
// UNC folder ("\\\\nas\\share" in the file) keeps its leading pair.
std::string syncFolderPath(ClientConfig& record);

// collapseBackslashes replaces every doubled backslash by one, left to right.
std::string collapseBackslashes(const std::string& text);

// nativeSyncFolder is the "KQDir" value of a configuration file's bytes, its
// escapes decoded, when it is a native POSIX path (it begins with "/"): the
// form a Linux user writes. The file is read as UTF-8 (with or without a
// byte-order mark), else as ANSI text in the code page; nullopt for a Windows path, or a text that is not such JSON.
std::optional<std::string> nativeSyncFolder(std::string_view fileBytes);

// configText is the JSON text of fields as saveConfig writes it (8-bit ANSI text).
std::string configText(const ConfigFields& fields);

}  // namespace kq
