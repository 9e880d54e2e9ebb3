// The watcher address of the Linux programs, from the "Watcher" member of
// "filesync.cfg", and the member as install writes it.
#include "config/watcher_address.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "config/client_config.h"

namespace kq {
namespace {

TEST(WatcherAddress, TheSettingGivesAPortOrTheUsersSocket) {
  struct Case {
    std::string file;
    const char* runtimeDir;
    std::string text;  // the address; "!" + reason for a setting that cannot work
  };
  const std::string start = R"({"KQFilsyncConfig":[{"Host":"h","KQDir":"/s")";
  const Case cases[] = {
      {start + "}]}", "/run/user/1000", "127.0.0.1:11111"},
      {start + R"(,"Watcher":"11112"}]})", nullptr, "127.0.0.1:11112"},
      {start + R"(,"Watcher":11113}]})", nullptr, "127.0.0.1:11113"},
      {start + R"(,"Watcher":"unix"}]})", "/run/user/1000", "/run/user/1000/kqfilesync/zrservice.sock"},
      {"\xEF\xBB\xBF" + start + R"(,"Watcher":"unix"}]})", "/r", "/r/kqfilesync/zrservice.sock"},
      {start + R"(,"Watcher":"unix"}]})", nullptr,
       "!\"Watcher\":\"unix\" needs XDG_RUNTIME_DIR (the user's runtime folder); set it, or give the watcher a "
       "port (\"Watcher\":\"11112\")"},
      {start + R"(,"Watcher":"unix"}]})", "relative", "!\"Watcher\":\"unix\" needs XDG_RUNTIME_DIR (the user's "
       "runtime folder); set it, or give the watcher a port (\"Watcher\":\"11112\")"},
      {start + R"(,"Watcher":"0"}]})", nullptr, "!\"Watcher\":\"0\" is neither \"unix\" nor a port from 1 to 65535"},
      {start + R"(,"Watcher":"65536"}]})", nullptr,
       "!\"Watcher\":\"65536\" is neither \"unix\" nor a port from 1 to 65535"},
      {start + R"(,"Watcher":"tcp"}]})", nullptr, "!\"Watcher\":\"tcp\" is neither \"unix\" nor a port from 1 to 65535"},
      {start + R"(,"Watcher":""}]})", nullptr, "!\"Watcher\":\"\" is neither \"unix\" nor a port from 1 to 65535"},
      {"not json", nullptr, "127.0.0.1:11111"},
  };
  for (const auto& c : cases) {
    try {
      WatcherAddress address = watcherAddress(watcherSetting(c.file), c.runtimeDir);
      EXPECT_EQ(address.text(), c.text) << c.file;
    } catch (const std::invalid_argument& e) {
      EXPECT_EQ("!" + std::string(e.what()), c.text) << c.file;
    }
  }
  EXPECT_EQ(watcherAddress("unix", "/r").folder(), "/r/kqfilesync");
}

TEST(WatcherAddress, InstallAddsTheSettingToTheConfigurationItWrites) {
  ConfigFields fields{"h", "21234", "1", "1234", "KEY", "/home/me/Sync"};
  const std::string text = withWatcherSetting(configText(fields), "unix");
  EXPECT_EQ(text, R"({"KQFilsyncConfig":[{"Host":"h","port":"21234","protocol":"1","contract":"1234","API-key":"KEY",)"
                  R"("KQDir":"/home/me/Sync","Reconnect":"1","Watcher":"unix"}]})");
  EXPECT_EQ(watcherSetting(text), "unix");
}

}  // namespace
}  // namespace kq
