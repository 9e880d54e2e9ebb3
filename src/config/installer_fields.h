#pragma once
// The installer's configuration: the six configuration fields it writes for
// the values the user entered, and the checks it makes on them first.
#include <cstddef>
#include <optional>
#include <string>

#include "config/client_config.h"

namespace kq {

// InstallerInput is what the user entered, as 8-bit ANSI text.
struct InstallerInput {
  std::string host;
  std::string contract;
  std::string apiKey;
  std::string syncFolder;  // local path text
};

constexpr const char* kInstallerProtocol = "00003";

// installerFields fills the configuration fields: the port is "2" followed by
// the contract number, the protocol version "00003".
ConfigFields installerFields(const InstallerInput& input);

// installerInputProblem is the message for the first value the installer
// refuses, in this order: a host shorter than 3 characters ("Host name
// expected!"), an empty contract number, an empty API key, an empty sync folder
// ("Korvalinq Drive destination path expected!"); nullopt when all are there.
// The folder is checked before anything is created, so no folder is made for
// input that is refused.
std::optional<std::string> installerInputProblem(const InstallerInput& input);

// kApiKeyLength is the length of the API keys the server issues: letters and digits.
inline constexpr std::size_t kApiKeyLength = 24;

// apiKeyWarning is the question the installer asks before it goes on with a key
// that is not kApiKeyLength printable characters (blanks and control
// characters are not printable); nullopt for a key of that form.
std::optional<std::string> apiKeyWarning(const std::string& apiKey);

}  // namespace kq
