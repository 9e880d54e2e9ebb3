// kqsyncd: the reference sync server. Commands: account add/list/remove, serve, versions list/restore,
// check, index rebuild, deletions, migrate.
#include <sys/stat.h>

#include <csignal>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "accounts.h"
#include "cli/arg_parser.h"
#include "data_lock.h"
#include "held_deletions.h"
#include "index_check.h"
#include "pg_admin.h"
#include "pg_connection.h"
#include "pg_feed.h"
#include "platform/codepage.h"
#include "server_clock.h"
#include "store.h"
#include "sync_server.h"
#include "versions.h"
#include "wire_text.h"

namespace {

constexpr const char* kUsage =
    "Usage: kqsyncd [--data DIR] [--db URL] COMMAND [OPTIONS]\n"
    "\n"
    "The reference sync server of Korvalinq Drive: it keeps one store folder per\n"
    "contract and drives the clients that connect to it.\n"
    "\n"
    "Commands:\n"
    "  account add --contract N --key KEY [--store DIR] [--allow-short-contract]\n"
    "                      add an account (store default: DATA/stores/N; with\n"
    "                      --db the store is needed: a folder every node mounts\n"
    "                      at the same path); N has 4 digits unless\n"
    "                      --allow-short-contract; the key is kept as a salted hash\n"
    "  account list        list the accounts (keys are not shown)\n"
    "  account remove --contract N\n"
    "                      remove an account (its store folder is kept)\n"
    "  serve [--listen HOST:PORT] [--host HOST] [--cycle SECONDS] [--timeout SECONDS]\n"
    "        [--keep-versions DAYS] [--init-timeout SECONDS] [--max-waiting N]\n"
    "        [--max-connections N] [--max-listing MIB] [--max-log MIB]\n"
    "        [--names codepage|unicode] [--codepage N]\n"
    "                      serve every account: on port \"2\" + contract (e.g. 21234)\n"
    "                      at HOST (default 0.0.0.0), or all on one HOST:PORT;\n"
    "                      previous versions of store files are kept DAYS (30);\n"
    "                      limits: init text within 10 s, 64 connections waiting\n"
    "                      for it, 512 in all, listings and client logs of 64 MiB;\n"
    "                      --codepage N: the clients' Windows code page (default 1252);\n"
    "                      --names unicode: the clients run with UnicodeNames=1 and\n"
    "                      get names outside their code page too (default codepage)\n"
    "  versions list --contract N [PATH] [--deleted]\n"
    "                      list the kept versions (of PATH and below it):\n"
    "                      TIME, SIZE, SHA-256 and PATH, tab-separated;\n"
    "                      --deleted: the newest of each file the store no\n"
    "                      longer holds\n"
    "  versions restore --contract N PATH [--at TIME]\n"
    "                      put the newest version of PATH at or before TIME\n"
    "                      (2026-12-10T14:03:05Z, UTC; default: the newest) back\n"
    "                      into the store; the file there is kept as a version\n"
    "  versions restore --contract N FOLDER/ [--at TIME]\n"
    "                      put the folder's files back as they stood at TIME\n"
    "                      (those deleted or changed since; files made since\n"
    "                      stay); without --at every deleted file below it\n"
    "  deletions list|confirm|reject --contract N\n"
    "                      the deletions held back because too many entries went\n"
    "                      from a client's listing at once: list them; confirm\n"
    "                      (deleted in the store at the client's next listing,\n"
    "                      kept as versions); or reject (the files go back to\n"
    "                      the client)\n"
    "  check               check every contract's index; one line per contract,\n"
    "                      \"ok\" or \"damaged\" with the file; exits 1 when one is damaged.\n"
    "                      With --db: one line, exit 0 when the database answers,\n"
    "                      its schema is current and every store folder is\n"
    "                      reachable; exit 1 with the reason otherwise\n"
    "  index rebuild --contract N\n"
    "                      make the contract's index anew from its store folder\n"
    "                      (the old file is kept beside it); a running server\n"
    "                      serves the contract again at its next connection.\n"
    "                      A sound index is rebuilt only while no server runs\n"
    "                      (with --db at any time: the contract's lock is held)\n"
    "  migrate --from-data DIR --db URL\n"
    "                      move the accounts, indexes and versions of the data\n"
    "                      folder DIR into an empty PostgreSQL database (the\n"
    "                      versions' files go beside each store, STORE.kqsyncd)\n"
    "\n"
    "Options:\n"
    "  --data DIR          data folder with accounts.json, the indexes and the\n"
    "                      clients' logs (default: $HOME/.local/share/kqsyncd);\n"
    "                      with --db only the node's lock file and clients' logs\n"
    "  --db URL            keep accounts, indexes and versions' lists in the\n"
    "                      PostgreSQL database at URL (postgresql://...), shared\n"
    "                      by every node of a cluster (default: $KQSYNCD_DB)\n"
    "  --help              show this text\n"
    "  --version           show the version and build\n"
    "\n"
    "One thread serves each connected client; SIGTERM or SIGINT stops the server\n"
    "cleanly. Store folders can be inspected and edited: changes are picked up.\n"
    "One server at a time uses a data folder (its lock file is kqsyncd.lock).\n"
    "With --db any number of nodes serve the same contracts; the contract's lock\n"
    "is held in the database for each store step.\n";

kqs::SyncServer* gServer = nullptr;

void onSignal(int) {
  if (gServer != nullptr) gServer->stop();
}

using kq::cli::UsageError;

struct Args {
  std::string dataDir;
  std::vector<std::string> words;
  std::map<std::string, std::string> options;
  bool help = false;
  bool version = false;
  bool allowShortContract = false;
  bool deleted = false;  // versions list --deleted
  bool dataGiven = false;  // --data was on the command line
  std::string dbUrl;       // --db or $KQSYNCD_DB: the PostgreSQL back end
};

// parseArgs reads the flags --help (-h) and --version and "--name VALUE"
// options; which names a command takes is checked by the command.
Args parseArgs(int argc, char** argv) {
  kq::cli::ParsedArgs parsed = kq::cli::parseArgs(
      std::vector<std::string>(argv + 1, argv + argc),
      {{"help", false, 'h'}, {"version", false}, {"allow-short-contract", false}, {"deleted", false}}, true);
  Args args;
  args.help = parsed.flags.count("help") > 0;
  args.version = parsed.flags.count("version") > 0;
  args.allowShortContract = parsed.flags.count("allow-short-contract") > 0;
  args.deleted = parsed.flags.count("deleted") > 0;
  args.words = parsed.words;
  args.options = parsed.values;
  if (args.options.count("data")) {
    args.dataDir = args.options["data"];
    args.dataGiven = true;
    args.options.erase("data");
  } else {
    const char* home = std::getenv("HOME");
    args.dataDir = std::string(home ? home : ".") + "/.local/share/kqsyncd";
  }
  if (args.options.count("db")) {
    args.dbUrl = args.options["db"];
    args.options.erase("db");
  } else if (const char* db = std::getenv("KQSYNCD_DB"); db != nullptr && *db != '\0') {
    args.dbUrl = db;
  }
  if (!args.dbUrl.empty() && !kqs::isDatabaseUrl(args.dbUrl)) {
    throw UsageError("--db needs a PostgreSQL URL (postgresql://...): " + args.dbUrl);
  }
  return args;
}

void requireOnly(const Args& args, std::initializer_list<const char*> allowed) {
  for (auto& [name, value] : args.options) {
    bool ok = false;
    for (auto* a : allowed) ok = ok || name == a;
    if (!ok) throw UsageError("unknown option --" + name);
  }
}

// requireWords throws UsageError for words after the first count ones.
void requireWords(const Args& args, std::size_t count) {
  if (args.words.size() > count) throw UsageError("unexpected argument: " + args.words[count]);
}

// secondsOption reads an option in seconds as milliseconds.
int secondsOption(Args& args, const char* name, double min, double max, int fallbackMs) {
  if (!args.options.count(name)) return fallbackMs;
  return static_cast<int>(kq::cli::parseNumber(name, args.options[name], min, max) * 1000);
}

// hashedKeysNote is the line that says keys kept in clear were hashed.
std::string hashedKeysNote(std::size_t hashed, const std::string& dataDir) {
  return std::to_string(hashed) + " API key(s) kept in clear in " + dataDir +
         "/accounts.json are now kept as salted hashes";
}

// loadBook reads the accounts; keys found in clear are written back hashed at once.
std::size_t loadBook(kqs::AccountBook& book) {
  std::size_t hashed = book.load();
  if (hashed > 0) book.save();
  return hashed;
}

int accountCommand(Args& args) {
  kqs::AccountBook book(args.dataDir, args.dbUrl);
  if (auto hashed = loadBook(book)) std::fprintf(stderr, "kqsyncd: %s\n", hashedKeysNote(hashed, args.dataDir).c_str());
  std::string verb = args.words.size() > 1 ? args.words[1] : "";
  requireWords(args, 2);
  if (verb == "add") {
    requireOnly(args, {"contract", "key", "store"});
    if (!args.options.count("contract") || !args.options.count("key")) {
      throw UsageError("account add needs --contract and --key");
    }
    if (book.inDatabase() && !args.options.count("store")) {
      throw UsageError("with --db, account add needs --store: the store folder every node mounts at the same path");
    }
    book.add({args.options["contract"], args.options["key"], args.options["store"], args.allowShortContract});
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
    throw UsageError("account needs add, list or remove");
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
  if (path.empty() || path.front() != '/') path = "/" + path;
  if (path == "/") return "";
  return path;
}

std::int64_t atOption(Args& args) {
  auto parsed = kqs::parseUtc(args.options["at"]);
  if (!parsed) throw std::runtime_error("--at needs a UTC time like 2026-12-10T14:03:05Z");
  return *parsed;
}

// restoreFolderCommand puts a folder's files back (see kqs::restoreFolder) and
// prints a line per file; exit status 1 when one could not be put back or none was kept.
int restoreFolderCommand(Args& args, kqs::Versions& versions, const std::string& store, const std::string& folder) {
  std::optional<std::int64_t> at;
  if (args.options.count("at")) at = atOption(args);
  auto result = kqs::restoreFolder(versions, store, folder, at, kqs::wallSecondsNow());
  std::size_t restored = 0;
  for (const auto& r : result.done) {
    if (r.unchanged) continue;
    ++restored;
    std::printf("restored %s: the version of %s (%lld bytes)\n", r.version.path.c_str(),
                kqs::formatUtc(r.version.at).c_str(), static_cast<long long>(r.version.size));
  }
  for (const auto& [path, why] : result.failed) std::fprintf(stderr, "kqsyncd: not restored %s: %s\n", path.c_str(), why.c_str());
  if (result.done.empty() && result.failed.empty()) {
    throw std::runtime_error(at ? "no file below " + folder + "/ changed or deleted since " + kqs::formatUtc(*at)
                                : "no file below " + folder + "/ is deleted (versions list --deleted shows them)");
  }
  std::printf("restored %zu file(s) below %s/, %zu already as they were\n", restored, folder.c_str(),
              result.done.size() - restored);
  return result.failed.empty() ? 0 : 1;
}

// dataFolderProblem: a data folder that is not there is made, but only in a
// folder that is: a mistyped --data must not grow a tree of its own.
std::optional<std::string> dataFolderProblem(const std::string& dataDir) {
  std::error_code ec;
  if (std::filesystem::exists(dataDir, ec)) return std::nullopt;
  auto parent = std::filesystem::absolute(dataDir, ec).lexically_normal().parent_path();
  if (parent.empty() || std::filesystem::is_directory(parent, ec)) return std::nullopt;
  return "the data folder " + dataDir + " cannot be made: " + parent.string() + " is not a folder";
}

int versionsCommand(Args& args) {
  std::string verb = args.words.size() > 1 ? args.words[1] : "";
  if (verb != "list" && verb != "restore") throw std::runtime_error("versions needs list or restore");
  requireOnly(args, verb == "list" ? std::initializer_list<const char*>{"contract"}
                                   : std::initializer_list<const char*>{"contract", "at"});
  if (args.deleted && verb != "list") throw UsageError("--deleted goes with versions list only");
  if (!args.options.count("contract")) throw std::runtime_error("versions " + verb + " needs --contract");
  if (args.words.size() > 3) throw std::runtime_error("versions " + verb + " takes one PATH");
  kqs::AccountBook book(args.dataDir, args.dbUrl);
  if (auto hashed = loadBook(book)) std::fprintf(stderr, "kqsyncd: %s\n", hashedKeysNote(hashed, args.dataDir).c_str());
  auto* account = book.find(args.options["contract"]);
  if (account == nullptr) throw std::runtime_error("no account with contract " + args.options["contract"]);
  const std::string typed = args.words.size() > 2 ? args.words[2] : "";
  std::string path = storePathOf(typed);
  auto kept = book.openVersions(account->contract, kqs::Versions::kDefaultKeepDays);
  kqs::Versions& versions = *kept;
  if (verb == "list") {
    auto listed = args.deleted ? kqs::deletedBelow(versions, account->store, path) : versions.list(path);
    for (auto& v : listed) std::printf("%s\n", kqs::versionLine(v).c_str());
    return 0;
  }
  if (path.empty() && typed != "/") throw std::runtime_error("versions restore needs the PATH of a file");
  // A folder: written with a trailing "/", or a path kept only below it.
  const bool folder = typed.back() == '/' || (!versions.latest(path, kqs::wallSecondsNow()) && !versions.list(path).empty());
  // The nodes of a cluster scan the store once told: a restore raises no event on another machine.
  struct Announce {
    const kqs::AccountBook& book;
    std::string contract;
    ~Announce() {
      if (book.inDatabase()) kqs::pgAnnounceChange(book.databaseUrl(), contract);
    }
  } announce{book, account->contract};
  if (folder) return restoreFolderCommand(args, versions, account->store, path);
  auto now = kqs::wallSecondsNow();
  std::int64_t at = args.options.count("at") ? atOption(args) : now;
  auto result = kqs::restoreVersion(versions, account->store, path, at, now);
  if (result.unchanged) {
    std::printf("%s already holds the version of %s\n", path.c_str(), kqs::formatUtc(result.version.at).c_str());
  } else {
    std::printf("restored %s: the version of %s (%lld bytes)\n", path.c_str(),
                kqs::formatUtc(result.version.at).c_str(), static_cast<long long>(result.version.size));
  }
  return 0;
}

// checkCommand looks at every contract's index; exit status 1 when any is damaged.
int checkCommand(Args& args) {
  requireOnly(args, {});
  requireWords(args, 1);
  if (!args.dbUrl.empty()) {
    auto health = kqs::checkDatabase(args.dbUrl);
    std::fprintf(health.ok ? stdout : stderr, health.ok ? "%s\n" : "kqsyncd: not ok: %s\n", health.line.c_str());
    return health.ok ? 0 : 1;
  }
  kqs::AccountBook book(args.dataDir, args.dbUrl);
  loadBook(book);
  int damaged = 0;
  for (auto& a : book.accounts()) {
    std::string path = book.indexPath(a.contract);
    kqs::IndexHealth health = kqs::checkIndex(path);
    if (health.sound) {
      std::printf("%s\tok\t%s\n", a.contract.c_str(), path.c_str());
    } else {
      std::printf("%s\tdamaged\t%s: %s\n", a.contract.c_str(), path.c_str(), health.problem.c_str());
      ++damaged;
    }
  }
  if (damaged == 0) return 0;
  std::fprintf(stderr, "kqsyncd: %d damaged index(es); rebuild each with: kqsyncd index rebuild --contract N\n",
               damaged);
  return 1;
}

// indexCommand rebuilds one contract's index from its store folder.
int indexCommand(Args& args) {
  std::string verb = args.words.size() > 1 ? args.words[1] : "";
  if (verb != "rebuild") throw UsageError("index needs rebuild");
  requireOnly(args, {"contract"});
  requireWords(args, 2);
  if (!args.options.count("contract")) throw UsageError("index rebuild needs --contract");
  kqs::AccountBook book(args.dataDir, args.dbUrl);
  loadBook(book);
  auto* account = book.find(args.options["contract"]);
  if (account == nullptr) throw std::runtime_error("no account with contract " + args.options["contract"]);
  if (book.inDatabase()) {
    auto result = kqs::rebuildInDatabase(book, *account, kqs::wallSecondsNow());
    std::printf("rebuilt the index of contract %s from %s: %zu entries\n", account->contract.c_str(),
                account->store.c_str(), result.entries);
    return 0;
  }
  std::string path = book.indexPath(account->contract);
  bool sound = kqs::checkIndex(path).sound;
  // Held while rebuilding when no server runs, so that none starts meanwhile.
  std::optional<kqs::DataLock> lock;
  try {
    lock.emplace(args.dataDir);
  } catch (const kqs::DataLockError&) {
    // A running server does not serve a contract whose index is damaged.
    if (sound) {
      throw std::runtime_error("the index of contract " + account->contract +
                               " is sound and a running kqsyncd may be serving it: stop kqsyncd to rebuild it");
    }
  }
  auto result = kqs::rebuildIndex(account->store, path, book.versionsPath(account->contract),
                                  kqs::wallSecondsNow());
  std::printf("rebuilt the index of contract %s from %s: %zu entries", account->contract.c_str(),
              account->store.c_str(), result.entries);
  if (!result.keptAs.empty()) std::printf("; the old index is kept as %s", result.keptAs.c_str());
  std::printf("\n");
  return 0;
}

// deletionsCommand shows the held deletions of a contract or leaves the
// administrator's decision for the server.
int deletionsCommand(Args& args) {
  std::string verb = args.words.size() > 1 ? args.words[1] : "";
  if (verb != "list" && verb != "confirm" && verb != "reject") {
    throw UsageError("deletions needs list, confirm or reject");
  }
  requireOnly(args, {"contract"});
  requireWords(args, 2);
  if (!args.options.count("contract")) throw UsageError("deletions " + verb + " needs --contract");
  kqs::AccountBook book(args.dataDir, args.dbUrl);
  loadBook(book);
  auto* account = book.find(args.options["contract"]);
  if (account == nullptr) throw std::runtime_error("no account with contract " + args.options["contract"]);
  kqs::HeldDeletions held(book.heldPath(account->contract));
  auto record = held.load();
  if (verb == "list") {
    for (auto& root : record.roots) std::printf("%s\n", root.c_str());
    return 0;
  }
  if (record.roots.empty()) {
    std::printf("contract %s holds no deletions\n", account->contract.c_str());
    return 0;
  }
  held.decide(verb == "confirm" ? kqs::HeldDecision::Confirm : kqs::HeldDecision::Reject);
  std::printf(verb == "confirm" ? "%zu held deletion(s) of contract %s confirmed: deleted in the store (kept as versions) at the client's next listing\n"
                                : "%zu held deletion(s) of contract %s rejected: the files go back to the client from its next listing\n",
              record.roots.size(), account->contract.c_str());
  return 0;
}

// migrateCommand moves a SQLite installation into the PostgreSQL database.
int migrateCommand(Args& args) {
  requireOnly(args, {"from-data"});
  requireWords(args, 1);
  if (!args.options.count("from-data")) throw UsageError("migrate needs --from-data DIR");
  if (args.dbUrl.empty()) throw UsageError("migrate needs --db URL");
  std::string from = args.options["from-data"];
  if (!std::filesystem::is_directory(from)) throw std::runtime_error("the data folder " + from + " is not a folder");
  kqs::DataLock lock(from);  // no server may change it meanwhile
  auto moved = kqs::migrateIntoDatabase(from, args.dbUrl);
  for (auto& m : moved) {
    std::printf("contract %s: %zu entries, %zu known copies, %zu folder moves, %zu versions%s\n", m.contract.c_str(),
                m.entries, m.known, m.moves, m.versions, m.held ? ", held deletions" : "");
  }
  std::printf("moved %zu account(s) with their indexes and versions from %s into the database; serve them with --db\n",
              moved.size(), from.c_str());
  return 0;
}

// countOption reads a whole-number option; mebibytesOption a size in MiB, as bytes.
std::size_t countOption(Args& args, const char* name, std::size_t fallback) {
  if (!args.options.count(name)) return fallback;
  return static_cast<std::size_t>(kq::cli::parseCount(name, args.options[name], 1, 1000000));
}

std::uint64_t mebibytesOption(Args& args, const char* name, std::uint64_t fallback) {
  if (!args.options.count(name)) return fallback;
  return static_cast<std::uint64_t>(kq::cli::parseCount(name, args.options[name], 1, 1 << 20)) << 20;
}

int serveCommand(Args& args) {
  requireOnly(args, {"listen", "host", "cycle", "timeout", "init-timeout", "max-waiting", "max-connections",
                     "max-listing", "max-log", "keep-versions", "names", "codepage"});
  requireWords(args, 1);
  {
    std::unique_ptr<kq::CodePage> page = kq::makeWindows1252();
    if (args.options.count("codepage")) {
      page = kq::makeCodePage(static_cast<unsigned>(kq::cli::parseCount("codepage", args.options["codepage"], 1, 65535)));
      if (!page) throw std::runtime_error("unknown code page " + args.options["codepage"]);
    }
    bool unicode = false;
    if (args.options.count("names")) {
      const std::string& names = args.options["names"];
      if (names != "unicode" && names != "codepage") throw kq::cli::UsageError("--names: unicode or codepage: " + names);
      unicode = names == "unicode";
    }
    kqs::setUnicodeNames(unicode);
    // The name rule checks names against the active code page: the clients' one.
    kq::setActiveCodePage(unicode ? kq::makeUnicodeNames(kq::makeCodePage(page->number()))
                                  : kq::makeCodePage(page->number()));
    kqs::setClientCodePage(std::move(page));
  }
  kqs::ServerOptions options;
  options.listen = args.options.count("listen") ? args.options["listen"] : "";
  if (args.options.count("host")) options.host = args.options["host"];
  options.session.cycleMs = secondsOption(args, "cycle", 0.2, 86400, options.session.cycleMs);
  options.timeoutMs = secondsOption(args, "timeout", 1, 86400, options.timeoutMs);
  options.initTimeoutMs = secondsOption(args, "init-timeout", 0.5, 3600, options.initTimeoutMs);
  options.maxWaiting = countOption(args, "max-waiting", options.maxWaiting);
  options.maxConnections = countOption(args, "max-connections", options.maxConnections);
  options.session.maxListingBytes = mebibytesOption(args, "max-listing", options.session.maxListingBytes);
  options.session.maxLogBytes = mebibytesOption(args, "max-log", options.session.maxLogBytes);
  if (args.options.count("keep-versions")) options.keepVersionsDays = keepDays(args.options["keep-versions"]);
  kqs::DataLock lock(args.dataDir);
  kqs::AccountBook book(args.dataDir, args.dbUrl);
  std::size_t hashed = loadBook(book);
  kqs::ServerLog log;
  if (hashed > 0) log.write("", hashedKeysNote(hashed, args.dataDir));
  if (!lock.tightenedNote().empty()) log.write("", lock.tightenedNote());
  for (const auto& a : book.accounts())
    if (auto note = kqs::tightenStoreFolder(a.store, a.contract, args.dataDir); !note.empty()) log.write("", note);
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
  // Everything kqsyncd creates (data folder, accounts, indexes, versions,
  // store files, logs) is its owner's alone, whatever the caller's umask.
  ::umask(077);
  try {
    Args args = parseArgs(argc, argv);
    if (args.help) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (args.version) {
      std::printf("%s\n", kq::cli::versionText("kqsyncd").c_str());
      return 0;
    }
    if (args.words.empty()) throw UsageError("a command is needed");
    if (auto problem = args.dataGiven ? dataFolderProblem(args.dataDir) : std::nullopt)
      throw std::runtime_error(*problem);
    if (args.allowShortContract && (args.words[0] != "account" || args.words.size() < 2 || args.words[1] != "add")) {
      throw UsageError("--allow-short-contract goes with account add only");
    }
    if (args.words[0] == "account") return accountCommand(args);
    if (args.words[0] == "serve") return serveCommand(args);
    if (args.words[0] == "versions") return versionsCommand(args);
    if (args.words[0] == "check") return checkCommand(args);
    if (args.words[0] == "deletions") return deletionsCommand(args);
    if (args.words[0] == "index") return indexCommand(args);
    if (args.words[0] == "migrate") return migrateCommand(args);
    throw UsageError("unknown command " + args.words[0]);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "kqsyncd: %s\n\n%s", e.what(), kUsage);
    return kq::cli::kExitUsage;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kqsyncd: %s\n", e.what());
    return 1;
  }
}
