#pragma once
// Test doubles of the dispatcher's seams: a request handler that records every
// member it is given, and a scripted FileDataReceiver that counts file bytes
// like the real one (it completes at the announced size and answers "ANFDA").
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "protocol/request_handler.h"

namespace kq::test {

struct MemberCall {
  std::string key;
  std::string value;
  bool operator==(const MemberCall&) const = default;
};

class RecordingHandler : public RequestHandler {
 public:
  void onMember(const std::string& key, const std::string& value, PacketContext& packet) override {
    calls.push_back({key, value});
    if (throwOnKey == key) throw std::runtime_error("handler failure");
    if (!answer.empty()) packet.answerType = answer;
  }
  std::vector<MemberCall> calls;
  std::string answer;      // set as answerType for every member when not empty
  std::string throwOnKey;  // a member with this key throws
};

// CountingReceiver takes the bytes after an RQFDA header up to its payloadLength.
class CountingReceiver : public FileDataReceiver {
 public:
  explicit CountingReceiver(ProtocolState& state) : state_(state) {}

  std::size_t onHeader(std::string_view read, PacketContext& packet) override {
    ++headers;
    expected = payloadLength(read);
    received = 0;
    data.clear();
    state_.fileDataMode = true;
    return kHeaderSize + take(read.substr(kHeaderSize), packet);
  }
  std::size_t onData(std::string_view read, PacketContext& packet) override {
    ++dataReads;
    return take(read, packet);
  }
  void closeOpenFile() override { ++closes; }
  void onConnectionClosed() override {
    ++connectionCloses;
    state_.fileDataMode = false;
  }

  std::uint64_t expected = 0, received = 0;
  std::string data;
  int headers = 0, dataReads = 0, closes = 0, connectionCloses = 0;

 private:
  std::size_t take(std::string_view bytes, PacketContext& packet) {
    auto n = static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), expected - received));
    data.append(bytes.substr(0, n));
    received += n;
    if (received == expected) {
      packet.answerType = "ANFDA";
      state_.fileDataMode = false;
    }
    return n;
  }
  ProtocolState& state_;
};

}  // namespace kq::test
