// The peer takes only the answer its request asked for.
#include "peer.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

namespace kqs {
namespace {

class PeerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    peer_ = std::make_unique<Peer>(fds[0], 2000, stop_);
    client_ = fds[1];
  }
  void TearDown() override { ::close(client_); }

  std::atomic<bool> stop_{false};
  std::unique_ptr<Peer> peer_;
  int client_ = -1;
};

TEST_F(PeerTest, AnswerMustMatchTheRequest) {
  struct Case {
    const char* name;
    const char* answerType;
    bool sameId;
    bool accepted;
  } cases[] = {
      {"the expected type with the request's id", "ANPUT", true, true},
      {"another answer type", "ANDEL", true, false},
      {"the expected type with another request's id", "ANPUT", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string body = "{\"filepath\":\"/a\"}";
    auto id = peer_->sendRequest("RQPUT", body, body.size());
    std::string request(kq::kHeaderSize + body.size(), '\0');
    ASSERT_EQ(::recv(client_, request.data(), request.size(), MSG_WAITALL), static_cast<ssize_t>(request.size()));
    kq::RequestId answerId = kq::requestIdOf(request);
    if (!c.sameId) answerId[0] = static_cast<char>(answerId[0] ^ 0x5a);
    std::string header = kq::encodeHeader({c.answerType, answerId, 0});
    ASSERT_EQ(::send(client_, header.data(), header.size(), 0), static_cast<ssize_t>(header.size()));
    if (c.accepted) {
      EXPECT_EQ(peer_->readAnswer(id, {"ANPUT"}).type, c.answerType);
    } else {
      EXPECT_THROW(peer_->readAnswer(id, {"ANPUT"}), PeerError);
    }
  }
}

TEST_F(PeerTest, AnAnswerThatNeverComesEndsAtTheTimeout) {
  auto id = peer_->sendRequest("RQFLS", "", 0);
  auto started = std::chrono::steady_clock::now();
  EXPECT_THROW(peer_->readAnswer(id, {"ANFLS"}), PeerError);
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1900));
}

}  // namespace
}  // namespace kqs
