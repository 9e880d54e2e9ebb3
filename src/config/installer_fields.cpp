#include "config/installer_fields.h"

namespace kq {

ConfigFields installerFields(const InstallerInput& input) {
  ConfigFields fields;
  fields.host = input.host;
  fields.port = "2" + input.contract;
  fields.protocol = kInstallerProtocol;
  fields.contract = input.contract;
  fields.apiKey = input.apiKey;
  fields.syncFolder = input.syncFolder;
  return fields;
}

std::optional<std::string> installerInputProblem(const InstallerInput& input) {
  if (input.host.size() < 3) return "Host name expected!";
  if (input.contract.empty()) return "Contract name expected!";
  if (input.apiKey.empty()) return "API key expected!";
  if (input.syncFolder.empty()) return "Korvalinq Drive destination path expected!";
  return std::nullopt;
}

std::optional<std::string> apiKeyWarning(const std::string& apiKey) {
  std::size_t unprintable = 0;
  for (unsigned char c : apiKey)
    if (c <= 0x20 || c >= 0x7F) ++unprintable;
  if (apiKey.size() == kApiKeyLength && unprintable == 0) return std::nullopt;
  std::string text = "The API key has " + std::to_string(apiKey.size()) + " characters";
  if (unprintable > 0) text += ", " + std::to_string(unprintable) + " of them blanks or other characters that are not printable";
  return text + "; the keys of Korvalinq Drive are " + std::to_string(kApiKeyLength) +
         " letters and digits. The server refuses a connection with a wrong key.\n\nGo on with this key?";
}

}  // namespace kq
