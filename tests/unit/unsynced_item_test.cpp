// Local names that cannot be synchronised, as the list of such items shows them.
#include <gtest/gtest.h>

#include "engine/unsynced_item.h"
#include "support/engine_harness.h"

namespace kq {
namespace {

TEST(UnsyncedItemTest, NamesReadAsThemselves) {
  const struct {
    const char* local;
    const char* shown;
  } cases[] = {
      {"C:\\Sync\\\\u0416\\u0443\\u043a.txt", "Жук.txt"},
      {"C:\\Sync\\docs\\\\u041c\\u043e\\u0441\\u043a\\u0432\\u0430.txt", "docs/Москва.txt"},
      {"C:\\Sync\\caf\xe9\\\\ud83d\\ude00.txt", "café/😀.txt"},
      {"C:\\Sync\\link", "link"},
      {"C:\\Sync\\a\\uber.txt", "a/uber.txt"},
      {"D:\\Elsewhere\\x.txt", "D:/Elsewhere/x.txt"},
  };
  for (const auto& c : cases) EXPECT_EQ(unsyncedItemName(c.local, "C:\\Sync"), c.shown) << c.local;
}

TEST(UnsyncedItemTest, AnUnsynchronisedLocalNameIsAFailedItemOfTheStatus) {
  test::MemoryEngine t;
  t.engine.tracker().unsynced.report(t.path("\\u0416\\u0443\\u043a.txt"), "characters outside the code page 1252");
  t.engine.tracker().unsynced.report(t.path("\\u0416\\u0443\\u043a.txt"), "characters outside the code page 1252");
  t.engine.StatusTimer();
  EXPECT_EQ(t.published.last().failedItems,
            (std::vector<FailedItem>{{"Жук.txt", "characters outside the code page 1252"}}));
}

}  // namespace
}  // namespace kq
