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

}  // namespace kq
