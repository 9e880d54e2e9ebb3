// Keys kept as salted hashes, accounts.json in clear converted, and accounts
// whose init texts could be read as one another refused.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "accounts.h"
#include "key_hash.h"
#include "test_files.h"

namespace fs = std::filesystem;

namespace kqs {
namespace {

TEST(KeyHash, SaltedAndCompared) {
  std::string a = hashKey("SECRET"), b = hashKey("SECRET");
  EXPECT_NE(a, b);  // a fresh salt each time
  EXPECT_EQ(a.find("SECRET"), std::string::npos);
  EXPECT_TRUE(keyMatches("SECRET", a));
  EXPECT_TRUE(keyMatches("SECRET", b));
  for (const char* wrong : {"SECRET ", "SECRE", "secret", ""}) EXPECT_FALSE(keyMatches(wrong, a)) << wrong;
  for (const char* malformed : {"", "SECRET", "pbkdf2-sha256$0$00$00", "pbkdf2-sha256$x$00$00", "md5$1$00$00"}) {
    EXPECT_FALSE(isKeyHash(malformed)) << malformed;
    EXPECT_FALSE(keyMatches("SECRET", malformed)) << malformed;
  }
  EXPECT_TRUE(isKeyHash(a));
}

TEST(Accounts, KeysInClearAreHashedOnLoadAndNothingElseChanges) {
  auto dir = test::scratchFolder("kqsyncd-accounts-clear");
  fs::create_directories(dir);
  {
    std::ofstream out(dir / "accounts.json");
    out << R"({"accounts":[{"contract":"1234","key":"CLEARKEY","store":"/srv/a"},)"
        << R"({"contract":"77","key":"K77","store":"/srv/b"}]})";
  }
  AccountBook book(dir.string());
  EXPECT_EQ(book.load(), 2u);
  book.save();
  std::ifstream in(dir / "accounts.json");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text.find("CLEARKEY"), std::string::npos);
  AccountBook again(dir.string());
  EXPECT_EQ(again.load(), 0u);  // already hashed
  ASSERT_EQ(again.accounts().size(), 2u);
  EXPECT_EQ(again.find("1234")->store, "/srv/a");
  EXPECT_EQ(again.find("77")->store, "/srv/b");
  std::vector<const Account*> all{again.find("1234"), again.find("77")};
  auto m = matchInitText("KQFILESYNC11234CLEARKEY", all);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->account->contract, "1234");
  m = matchInitText("KQFILESYNC177K77", all);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->account->contract, "77");
  EXPECT_EQ(m->protocol, "1");
  fs::remove_all(dir);
}

TEST(Accounts, AnAccountThatCouldBeReadAsAnotherIsRefused) {
  auto dir = test::scratchFolder("kqsyncd-accounts-ambiguous");
  AccountBook book(dir.string());
  book.add({"1", "2KEY", "", true});
  book.add({"5678", "ABCDEF", ""});
  struct Case { NewAccount account; const char* names; } cases[] = {
      {{"12", "KEY", "", true}, "contract 1"},          // "12KEY" both ways
      {{"12", "OTHER", "", true}, "contract 1"},        // refused without looking at the key
      {{"1234", "X", ""}, "contract 1"},                // 1 starts 1234
      {{"9999", "95678ABCDEF", ""}, "contract 5678"},   // ends with 5678 + its key
  };
  for (auto& c : cases) {
    try {
      book.add(c.account);
      ADD_FAILURE() << c.account.contract << " was added";
    } catch (const AccountError& e) {
      EXPECT_NE(std::string(e.what()).find(c.names), std::string::npos) << e.what();
    }
  }
  book.add({"9999", "95678ABCDEX", ""});  // close, but no other account's text
  book.add({"2468", "5678ABCDEFG", ""});  // 5678 + its key inside a key, not at its end
  EXPECT_EQ(book.accounts().size(), 4u);
  fs::remove_all(dir);
}

TEST(Accounts, MatchingTriesAreBounded) {
  Account a{"1", hashKey("KEY"), "/s"};
  std::vector<const Account*> all{&a};
  // Every "1" is a place to try; the text gives up after kMaxKeyTries of them.
  EXPECT_FALSE(matchInitText("KQFILESYNC" + std::string(200, '1') + "KEY", all));
  EXPECT_TRUE(matchInitText("KQFILESYNC11KEY", all));
}

}  // namespace
}  // namespace kqs
