#include "ui/headless/install_command.h"

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "config/client_config.h"
#include "config/installer_fields.h"
#include "platform/codepage.h"
#include "platform/posix/file_system_posix.h"
#include "platform/posix/local_path.h"

namespace kq {

namespace {

struct TypedValues {
  std::optional<std::string> host, contract, key, folder;  // UTF-8, as typed
};

std::string homeFolder() {
  const char* home = std::getenv("HOME");
  return home ? home : "";
}

// readLine reads one line without its line end; empty at the end of the input.
std::string readLine(std::FILE* in) {
  std::string line;
  for (int c = std::fgetc(in); c != EOF && c != '\n'; c = std::fgetc(in)) line.push_back(static_cast<char>(c));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::string ask(const InstallStreams& io, const char* prompt) {
  std::fputs(prompt, io.out);
  std::fflush(io.out);
  return readLine(io.in);
}

// askAll asks for the four values; an empty folder answer takes the proposed one.
TypedValues askAll(const InstallStreams& io) {
  TypedValues v;
  v.host = ask(io, "Server host: ");
  v.contract = ask(io, "Contract number (4 digits): ");
  v.key = ask(io, "API key (24 digits): ");
  std::string proposed = homeFolder().empty() ? "" : homeFolder() + "/Korvalinq Drive";
  std::string prompt = "Sync folder [" + proposed + "]: ";
  std::string folder = ask(io, prompt.c_str());
  v.folder = folder.empty() ? proposed : folder;
  return v;
}

// parseOptions reads --name VALUE and --name=VALUE; false for anything else.
bool parseOptions(const std::vector<std::string>& args, TypedValues& v) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i], value;
    auto eq = name.find('=');
    if (eq != std::string::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      return false;
    }
    if (name == "--host") v.host = value;
    else if (name == "--contract") v.contract = value;
    else if (name == "--key") v.key = value;
    else if (name == "--folder") v.folder = value;
    else return false;
  }
  return true;
}

int fail(const InstallStreams& io, const std::string& message) {
  std::fprintf(io.err, "%s\n", message.c_str());
  return 1;
}

}  // namespace

std::string typedFolderToNative(const std::string& typed) {
  std::string path = typed;
  if (path == "~" || path.rfind("~/", 0) == 0) path = homeFolder() + path.substr(1);
  std::string native = std::filesystem::absolute(path).lexically_normal().string();
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  return native;
}

int runInstall(const std::vector<std::string>& args, const std::string& exeNativePath,
               InstallStreams io) {
  TypedValues typed;
  if (args.empty()) {
    typed = askAll(io);
  } else if (!parseOptions(args, typed)) {
    std::fprintf(io.err,
                 "usage: kqfilesync install --host HOST --contract NUMBER --key KEY --folder PATH\n");
    return 2;
  }
  InstallerInput input;
  input.host = utf8ToLocal(typed.host.value_or(""));
  input.contract = utf8ToLocal(typed.contract.value_or(""));
  input.apiKey = utf8ToLocal(typed.key.value_or(""));
  std::string folderNative;
  if (!typed.folder.value_or("").empty()) {
    folderNative = typedFolderToNative(*typed.folder);
    input.syncFolder = nativeToLocalPath(folderNative);
  }
  if (auto problem = installerInputProblem(input)) return fail(io, *problem);
  // The configuration is read back as 7-bit text: a folder name beyond ASCII
  // would name another folder then.
  for (unsigned char c : input.syncFolder)
    if (c >= 0x80) return fail(io, "Korvalinq Drive destination path must be plain ASCII: " + folderNative);

  PosixFileSystem fs;
  if (!fs.createFolders(input.syncFolder)) return fail(io, "Error in Filesync installation!");
  ClientConfig record = makeClientConfig(nativeToLocalPath(exeNativePath));
  try {
    saveConfig(record, installerFields(input), fs);
  } catch (const ConfigError& e) {
    return fail(io, std::string("Error in Filesync installation! ") + e.what());
  }
  std::fprintf(io.out, "That was it! Korvalinq Drive is now installed.\nSync folder: %s\n",
               folderNative.c_str());
  return 0;
}

}  // namespace kq
