#include "accounts.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "contract_lock.h"
#include "key_hash.h"
#include "pg_index.h"
#include "pg_lock.h"
#include "pg_schema.h"
#include "pg_versions.h"
#include "sqlite_index.h"
#include "versions.h"

namespace fs = std::filesystem;

namespace kqs {

namespace {

bool allDigits(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

bool printableKey(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (c <= ' ' || c > '~') return false;
  }
  return true;
}

}  // namespace

AccountBook::AccountBook(std::string dataDir, std::string databaseUrl)
    : dataDir_(std::move(dataDir)), databaseUrl_(std::move(databaseUrl)) {}

std::string AccountBook::defaultStore(const std::string& contract) const { return dataDir_ + "/stores/" + contract; }
std::string AccountBook::indexPath(const std::string& contract) const { return dataDir_ + "/index/" + contract + ".sqlite"; }
std::string AccountBook::clientLogPath(const std::string& contract) const {
  return dataDir_ + "/logs/" + contract + "/Filesync.log";
}

std::string AccountBook::versionsPath(const std::string& contract) const {
  if (inDatabase()) return sharedFolder(contract) + "/versions";
  return dataDir_ + "/versions/" + contract;
}

std::string AccountBook::sharedFolder(const std::string& contract) const {
  const Account* a = find(contract);
  return (a != nullptr ? a->store : defaultStore(contract)) + ".kqsyncd";
}

std::string AccountBook::heldPath(const std::string& contract) const {
  if (!inDatabase()) return indexPath(contract);
  std::string folder = sharedFolder(contract) + "/held";
  fs::create_directories(folder);
  return folder + "/" + contract + ".sqlite";
}

std::unique_ptr<StoreIndex> AccountBook::openIndex(const std::string& contract) const {
  if (inDatabase()) {
    try {
      return std::make_unique<PgIndex>(databaseUrl_, contract);
    } catch (const IndexError& e) {
      // The database not answering is no damaged index: no rebuild would help.
      throw std::runtime_error("the index of contract " + contract + " cannot be opened: " + e.what());
    }
  }
  return std::make_unique<SqliteIndex>(indexPath(contract));
}

std::unique_ptr<Versions> AccountBook::openVersions(const std::string& contract, int keepDays) const {
  if (!inDatabase()) return std::make_unique<Versions>(versionsPath(contract), keepDays);
  return std::make_unique<Versions>(versionsPath(contract), keepDays,
                                    std::make_unique<PgVersionList>(databaseUrl_, contract));
}

std::unique_ptr<ContractLock> AccountBook::openLock(const std::string& contract,
                                                    std::function<void()> beforeRelease) const {
  if (!inDatabase()) return std::make_unique<TurnLock>();
  return std::make_unique<PgContractLock>(databaseUrl_, contract, std::move(beforeRelease));
}

std::size_t AccountBook::load() {
  if (!inDatabase()) return loadFile();
  loadDatabase();
  return 0;
}

void AccountBook::save() {
  if (inDatabase()) saveDatabase();
  else saveFile();
}

void AccountBook::loadDatabase() {
  PgConnection db(databaseUrl_);
  migrateSchema(db);
  auto rows = db.run("SELECT contract, key_hash, store FROM accounts ORDER BY contract");
  accounts_.clear();
  for (int row = 0; row < rows.rows(); ++row) {
    accounts_.push_back({rows.text(row, 0), rows.text(row, 1), rows.text(row, 2)});
  }
  loaded_ = accounts_;
}

void AccountBook::saveDatabase() {
  PgConnection db(databaseUrl_);
  db.exec("BEGIN");
  try {
    for (auto& a : accounts_) {
      if (std::find(loaded_.begin(), loaded_.end(), a) != loaded_.end()) continue;
      auto added = db.run("INSERT INTO accounts(contract, key_hash, store) VALUES($1, $2, $3) ON CONFLICT DO NOTHING",
                          {a.contract, a.keyHash, a.store});
      if (added.affected() == 0) throw AccountError("contract " + a.contract + " already exists");
    }
    for (auto& a : loaded_) {
      if (find(a.contract) == nullptr) db.run("DELETE FROM accounts WHERE contract = $1", {a.contract});
    }
    db.exec("COMMIT");
  } catch (...) {
    db.rollbackQuietly();
    throw;
  }
  loaded_ = accounts_;
}

std::size_t AccountBook::loadFile() {
  accounts_.clear();
  std::ifstream in(dataDir_ + "/accounts.json");
  if (!in) return 0;
  auto doc = nlohmann::json::parse(in, nullptr, false);
  if (doc.is_discarded() || !doc.contains("accounts") || !doc["accounts"].is_array()) {
    throw AccountError("unreadable " + dataDir_ + "/accounts.json");
  }
  std::size_t hashed = 0;
  for (auto& a : doc["accounts"]) {
    std::string keyHash = a.value("key_hash", "");
    if (!isKeyHash(keyHash) && a.contains("key")) {
      keyHash = hashKey(a.value("key", ""));
      ++hashed;
    }
    accounts_.push_back({a.value("contract", ""), keyHash, a.value("store", "")});
  }
  return hashed;
}

void AccountBook::saveFile() const {
  fs::create_directories(dataDir_);
  nlohmann::json doc;
  doc["accounts"] = nlohmann::json::array();
  for (auto& a : accounts_) doc["accounts"].push_back({{"contract", a.contract}, {"key_hash", a.keyHash}, {"store", a.store}});
  std::string path = dataDir_ + "/accounts.json";
  std::string temp = path + ".new";
  std::string text = doc.dump(2) + "\n";
  ::unlink(temp.c_str());  // a leftover may have a wider mode
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  bool written = fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  if (fd >= 0 && ::close(fd) != 0) written = false;
  if (!written) throw AccountError("cannot write " + temp + ": " + std::strerror(errno));
  fs::rename(temp, path);
}

void AccountBook::add(NewAccount account) {
  if (!allDigits(account.contract)) throw AccountError("the contract number must be decimal digits");
  if (!portFor(account.contract)) throw AccountError("the contract number is too long for a port (2 + contract)");
  if (account.contract.size() != 4 && !account.allowShortContract) {
    throw AccountError("the contract number must be 4 digits (--allow-short-contract for a shorter one)");
  }
  if (!printableKey(account.key)) throw AccountError("the API key must be printable ASCII without blanks");
  if (find(account.contract) != nullptr) throw AccountError("contract " + account.contract + " already exists");
  refuseAmbiguous(account.contract, account.key);
  if (account.store.empty()) account.store = defaultStore(account.contract);
  account.store = fs::absolute(account.store).lexically_normal().string();
  while (account.store.size() > 1 && account.store.back() == '/') account.store.pop_back();
  accounts_.push_back({account.contract, hashKey(account.key), account.store});
}

// Two init texts ending in the same contract + key need one contract to start
// the other: such pairs are refused outright (no key needed). A new contract +
// key that ends with an existing one (a longer protocol text would make them
// equal) is found by trying the existing key hash at each place its contract
// occurs in the new text.
void AccountBook::refuseAmbiguous(const std::string& contract, const std::string& key) const {
  std::string tail = contract + key;
  for (auto& a : accounts_) {
    bool prefix = a.contract.compare(0, contract.size(), contract) == 0 ||
                  contract.compare(0, a.contract.size(), a.contract) == 0;
    if (prefix) {
      throw AccountError("contract " + contract + " could be read as contract " + a.contract +
                         " (one contract number starts the other)");
    }
    for (auto at = tail.find(a.contract, 1); at != std::string::npos; at = tail.find(a.contract, at + 1)) {
      if (at + a.contract.size() < tail.size() && keyMatches(tail.substr(at + a.contract.size()), a.keyHash)) {
        throw AccountError("contract " + contract + " with this key could be read as contract " + a.contract +
                           " (its contract number and key end this one's)");
      }
    }
  }
}

bool AccountBook::remove(const std::string& contract) {
  for (auto it = accounts_.begin(); it != accounts_.end(); ++it) {
    if (it->contract == contract) {
      accounts_.erase(it);
      return true;
    }
  }
  return false;
}

const Account* AccountBook::find(const std::string& contract) const {
  for (auto& a : accounts_) {
    if (a.contract == contract) return &a;
  }
  return nullptr;
}

std::optional<int> portFor(const std::string& contract) {
  if (!allDigits(contract) || contract.size() > 4) return std::nullopt;
  return std::stoi("2" + contract);
}

std::optional<InitMatch> matchInitText(const std::string& text, const std::vector<const Account*>& candidates) {
  static const std::string kMagic = "KQFILESYNC";
  if (text.compare(0, kMagic.size(), kMagic) != 0) return std::nullopt;
  std::optional<InitMatch> best;
  int tries = 0;
  // The longest contract + key starts earliest: places are tried from the front.
  for (std::size_t at = kMagic.size(); at + 1 < text.size() && !best; ++at) {
    for (auto* a : candidates) {
      std::size_t keyAt = at + a->contract.size();
      if (keyAt >= text.size() || text.compare(at, a->contract.size(), a->contract) != 0) continue;
      if (!printableKey(text.substr(keyAt))) continue;
      if (++tries > kMaxKeyTries) return std::nullopt;
      if (keyMatches(text.substr(keyAt), a->keyHash)) {
        best = InitMatch{a, text.substr(kMagic.size(), at - kMagic.size())};
        break;
      }
    }
  }
  return best;
}

}  // namespace kqs
