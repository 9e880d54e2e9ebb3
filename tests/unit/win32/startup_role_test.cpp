#ifdef _WIN32
#include "ui/win32/startup_role.h"

#include <gtest/gtest.h>

namespace kq::win {
namespace {

struct RoleCase {
  const char* name;
  StartupFacts facts;
  Role expected;
};

TEST(StartupRole, ChecksInOrder) {
  const RoleCase cases[] = {
      {"second start without argument opens the folder", {true, true, false, L""}, Role::FolderAction},
      {"showdir opens the folder", {true, true, false, L"showdir"}, Role::FolderAction},
      {"ShowDir in capitals", {true, false, false, L"SHOWDIR"}, Role::FolderAction},
      {"other argument while the client runs", {true, true, false, L"install"}, Role::Nothing},
      {"configuration present starts the client", {false, true, false, L""}, Role::Client},
      {"install ignored when configured", {false, true, false, L"install"}, Role::Client},
      {"configured wins over an open installer", {false, true, true, L"install"}, Role::Client},
      {"installer already open", {false, false, true, L"install"}, Role::InstallerAlreadyRunning},
      {"installer already open, no argument", {false, false, true, L""}, Role::InstallerAlreadyRunning},
      {"INSTALL in capitals", {false, false, false, L"INSTALL"}, Role::Installer},
      {"install", {false, false, false, L"install"}, Role::Installer},
      {"not set up", {false, false, false, L""}, Role::NotSetUp},
      {"unknown argument, not set up", {false, false, false, L"installx"}, Role::NotSetUp},
      {"showdir, not set up", {false, false, false, L"showdir"}, Role::NotSetUp},
  };
  for (const auto& c : cases) EXPECT_EQ(decideRole(c.facts), c.expected) << c.name;
}

TEST(StartupRole, LowerAsciiOnlyTouchesLetters) {
  EXPECT_EQ(lowerAscii(L"InStAlL-1\u00C9"), L"install-1\u00C9");
}

}  // namespace
}  // namespace kq::win
#endif
