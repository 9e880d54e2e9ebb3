#pragma once
// Accounts of the server: contract number, API key and store folder, kept in
// "accounts.json" in the data folder or, for a cluster of nodes, in the
// PostgreSQL database; the matching of a client's init text. The book also
// knows where a contract's index, versions, held deletions and lock are, and
// opens them for the back end in use.
#include <functional>
#include <memory>
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

class StoreIndex;
class Versions;
class ContractLock;

class AccountBook {
 public:
  // databaseUrl empty: accounts.json and SQLite indexes in dataDir; else the
  // PostgreSQL database at that URL holds accounts, indexes and versions'
  // lists, and dataDir only the node's own files.
  explicit AccountBook(std::string dataDir, std::string databaseUrl = "");
  // load reads accounts.json; a missing file is an empty book. Keys kept in
  // clear are hashed; it returns how many (save() then writes them hashed).
  // From a database: applies the schema's migrations first (IndexError when
  // the database cannot be used).
  std::size_t load();
  // save writes accounts.json atomically, created readable by its owner only;
  // in a database it adds and removes what changed since load, in one
  // transaction (another node's change meanwhile is kept).
  void save();
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

  const std::string& databaseUrl() const { return databaseUrl_; }
  bool inDatabase() const { return !databaseUrl_.empty(); }
  // sharedFolder is kqsyncd's own folder beside a contract's store (STORE.kqsyncd)
  // that every node reaches: the kept versions and held deletions of a cluster.
  std::string sharedFolder(const std::string& contract) const;
  // heldPath is what HeldDeletions names its files after.
  std::string heldPath(const std::string& contract) const;
  // The contract's index, versions and lock for the back end in use.
  std::unique_ptr<StoreIndex> openIndex(const std::string& contract) const;
  std::unique_ptr<Versions> openVersions(const std::string& contract, int keepDays) const;
  // openLock: in a database the lock is shared by the nodes and beforeRelease
  // runs before another node may take it; alone, an in-process TurnLock.
  std::unique_ptr<ContractLock> openLock(const std::string& contract, std::function<void()> beforeRelease) const;

 private:
  void refuseAmbiguous(const std::string& contract, const std::string& key) const;
  std::size_t loadFile();
  void saveFile() const;
  void loadDatabase();
  void saveDatabase();
  std::string dataDir_;
  std::string databaseUrl_;
  std::vector<Account> accounts_;
  std::vector<Account> loaded_;  // as the database held them at load
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
