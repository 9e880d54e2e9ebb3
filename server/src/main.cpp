// kqsyncd: the reference sync server. Commands: account add/list/remove, serve.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "accounts.h"
#include "platform/codepage.h"
#include "sync_server.h"
#include "wire_text.h"

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
    "        [--names codepage|unicode] [--codepage N]\n"
    "                      serve every account: on port \"2\" + contract (e.g. 21234)\n"
    "                      at HOST (default 0.0.0.0), or all on one HOST:PORT;\n"
    "                      --names unicode: the clients run with UnicodeNames=1 and\n"
    "                      get names outside their code page too (default codepage);\n"
    "                      --codepage N: the clients' Windows code page (default 1252)\n"
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
    book.save();
    auto* a = book.find(args.options["contract"]);
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

int serveCommand(Args& args) {
  requireOnly(args, {"listen", "host", "cycle", "timeout", "names", "codepage"});
  if (args.options.count("codepage")) {
    auto page = kq::makeCodePage(static_cast<unsigned>(std::stoul(args.options["codepage"])));
    if (!page) throw std::runtime_error("unknown code page " + args.options["codepage"]);
    kqs::setClientCodePage(std::move(page));
  }
  if (args.options.count("names")) {
    const std::string& names = args.options["names"];
    if (names != "unicode" && names != "codepage") throw std::runtime_error("--names is unicode or codepage");
    kqs::setUnicodeNames(names == "unicode");
  }
  kqs::AccountBook book(args.dataDir);
  book.load();
  kqs::ServerOptions options;
  options.listen = args.options.count("listen") ? args.options["listen"] : "";
  if (args.options.count("host")) options.host = args.options["host"];
  if (args.options.count("cycle")) options.session.cycleMs = static_cast<int>(std::stod(args.options["cycle"]) * 1000);
  if (args.options.count("timeout")) options.timeoutMs = static_cast<int>(std::stod(args.options["timeout"]) * 1000);
  if (options.session.cycleMs < 200 || options.timeoutMs < 1000) throw std::runtime_error("cycle or timeout too short");
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
    throw std::runtime_error("unknown command " + args.words[0]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kqsyncd: %s\n", e.what());
    return 1;
  }
}
