#ifdef _WIN32
// The receive path on the real Windows file system: a target that another
// program holds open without sharing its deletion cannot be replaced.
#include <windows.h>

#include <gtest/gtest.h>

#include "support/handler_fixture.h"
#include "transfer/file_receiver.h"

namespace kq {
namespace {

class ReceiveLockedTest : public test::HandlerFixture {
 protected:
  std::string push(const std::string& value, const std::string& content) {
    PacketContext put{kRQPUT, ""};
    receiver.onMember("\"filepath\"", value, put);
    PacketContext data{kRQFDA, ""};
    receiver.onHeader(encodeHeader(PacketHeader{"RQFDA", {}, content.size()}) + content, data);
    return data.answerType;
  }
  FileReceiver receiver{ports};
};

TEST_F(ReceiveLockedTest, LockedTargetKeepsItsContentAndTheTemporaryFileGoes) {
  ASSERT_TRUE(write("locked.txt", "older"));
  std::filesystem::path native = disk.nativeRoot() / "Sync" / "locked.txt";
  HANDLE held = CreateFileW(native.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(push(R"(\/locked.txt)", "newer"), "ANFDA");
  CloseHandle(held);
  EXPECT_EQ(read("locked.txt"), "older");
  EXPECT_FALSE(exists("locked.txt.kqpart"));
  EXPECT_TRUE(log.contains("ERROR: Can not replace " + at("locked.txt") +
                           " with the received file; the file stays as it was"));
  EXPECT_FALSE(log.contains("File " + at("locked.txt") + " received successfully"));
  // Once the other program lets go, the next push replaces it.
  EXPECT_EQ(push(R"(\/locked.txt)", "newer"), "ANFDA");
  EXPECT_EQ(read("locked.txt"), "newer");
  EXPECT_FALSE(exists("locked.txt.kqpart"));
}

}  // namespace
}  // namespace kq
#endif
