// The peer takes only the answer its request asked for, and a look for
// waiting bytes never waits, whatever the clock does meanwhile.
#include "peer.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "socket_link.h"

namespace kqs {
namespace {

// SteppingClock moves on by stepMs at every reading: a busy machine where
// time passes between any two looks at the clock.
class SteppingClock : public Clock {
 public:
  explicit SteppingClock(std::int64_t stepMs) : stepMs_(stepMs) {}
  std::int64_t steadyMs() override { return now_ += stepMs_; }
  std::int64_t wallSeconds() override { return 1700000000 + now_ / 1000; }

 private:
  std::int64_t stepMs_;
  std::int64_t now_ = 0;
};

class PeerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0);
    link_ = std::make_unique<SocketLink>(fds[0], stop_, clock_);
    peer_ = std::make_unique<Peer>(*link_, clock_, 2000);
    client_ = fds[1];
  }
  void TearDown() override { ::close(client_); }

  std::atomic<bool> stop_{false};
  SystemClock clock_;
  std::unique_ptr<SocketLink> link_;
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

// A look for waiting bytes on a quiet link returns at once even when the
// clock moves between its readings. The client stays silent unless the look
// hangs: a byte sent after a long while would end a wait for ever, and then
// the look reports it.
TEST(SocketLinkTest, ALookForWaitingBytesNeverWaitsWhileTheClockMoves) {
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0);
  std::atomic<bool> stop{false};
  SteppingClock clock(5);
  SocketLink link(fds[0], stop, clock);
  Peer peer(link, clock, 60000);
  std::atomic<bool> looked{false};
  std::thread rescue([&] {
    for (int i = 0; i < 300 && !looked; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (!looked) (void)::send(fds[1], "x", 1, MSG_NOSIGNAL);
  });
  bool readable = peer.readable();
  looked = true;
  rescue.join();
  EXPECT_FALSE(readable);
  ::close(fds[1]);
}

// What a look found is the start of what the next read takes.
TEST_F(PeerTest, BytesFoundByALookAreReadFirst) {
  std::string header = kq::encodeHeader({"ANFDA", kq::RequestId{0, 0, 0, 1}, 0});
  ASSERT_EQ(::send(client_, header.data(), 5, 0), 5);
  for (int i = 0; i < 100 && !peer_->readable(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_EQ(::send(client_, header.data() + 5, header.size() - 5, 0), static_cast<ssize_t>(header.size() - 5));
  EXPECT_EQ(peer_->readExact(header.size()), header);
}

}  // namespace
}  // namespace kqs
