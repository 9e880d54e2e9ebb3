// The conversation against a scripted link: exact request bytes out, answers
// framed by the request they answer, data beyond an announced size found by
// the answer of the request that follows it.
#include "conversation.h"

#include <gtest/gtest.h>

#include <deque>

namespace kqs {
namespace {

constexpr std::int64_t kWall = 1700000000;

// StepClock moves on by a millisecond at every steady reading, so a wait for bytes
// that never come ends at its deadline.
class StepClock : public Clock {
 public:
  std::int64_t steadyMs() override { return now_ += step; }
  std::int64_t wallSeconds() override { return kWall; }
  std::int64_t step = 1;  // 0: time moves only by advance()
  void advance(std::int64_t ms) { now_ += ms; }

 private:
  std::int64_t now_ = 0;
};

std::string frame(const std::string& type, const std::string& id, std::string_view payload,
                  std::uint64_t length = UINT64_MAX) {
  if (length == UINT64_MAX) length = payload.size();
  std::string out = type + id;
  for (int shift = 56; shift >= 0; shift -= 8) out += static_cast<char>((length >> shift) & 0xff);
  return out + std::string(payload);
}

const std::string kNoChange =
    R"({"date":"","time":"","changes":[{"filepath":"","date":"","time":"","mdate":"","mtime":"","size":"0","changetype":""}]})";
std::string changed(const std::string& path) {
  return R"({"date":"","time":"","changes":[{"filepath":")" + path +
         R"(","date":"","time":"","mdate":"","mtime":"","size":"3","changetype":"MODIFIED"}]})";
}

// ScriptLink hands the conversation's requests to answer() as they arrive
// whole and queues what it returns for the conversation to read.
class ScriptLink : public ClientLink {
 public:
  using Answer = std::function<std::string(const std::string& type, const std::string& id, const std::string& body)>;
  explicit ScriptLink(Answer answer) : answer_(std::move(answer)) {}
  void sendAll(std::string_view bytes, int) override {
    pending_ += bytes;
    parse();
  }
  std::string readSome(std::size_t n, int) override {
    std::string out = incoming_.substr(0, n);
    incoming_.erase(0, out.size());
    return out;
  }
  bool pause(int) override { return true; }
  bool answerDataAtHeader = false;  // answer RQFDA as soon as its header arrived (a refusal)
  std::vector<std::string> requests;

 private:
  void parse() {
    while (pending_.size() >= 17) {
      std::string type = pending_.substr(0, 5), id = pending_.substr(5, 4);
      std::uint64_t length = kq::payloadLength(pending_);
      if (type == "RQFDA" && answerDataAtHeader && !answeredHeader_) {
        answeredHeader_ = true;
        incoming_ += answer_(type, id, "");
      }
      if (pending_.size() < 17 + length) return;
      std::string body = pending_.substr(17, length);
      pending_.erase(0, 17 + length);
      requests.push_back(type + " " + (type == "RQFDA" ? std::to_string(length) + " bytes" : body));
      if (type == "RQFDA" && answeredHeader_) {
        answeredHeader_ = false;
        continue;
      }
      incoming_ += answer_(type, id, body);
    }
  }
  Answer answer_;
  std::string pending_, incoming_;
  bool answeredHeader_ = false;
};

class StringSource : public PushSource {
 public:
  StringSource(std::string bytes, std::uint64_t size) : bytes_(std::move(bytes)), size_(size) {}
  std::uint64_t size() const override { return size_; }
  std::size_t read(char* into, std::size_t n) override {
    n = std::min(n, bytes_.size() - at_);
    std::copy_n(bytes_.data() + at_, n, into);
    at_ += n;
    return n;
  }

 private:
  std::string bytes_;
  std::uint64_t size_;
  std::size_t at_ = 0;
};

struct Talk {
  explicit Talk(ScriptLink::Answer answer, ConversationLimits limits = {})
      : link(std::move(answer)), peer(link, clock, 3000),
        talk(peer, clock, [this](const std::string& l) { lines.push_back(l); }, [this] { return figures; }, limits) {}
  StepClock clock;
  ScriptLink link;
  Peer peer;
  std::vector<std::string> lines;
  Conversation::FiguresLeft figures;
  Conversation talk;
};

TEST(Conversation, AChangeRequestCarriesTheClockAndTheFiguresLeft) {
  Talk t([](auto&, auto& id, auto&) { return frame("ANCHG", id, changed("\\/a.txt")); });
  t.figures = {3, (5 << 20) + 1};
  auto report = t.talk.requestChange();
  ASSERT_TRUE(report);
  EXPECT_EQ(report->path, "/a.txt");
  ASSERT_EQ(t.link.requests.size(), 1u);
  EXPECT_EQ(t.link.requests[0], R"(RQCHG {"date":")" + formatLocal(kWall, "%Y-%m-%d") + R"(","time":")" +
                                    formatLocal(kWall, "%H:%M:%S") + R"(","filesleft":"3","mbytesleft":"6"})");
  EXPECT_EQ(t.lines, std::vector<std::string>{"client reports MODIFIED /a.txt"});
}

