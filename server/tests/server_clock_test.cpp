// The server's wall clock against the stamps the file system gives: a time read
// after a write must never be earlier than that write's stamp, or a push the
// client answered would seem to end before the copy it left there.
#include "server_clock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "test_files.h"

namespace kqs {
namespace {

// Writes and stats one file over and over across two turns of the second, the
// moments where a clock kept at the last timer tick still shows the old second
// while a fresh file stamp already shows the new one.
TEST(ServerClockTest, IsNeverBehindTheStampOfAFileJustWritten) {
  auto dir = test::scratchFolder("kqsyncd-clock");
  std::filesystem::create_directories(dir);
  std::string path = (dir / "written").string();
  SystemClock clock;
  std::int64_t first = clock.wallSeconds();
  int behind = 0, writes = 0;
  while (clock.wallSeconds() < first + 3) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    struct stat st {};
    ASSERT_EQ(::write(fd, "a", 1), 1);
    ASSERT_EQ(::fstat(fd, &st), 0);  // a stamp that was looked at makes the next one precise
    ASSERT_EQ(::write(fd, "b", 1), 1);
    ASSERT_EQ(::fstat(fd, &st), 0);
    ::close(fd);
    if (clock.wallSeconds() < static_cast<std::int64_t>(st.st_mtim.tv_sec)) ++behind;
    ++writes;
  }
  EXPECT_EQ(behind, 0) << "of " << writes << " writes";
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace kqs
