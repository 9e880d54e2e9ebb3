// The Windows folder move runs only in the Windows build (natively on Windows,
// or under Wine, whose robocopy moves nothing, so the portable move finishes).
#ifdef _WIN32
#include "platform/win32/process_runner_win32.h"

#include <gtest/gtest.h>

#include "support/native_fs.h"

namespace kq {
namespace {

TEST(Win32ProcessRunner, StartsRobocopyWithQuotedPaths) {
  EXPECT_EQ(Win32ProcessRunner::robocopyArguments("C:\\My Sync\\old", "C:\\My Sync\\new"),
            "robocopy /move /e \"C:\\My Sync\\old\" \"C:\\My Sync\\new\"");
  EXPECT_EQ(Win32ProcessRunner::robocopyArguments("C:\\%PATH%", "C:\\"),
            "robocopy /move /e \"C:\\%PATH%\" \"C:\\\\\"");
}

TEST(Win32ProcessRunner, MovesTheFolderWhateverRobocopyDoes) {
  test::NativeFs disk;
  ASSERT_TRUE(disk.fs().createFolders(disk.path("my old\\sub")));
  ASSERT_TRUE(disk.fs().writeText(disk.path("my old\\sub\\a.txt"), "a"));
  Win32ProcessRunner runner(disk.fs());
  MoveResult r = runner.moveTree(disk.path("my old"), disk.path("my new"));
  EXPECT_TRUE(r.complete) << r.detail;
  EXPECT_FALSE(disk.fs().exists(disk.path("my old")));
  EXPECT_EQ(disk.fs().readText(disk.path("my new\\sub\\a.txt")).value_or(""), "a");
}

}  // namespace
}  // namespace kq
#endif