// A fetch: the file's data, then what the client sends up to the answer of
// the change request that follows it.
TEST(Conversation, DataBeyondTheAnnouncedSizeIsFoundByTheAnswerThatFollowsIt) {
  struct Case {
    const char* name;
    std::string data;     // sent after the ANFIL header announcing 4 bytes
    std::string answer;   // the ANCHG body
    std::uint64_t extra;  // bytes beyond the announced size
    bool late;            // a change reported with the answer
  } cases[] = {
      {"exactly the announced bytes", "abcd", kNoChange, 0, false},
      {"a file that grew while it was sent", "abcdefg", kNoChange, 3, false},
      {"grown by bytes that look like the answer's start", "abcdANCH", kNoChange, 4, false},
      {"a change reported with the answer", "abcd", changed("\\/b.txt"), 0, true},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    Talk t([&](auto& type, auto& id, auto&) {
      return type == "RQFIL" ? frame("ANFIL", id, c.data, 4) : frame("ANCHG", id, c.answer);
    });
    std::vector<std::string> hooked;
    t.talk.onLateReport([&](const ChangeReport& r) { hooked.push_back(r.path); });
    std::string written;
    auto fetched = t.talk.fetchFile("/a.txt", [&](std::string_view d) { return written += d, true; }, "temp");
    EXPECT_EQ(written, "abcd");
    EXPECT_EQ(fetched.size, 4u);
    EXPECT_EQ(fetched.extraBytes, c.extra);
    auto late = t.talk.takeLateReport();
    EXPECT_EQ(late.has_value(), c.late);
    EXPECT_EQ(hooked.size(), c.late ? 1u : 0u);
    if (c.late) EXPECT_EQ(late->path, "/b.txt");
    EXPECT_FALSE(t.talk.takeLateReport());
    EXPECT_EQ(t.link.requests.front(), R"(RQFIL {"filepath":"\/a.txt"})");
  }
}

TEST(Conversation, AFetchThatCannotBeWrittenSaysWhere) {
  Talk t([](auto& type, auto& id, auto&) {
    return type == "RQFIL" ? frame("ANFIL", id, "abcd") : frame("ANCHG", id, kNoChange);
  });
  try {
    t.talk.fetchFile("/a.txt", [](std::string_view) { return false; }, "/store/.kqsyncd.tmp/in-1");
    FAIL() << "no error";
  } catch (const PeerError&) {
    FAIL() << "a disk error is not the client's";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "cannot write /store/.kqsyncd.tmp/in-1");
  }
}

TEST(Conversation, EveryAnnouncedByteOfAPushGoesOutWhateverTheClientAnswers) {
  struct Case {
    const char* name;
    bool refuse;          // the client answers as soon as the header arrives
    std::string content;  // what the store file still holds of the 6 announced bytes
    bool refusedEarly, shortRead;
  } cases[] = {
      {"taken", false, "abcdef", false, false},
      {"refused by the client", true, "abcdef", true, false},
      {"the store file shrank while it was sent", false, "abc", false, true},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string got;
    Talk t([&](auto& type, auto& id, auto& body) {
      if (type == "RQFDA") got = body;
      return frame("AN" + type.substr(2), id, "");
    }, ConversationLimits{4});
    t.link.answerDataAtHeader = c.refuse;
    t.talk.offer("/f.bin", false);
    StringSource source(c.content, 6);
    auto sent = t.talk.sendData("/f.bin", source);
    EXPECT_EQ(sent.refusedEarly, c.refusedEarly);
    EXPECT_EQ(sent.shortRead, c.shortRead);
    EXPECT_EQ(t.link.requests, (std::vector<std::string>{R"(RQPUT {"filepath":"\/f.bin"})", "RQFDA 6 bytes"}));
    if (!c.refuse) EXPECT_EQ(got, c.shortRead ? std::string("abc\0\0\0", 6) : c.content);
  }
}

TEST(Conversation, RequestsOfFoldersMovesAndDeletionsAndTheirAnswers) {
  Talk t([](auto& type, auto& id, auto& body) {
    if (type == "RQMOV") return frame(body.find("stuck") != std::string::npos ? "FLMOV" : "ANMOV", id, "");
    return frame("AN" + type.substr(2), id, "");
  });
  t.talk.offer("/docs", true);
  t.talk.deleteOnClient("/old", true);
  t.talk.deleteOnClient("/old.txt", false);
  EXPECT_TRUE(t.talk.moveOnClient("/a", "/b"));
  EXPECT_FALSE(t.talk.moveOnClient("/stuck", "/b"));
  EXPECT_EQ(t.link.requests, (std::vector<std::string>{
                                 R"(RQPUT {"filepath":"\/docs\/"})",
                                 R"(RQDEL {"filepath":"\/old\/"})",
                                 R"(RQDEL {"filepath":"\/old.txt"})",
                                 R"(RQMOV {"sourcefilepath":"\/a\/","destinationfilepath":"\/b\/"})",
                                 R"(RQMOV {"sourcefilepath":"\/stuck\/","destinationfilepath":"\/b\/"})",
                             }));
}

