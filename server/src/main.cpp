// kqsyncd: the reference sync server. Commands: account add/list/remove, serve, versions list/restore.
#include <csignal>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "accounts.h"
#include "store.h"
#include "sync_server.h"
#include "versions.h"

namespace {

constexpr const char* kUsage =
    "Usage: kqsyncd [--data DIR] COMMAND [OPTIONS]\n"
    "\n"
    "The reference sync server of Korvalinq Drive: it keeps one store folder per\n"
    "contract and drives the clients that connect to it.\n"
    "\n"
    "Commands:\n"
    "  account add --contract N --key KEY [--store DIR]\n"
    "                      add an account (store default: DATA/stores/N)\n"
    "  account list        list the accounts (keys are not shown)\n"
    "  account remove --contract N\n"
    "                      remove an account (its store folder is kept)\n"
    "  serve [--listen HOST:PORT] [--host HOST] [--cycle SECONDS] [--timeout SECONDS]\n"
    "        [--keep-versions DAYS]\n"
    "                      serve every account: on port \"2\" + contract (e.g. 21234)\n"
    "                      at HOST (default 0.0.0.0), or all on one HOST:PORT;\n"
    "                      previous versions of store files are kept DAYS (30)\n"
    "  versions list --contract N [PATH]\n"
    "                      list the kept versions (of PATH and below it):\n"
    "                      TIME, SIZE, SHA-256 and PATH, tab-separated\n"
    "  versions restore --contract N PATH [--at TIME]\n"
    "                      put the newest version of PATH at or before TIME\n"
    "                      (2026-12-10T14:03:05Z, UTC; default: the newest) back\n"
    "                      into the store; the file there is kept as a version\n"
    "\n"
    "Options:\n"
    "  --data DIR          data folder with accounts.json, the indexes and the\n"
    "                      clients' logs (default: $HOME/.local/share/kqsyncd)\n"
    "  --help              show this text\n"
    "\n"
    "One thread serves each connected client; SIGTERM or SIGINT stops the server\n"
    "cleanly. Store folders can be inspected and edited: changes are picked up.\n";

kqs::SyncServer* gServer = nullptr;

void onSignal(int) {
  if (gServer != nullptr) gServer->stop();
}

struct Args {
  std::string dataDir;
  std::vector<std::string> words;
  std::map<std::string, std::string> options;
  bool help = false;
};

Args parseArgs(int argc, char** argv) {
  Args args;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      args.help = true;
    } else if (a.rfind("--", 0) == 0) {
      if (i + 1 >= argc) throw std::runtime_error("option " + a + " needs a value");
      args.options[a.substr(2)] = argv[++i];
    } else {
      args.words.push_back(a);
    }
  }
  if (args.options.count("data")) {
    args.dataDir = args.options["data"];
    args.options.erase("data");
  } else {
    const char* home = std::getenv("HOME");
    args.dataDir = std::string(home ? home : ".") + "/.local/share/kqsyncd";
  }
  return args;
}

void requireOnly(const Args& args, std::initializer_list<const char*> allowed) {
  for (auto& [name, value] : args.options) {
    bool ok = false;
    for (auto* a : allowed) ok = ok || name == a;
    if (!ok) throw std::runtime_error("unknown option --" + name);
  }
}

int accountCommand(Args& args) {
  kqs::AccountBook book(args.dataDir);
  book.load();
  std::string verb = args.words.size() > 1 ? args.words[1] : "";
  if (verb == "add") {
    requireOnly(args, {"contract", "key", "store"});
    if (!args.options.count("contract") || !args.options.count("key")) {
      throw std::runtime_error("account add needs --contract and --key");
    }
    book.add({args.options["contract"], args.options["key"], args.options["store"]});
    auto* a = book.find(args.options["contract"]);
    kqs::writeStoreMarker(a->store);
    book.save();
    std::printf("added contract %s, store %s, port %d\n", a->contract.c_str(), a->store.c_str(),
                *kqs::portFor(a->contract));
  } else if (verb == "list") {
    requireOnly(args, {});
    for (auto& a : book.accounts()) {
      std::printf("%s\tport %d\t%s\n", a.contract.c_str(), *kqs::portFor(a.contract), a.store.c_str());
    }
  } else if (verb == "remove") {
    requireOnly(args, {"contract"});
    if (!book.remove(args.options["contract"])) {
      throw std::runtime_error("no account with contract " + args.options["contract"]);
    }
    book.save();
    std::printf("removed contract %s (its store folder is kept)\n", args.options["contract"].c_str());
  } else {
    throw std::runtime_error("account needs add, list or remove");
  }
  return 0;
}

