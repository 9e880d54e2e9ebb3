#ifdef _WIN32
// Long paths on Windows: the "\\?\" form of long absolute paths, and every
// file operation on a path of 300 characters and more.
#include <gtest/gtest.h>

#include <string>

#include "platform/win32/file_system_win32.h"
#include "support/native_fs.h"

namespace kq {
namespace {

TEST(LongPath, LongAbsolutePathsTakeTheExtendedForm) {
  const std::wstring name(60, L'n');
  const std::wstring tail = name + L"\\" + name + L"\\" + name + L"\\" + name + L"\\x.txt";
  const struct {
    std::wstring in;
    std::wstring out;
  } cases[] = {
      {L"C:\\short\\a.txt", L"C:\\short\\a.txt"},
      {L"C:\\" + tail, L"\\\\?\\C:\\" + tail},
      {L"C:/" + name + L"//" + name + L"\\\\" + name + L"/" + name + L"/x.txt", L"\\\\?\\C:\\" + tail},
      {L"\\\\server\\share\\" + tail, L"\\\\?\\UNC\\server\\share\\" + tail},
      {L"\\\\?\\C:\\" + tail, L"\\\\?\\C:\\" + tail},
      {L"relative\\" + tail, L"relative\\" + tail},
  };
  for (const auto& c : cases) EXPECT_EQ(longPath(c.in), c.out) << c.in.size();
}

TEST(LongPath, EveryOperationWorksBeyond259Characters) {
  test::NativeFs disk;
  Win32FileSystem fs;
  std::string folder = disk.root();
  while (folder.size() < 300) folder += "\\" + std::string(40, 'd');
  const std::string file = folder + "\\a.txt";
  ASSERT_GT(file.size(), 300u);
  ASSERT_TRUE(fs.createFolders(folder));
  ASSERT_TRUE(fs.writeText(file, "long"));
  EXPECT_EQ(fs.readText(file).value_or("<none>"), "long");
  EXPECT_EQ(fs.status(file).size, 4u);
  ASSERT_TRUE(fs.setAttributes(file, true, false));
  EXPECT_EQ(fs.attributes(file), std::make_pair(true, false));
  ASSERT_TRUE(fs.rename(file, folder + "\\b.txt"));
  std::vector<std::string> walked;
  ASSERT_TRUE(fs.walk(disk.root(), [&](const WalkEntry& e) {
    walked.push_back(e.path);
    return true;
  }));
  EXPECT_EQ(walked.back(), folder + "\\b.txt");
  ASSERT_TRUE(fs.removeAll(disk.path(std::string(40, 'd'))));
  EXPECT_FALSE(fs.exists(folder));
}

}  // namespace
}  // namespace kq
#endif