class StringLog : public ClientLogUpload {
 public:
  bool write(std::string_view data) override { return bytes += data, true; }
  std::int64_t size() const override { return static_cast<std::int64_t>(bytes.size()); }
  void keep() override {}
  const std::string& path() const override { return name; }
  const std::string& target() const override { return name; }
  std::string bytes, name = "log";
};

TEST(Conversation, TheClientLogKeepsLinesWrittenWhileItWasSentUpToTheLimit) {
  struct Case {
    const char* name;
    std::uint64_t announced;
    std::string sent;
    bool kept;
    std::string stored;
    bool closes;
  } cases[] = {
      {"as announced", 5, "line\n", true, "line\n", false},
      {"grown while sent", 5, "line\nmore\n", true, "line\nmore\n", false},
      {"over the limit: read and dropped", 20, std::string(20, 'x'), false, "", false},
      {"grown beyond the limit: out of turn", 5, "line\n" + std::string(20, 'x'), true, "", true},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    ConversationLimits limits;
    limits.maxLogBytes = 16;
    Talk t([&](auto& type, auto& id, auto&) {
      return type == "RQLOG" ? frame("ANLOG", id, c.sent, c.announced) : frame("ANCHG", id, kNoChange);
    }, limits);
    StringLog log;
    if (c.closes) {
      EXPECT_THROW(t.talk.uploadLog(log), PeerError);
      continue;
    }
    EXPECT_EQ(t.talk.uploadLog(log), c.kept);
    EXPECT_EQ(log.bytes, c.stored);
  }
}

// A transfer above the limit is one line when it is whole: its size, its
// time and its rate. Each chunk of 256 KiB takes 100 ms here.
TEST(Conversation, ATransferAboveTheLimitIsOneLineWithItsSizeTimeAndRate) {
  constexpr std::size_t kChunk = 256 << 10;
  const std::string big(3 << 20, 'x'), limit(1 << 20, 'y');
  struct Case {
    const char* name;
    std::string kind;  // fetch, push, refused push, log
    const std::string& data;
    std::vector<std::string> lines;
  } cases[] = {
      {"a fetch", "fetch", big, {"received /big.bin from the client: 3.0 MiB in 1.2 s (2.5 MiB/s)"}},
      {"a fetch at the limit", "fetch", limit, {}},
      {"a push", "push", big, {"sent /big.bin to the client: 3.0 MiB in 1.2 s (2.5 MiB/s)"}},
      {"a push at the limit", "push", limit, {}},
      {"a push the client refused", "refused push", big, {}},
      {"the client log", "log", big, {"received the client log: 3.0 MiB in 1.2 s (2.5 MiB/s)"}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    ConversationLimits limits;
    limits.chunkBytes = kChunk;
    limits.progressBytes = 1 << 20;
    limits.maxLogBytes = 8 << 20;
    Talk t([&](auto& type, auto& id, auto&) {
      if (type == "RQFIL") return frame("ANFIL", id, c.data);
      if (type == "RQLOG") return frame("ANLOG", id, c.data);
      return frame("AN" + type.substr(2), id, type == "RQCHG" ? kNoChange : "");
    }, limits);
    t.clock.step = 0;
    t.link.answerDataAtHeader = c.kind == "refused push";
    if (c.kind == "fetch") {
      t.talk.fetchFile("/big.bin", [&](std::string_view) { return t.clock.advance(100), true; }, "temp");
    } else if (c.kind == "log") {
      struct SlowLog : StringLog {
        explicit SlowLog(StepClock& clock) : clock(clock) {}
        bool write(std::string_view data) override { return clock.advance(100), StringLog::write(data); }
        StepClock& clock;
      } log(t.clock);
      t.talk.uploadLog(log);
      EXPECT_EQ(log.bytes.size(), c.data.size());
    } else {
      struct SlowSource : StringSource {
        SlowSource(const std::string& data, StepClock& clock) : StringSource(data, data.size()), clock(clock) {}
        std::size_t read(char* into, std::size_t n) override { return clock.advance(100), StringSource::read(into, n); }
        StepClock& clock;
      } source(c.data, t.clock);
      t.talk.sendData("/big.bin", source);
    }
    EXPECT_EQ(t.lines, c.lines);
  }
}

}  // namespace
}  // namespace kqs