int keepDays(const std::string& text) {
  std::size_t used = 0;
  int days = 0;
  try {
    days = std::stoi(text, &used);
  } catch (...) {
    used = 0;
  }
  if (used != text.size() || days < 1 || days > 36500) {
    throw std::runtime_error("--keep-versions needs a number of days from 1 to 36500");
  }
  return days;
}

// storePathOf writes a path given on the command line as a store path: "/a/b.txt".
std::string storePathOf(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (path.empty() || path.front() != '/') path.insert(0, "/");
  if (path == "/") return "";
  return path;
}

int versionsCommand(Args& args) {
  std::string verb = args.words.size() > 1 ? args.words[1] : "";
  if (verb != "list" && verb != "restore") throw std::runtime_error("versions needs list or restore");
  requireOnly(args, verb == "list" ? std::initializer_list<const char*>{"contract"}
                                   : std::initializer_list<const char*>{"contract", "at"});
  if (!args.options.count("contract")) throw std::runtime_error("versions " + verb + " needs --contract");
  if (args.words.size() > 3) throw std::runtime_error("versions " + verb + " takes one PATH");
  kqs::AccountBook book(args.dataDir);
  book.load();
  auto* account = book.find(args.options["contract"]);
  if (account == nullptr) throw std::runtime_error("no account with contract " + args.options["contract"]);
  std::string path = args.words.size() > 2 ? storePathOf(args.words[2]) : "";
  kqs::Versions versions(book.versionsPath(account->contract));
  if (verb == "list") {
    for (auto& v : versions.list(path)) std::printf("%s\n", kqs::versionLine(v).c_str());
    return 0;
  }
  if (path.empty()) throw std::runtime_error("versions restore needs the PATH of a file");
  auto now = static_cast<std::int64_t>(::time(nullptr));
  std::int64_t at = now;
  if (args.options.count("at")) {
    auto parsed = kqs::parseUtc(args.options["at"]);
    if (!parsed) throw std::runtime_error("--at needs a UTC time like 2026-12-10T14:03:05Z");
    at = *parsed;
  }
  auto result = kqs::restoreVersion(versions, account->store, path, at, now);
  if (result.unchanged) {
    std::printf("%s already holds the version of %s\n", path.c_str(), kqs::formatUtc(result.version.at).c_str());
  } else {
    std::printf("restored %s: the version of %s (%lld bytes)\n", path.c_str(),
                kqs::formatUtc(result.version.at).c_str(), static_cast<long long>(result.version.size));
  }
  return 0;
}

int serveCommand(Args& args) {
  requireOnly(args, {"listen", "host", "cycle", "timeout", "keep-versions"});
  kqs::AccountBook book(args.dataDir);
  book.load();
  kqs::ServerOptions options;
  options.listen = args.options.count("listen") ? args.options["listen"] : "";
  if (args.options.count("host")) options.host = args.options["host"];
  if (args.options.count("cycle")) options.session.cycleMs = static_cast<int>(std::stod(args.options["cycle"]) * 1000);
  if (args.options.count("timeout")) options.timeoutMs = static_cast<int>(std::stod(args.options["timeout"]) * 1000);
  if (options.session.cycleMs < 200 || options.timeoutMs < 1000) throw std::runtime_error("cycle or timeout too short");
  if (args.options.count("keep-versions")) options.keepVersionsDays = keepDays(args.options["keep-versions"]);
  kqs::ServerLog log;
  kqs::SyncServer server(book, options, log);
  server.start();
  gServer = &server;
  struct sigaction action{};
  action.sa_handler = onSignal;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  server.run();
  gServer = nullptr;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    Args args = parseArgs(argc, argv);
    if (args.help || args.words.empty()) {
      std::fputs(kUsage, args.help ? stdout : stderr);
      return args.help ? 0 : 2;
    }
    if (args.words[0] == "account") return accountCommand(args);
    if (args.words[0] == "serve") return serveCommand(args);
    if (args.words[0] == "versions") return versionsCommand(args);
    throw std::runtime_error("unknown command " + args.words[0]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kqsyncd: %s\n", e.what());
    return 1;
  }
}
