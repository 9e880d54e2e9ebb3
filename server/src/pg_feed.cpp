#include "pg_feed.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <random>

namespace kqs {

const std::string& pgNodeToken() {
  static const std::string token = [] {
    std::random_device random;
    char text[40];
    std::snprintf(text, sizeof text, "%08x%08x-%d", random(), random(), static_cast<int>(::getpid()));
    return std::string(text);
  }();
  return token;
}

void pgAnnounce(PgConnection& db, const std::string& contract) {
  db.run("SELECT pg_notify($1, $2)", {std::string(kPgChangeChannel), contract + " " + pgNodeToken()});
}

void pgAnnounceChange(const std::string& url, const std::string& contract) noexcept {
  try {
    PgConnection db(url);
    pgAnnounce(db, contract);
  } catch (...) {
    // the safety scan finds it
  }
}

std::shared_ptr<PgChangeFeed> PgChangeFeed::forUrl(const std::string& url) {
  static std::mutex mutex;
  static std::map<std::string, std::weak_ptr<PgChangeFeed>> feeds;
  std::lock_guard guard(mutex);
  if (auto feed = feeds[url].lock()) return feed;
  auto feed = std::make_shared<PgChangeFeed>(url);
  feeds[url] = feed;
  return feed;
}

PgChangeFeed::PgChangeFeed(std::string url) : url_(std::move(url)) {
  if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) throw IndexError("cannot make the change feed's pipe");
  thread_ = std::thread([this] { run(); });
}

PgChangeFeed::~PgChangeFeed() {
  stopping_ = true;
  char byte = 1;
  [[maybe_unused]] auto n = ::write(wake_[1], &byte, 1);
  thread_.join();
  ::close(wake_[0]);
  ::close(wake_[1]);
}

std::shared_ptr<std::atomic<bool>> PgChangeFeed::subscribe(const std::string& contract) {
  auto flag = std::make_shared<std::atomic<bool>>(false);
  std::lock_guard guard(mutex_);
  flags_.emplace(contract, flag);
  return flag;
}

void PgChangeFeed::raise(const std::string& contract) {
  std::lock_guard guard(mutex_);
  for (auto it = flags_.begin(); it != flags_.end();) {
    auto flag = it->second.lock();
    if (!flag) {
      it = flags_.erase(it);
      continue;
    }
    if (contract.empty() || it->first == contract) *flag = true;
    ++it;
  }
}

void PgChangeFeed::run() {
  while (!stopping_) {
    try {
      listenOnce();
    } catch (const std::exception&) {
      // the database is away; the stores are scanned by their safety interval meanwhile
    }
    listening_ = false;
    raise("");  // what was announced while nobody listened is unknown
    pollfd wake{wake_[0], POLLIN, 0};
    if (!stopping_) ::poll(&wake, 1, 2000);  // try again in a while
  }
}

void PgChangeFeed::listenOnce() {
  PgConnection db(url_);
  db.exec(std::string("LISTEN ") + kPgChangeChannel);
  raise("");  // changes made before this listened are not known either
  listening_ = true;
  while (!stopping_) {
    pollfd fds[2] = {{PQsocket(db.raw()), POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(fds, 2, 5000) < 0) continue;
    if (fds[1].revents != 0) return;
    if (PQconsumeInput(db.raw()) == 0 || !db.alive()) return;
    while (PGnotify* note = PQnotifies(db.raw())) {
      std::string payload = note->extra;
      PQfreemem(note);
      auto blank = payload.find(' ');
      if (blank == std::string::npos || payload.substr(blank + 1) == pgNodeToken()) continue;
      raise(payload.substr(0, blank));
    }
  }
}

}  // namespace kqs
