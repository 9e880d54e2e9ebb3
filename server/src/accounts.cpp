#include "accounts.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

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

AccountBook::AccountBook(std::string dataDir) : dataDir_(std::move(dataDir)) {}

std::string AccountBook::defaultStore(const std::string& contract) const { return dataDir_ + "/stores/" + contract; }
std::string AccountBook::indexPath(const std::string& contract) const { return dataDir_ + "/index/" + contract + ".sqlite"; }
std::string AccountBook::clientLogPath(const std::string& contract) const {
  return dataDir_ + "/logs/" + contract + "/Filesync.log";
}

std::string AccountBook::versionsPath(const std::string& contract) const {
  return dataDir_ + "/versions/" + contract;
}

void AccountBook::load() {
  accounts_.clear();
  std::ifstream in(dataDir_ + "/accounts.json");
  if (!in) return;
  auto doc = nlohmann::json::parse(in, nullptr, false);
  if (doc.is_discarded() || !doc.contains("accounts") || !doc["accounts"].is_array()) {
    throw AccountError("unreadable " + dataDir_ + "/accounts.json");
  }
  for (auto& a : doc["accounts"]) {
    accounts_.push_back({a.value("contract", ""), a.value("key", ""), a.value("store", "")});
  }
}

void AccountBook::save() const {
  fs::create_directories(dataDir_);
  nlohmann::json doc;
  doc["accounts"] = nlohmann::json::array();
  for (auto& a : accounts_) doc["accounts"].push_back({{"contract", a.contract}, {"key", a.apiKey}, {"store", a.store}});
  std::string path = dataDir_ + "/accounts.json";
  std::string temp = path + ".new";
  {
    std::ofstream out(temp, std::ios::trunc);
    out << doc.dump(2) << "\n";
    if (!out.flush()) throw AccountError("cannot write " + temp);
  }
  fs::rename(temp, path);
}

void AccountBook::add(Account account) {
  if (!allDigits(account.contract)) throw AccountError("the contract number must be decimal digits");
  if (!portFor(account.contract)) throw AccountError("the contract number is too long for a port (2 + contract)");
  if (!printableKey(account.apiKey)) throw AccountError("the API key must be printable ASCII without blanks");
  if (find(account.contract) != nullptr) throw AccountError("contract " + account.contract + " already exists");
  if (account.store.empty()) account.store = defaultStore(account.contract);
  account.store = fs::absolute(account.store).lexically_normal().string();
  while (account.store.size() > 1 && account.store.back() == '/') account.store.pop_back();
  accounts_.push_back(account);
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
  std::size_t bestLength = 0;
  for (auto* a : candidates) {
    std::string tail = a->contract + a->apiKey;
    if (text.size() < kMagic.size() + tail.size()) continue;
    if (text.compare(text.size() - tail.size(), tail.size(), tail) != 0) continue;
    if (tail.size() <= bestLength) continue;
    bestLength = tail.size();
    best = InitMatch{a, text.substr(kMagic.size(), text.size() - kMagic.size() - tail.size())};
  }
  return best;
}

}  // namespace kqs
