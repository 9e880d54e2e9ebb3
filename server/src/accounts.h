#pragma once
// Accounts of the server: contract number, API key and store folder, kept in
// "accounts.json" in the data folder, and the matching of a client's init text.
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kqs {

struct Account {
  std::string contract;  // decimal digits
  std::string keyHash;   // salted hash of the API key (key_hash.h)
  std::string store;     // absolute folder
  bool operator==(const Account&) const = default;
};

// NewAccount is what "account add" is given: the API key in clear.
struct NewAccount {
  std::string contract;
  std::string key;
  std::string store;
  bool allowShortContract = false;  // a contract of fewer than 4 digits
};

struct AccountError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class AccountBook {
 public:
  explicit AccountBook(std::string dataDir);
  // load reads accounts.json; a missing file is an empty book. Keys kept in
  // clear are hashed; it returns how many (save() then writes them hashed).
  std::size_t load();
  // save writes accounts.json atomically, created readable by its owner only.
  void save() const;
  // add inserts a new account; throws AccountError for bad input, a duplicate,
  // or an account whose init text could be read as another account's.
  void add(NewAccount account);
  // remove drops an account; false when it does not exist.
  bool remove(const std::string& contract);
  const std::vector<Account>& accounts() const { return accounts_; }
  const Account* find(const std::string& contract) const;
  const std::string& dataDir() const { return dataDir_; }
  std::string defaultStore(const std::string& contract) const;
  std::string indexPath(const std::string& contract) const;
  std::string clientLogPath(const std::string& contract) const;
  // versionsPath is the folder of the previous versions of a contract's store files.
  std::string versionsPath(const std::string& contract) const;

 private:
  void refuseAmbiguous(const std::string& contract, const std::string& key) const;
  std::string dataDir_;
  std::vector<Account> accounts_;
};

// portFor is the port the installer derives for a contract: "2" + contract.
std::optional<int> portFor(const std::string& contract);

struct InitMatch {
  const Account* account = nullptr;
  std::string protocol;
};

// matchInitText finds the account whose contract + API key ends the init text
// "KQFILESYNC" + protocol + contract + key; the longest such match wins. Each
// place where a contract occurs is tried against its key hash, at most
// kMaxKeyTries in all per text.
constexpr int kMaxKeyTries = 16;
std::optional<InitMatch> matchInitText(const std::string& text, const std::vector<const Account*>& candidates);

}  // namespace kqs
