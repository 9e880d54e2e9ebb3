// The peer's quiet wait follows the round trips it has seen.
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

  // answer reads one request of requestBytes and answers with type after delayMs.
  void answer(const std::string& type, std::size_t requestBytes, int delayMs, std::uint64_t payload = 0) {
    std::string request(requestBytes, '\0');
    ASSERT_EQ(::recv(client_, request.data(), requestBytes, MSG_WAITALL), static_cast<ssize_t>(requestBytes));
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    std::string header = kq::encodeHeader({type, kq::requestIdOf(request), payload});
    ASSERT_EQ(::send(client_, header.data(), header.size(), 0), static_cast<ssize_t>(header.size()));
  }

  // exchange sends a request with a body and reads its answer.
  void exchange(const std::string& type, const std::string& answerType, int delayMs) {
    std::string body = "{\"filepath\":\"/a\"}";
    std::thread client([&] { answer(answerType, kq::kHeaderSize + body.size(), delayMs); });
    auto id = peer_->sendRequest(type, body, body.size());
    peer_->readAnswer(id, {answerType});
    client.join();
  }

  std::atomic<bool> stop_{false};
  std::unique_ptr<Peer> peer_;
  int client_ = -1;
};

TEST_F(PeerTest, QuietWaitIsTheLongestBeforeAnyRoundTrip) { EXPECT_EQ(peer_->quietMs(), Peer::kMaxQuietMs); }

TEST_F(PeerTest, QuietWaitFollowsQuickAnswers) {
  for (int i = 0; i < 3; ++i) exchange("RQPUT", "ANPUT", 0);
  EXPECT_GE(peer_->quietMs(), 2);
  EXPECT_LT(peer_->quietMs(), 10);
}

TEST_F(PeerTest, SlowAnswersRaiseTheQuietWaitUpToItsLimit) {
  exchange("RQPUT", "ANPUT", 0);
  int quick = peer_->quietMs();
  exchange("RQDEL", "ANDEL", 200);
  EXPECT_GT(peer_->quietMs(), quick);
  for (int i = 0; i < 3; ++i) exchange("RQDEL", "ANDEL", 200);
  EXPECT_EQ(peer_->quietMs(), Peer::kMaxQuietMs);
}

TEST_F(PeerTest, DataRequestsAndAnswersWithDataAreNotRoundTrips) {
  // RQFDA: the data follows the header, so its answer measures the transfer.
  std::thread client([&] { answer("ANFDA", kq::kHeaderSize, 150); });
  auto id = peer_->sendRequest("RQFDA", "", 4);
  peer_->sendAll("data");
  client.join();
  std::string rest(4, '\0');
  ASSERT_EQ(::recv(client_, rest.data(), 4, MSG_WAITALL), 4);
  peer_->readAnswer(id, {"ANFDA"});
  EXPECT_EQ(peer_->quietMs(), Peer::kMaxQuietMs);
}

}  // namespace
}  // namespace kqs
