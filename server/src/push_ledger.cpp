#include "push_ledger.h"

#include <algorithm>

namespace kqs {

namespace {

// below: the records of host at path and under it (prefix + path + "/...").
template <class Record>
std::map<std::string, Record> below(const std::map<std::string, Record>& records, const std::string& host,
                                    const std::string& path) {
  std::map<std::string, Record> out;
  std::string prefix = host + "\n";
  if (auto it = records.find(prefix + path); it != records.end()) out[path] = it->second;
  for (auto it = records.lower_bound(prefix + path + "/"); it != records.end(); ++it) {
    if (it->first.compare(0, prefix.size() + path.size() + 1, prefix + path + "/") != 0) break;
    out[it->first.substr(prefix.size())] = it->second;
  }
  return out;
}

template <class Record>
std::map<std::string, Record> ofHost(const std::map<std::string, Record>& records, const std::string& host) {
  std::map<std::string, Record> out;
  std::string prefix = host + "\n";
  for (auto it = records.lower_bound(prefix); it != records.end(); ++it) {
    if (it->first.compare(0, prefix.size(), prefix) != 0) break;
    out[it->first.substr(prefix.size())] = it->second;
  }
  return out;
}

// putBounded sets records[key]; at the bound the record that ended first goes.
template <class Record>
void putBounded(std::map<std::string, Record>& records, std::size_t max, const std::string& key, const Record& r) {
  if (records.size() >= max && records.count(key) == 0 && !records.empty()) {
    auto oldest = std::min_element(records.begin(), records.end(),
                                   [](auto& a, auto& b) { return a.second.endedAt < b.second.endedAt; });
    records.erase(oldest);
  }
  records[key] = r;
}

}  // namespace

void PushRecords::record(const std::string& host, const std::string& path, const PushAttempt& attempt) {
  putBounded(records_, max_, key(host, path), attempt);
}

bool PushRecords::end(const std::string& host, const std::string& path, const PushAttempt& attempt,
                      std::int64_t endedAt, bool complete) {
  auto it = records_.find(key(host, path));
  if (it == records_.end() || it->second.startedAt != attempt.startedAt || it->second.version != attempt.version) {
    return false;
  }
  it->second.endedAt = endedAt;
  it->second.complete = complete;
  return true;
}

std::optional<PushAttempt> PushRecords::find(const std::string& host, const std::string& path) const {
  auto it = records_.find(key(host, path));
  if (it == records_.end()) return std::nullopt;
  return it->second;
}

void PushRecords::erase(const std::string& host, const std::string& path) { records_.erase(key(host, path)); }


std::map<std::string, PushAttempt> PushRecords::forHost(const std::string& host) const {
  return ofHost(records_, host);
}

std::map<std::string, PushAttempt> PushRecords::forHostIn(const std::string& host, const std::string& path) const {
  return below(records_, host, path);
}

void FetchRecords::record(const std::string& host, const std::string& path, const FetchedCopy& copy) {
  putBounded(records_, max_, host + "\n" + path, copy);
}

std::map<std::string, FetchedCopy> FetchRecords::forHost(const std::string& host) const {
  return ofHost(records_, host);
}

std::map<std::string, FetchedCopy> FetchRecords::forHostIn(const std::string& host, const std::string& path) const {
  return below(records_, host, path);
}

void PushLedger::refused(const std::string& path) {
  refused_.insert(path);
  records_.erase(host_, path);
}

std::vector<PushRetry> PushLedger::review(const std::vector<Action>& plan,
                                          const std::map<std::string, std::int64_t>& inStep,
                                          const std::map<std::string, StoreEntry>& store, std::int64_t now) {
  std::set<std::string> again;
  for (auto& a : plan) {
    if (a.kind == ActionKind::PushFile) again.insert(a.path);
  }
  std::vector<PushRetry> retries;
  for (auto& path : awaiting_) {
    auto record = records_.find(host_, path);
    auto entry = store.find(path);
    bool sameVersion = record && entry != store.end() && !entry->second.deleted &&
                       entry->second.version == record->version;
    bool listed = inStep.count(path) != 0;
    if (again.count(path) == 0 || !sameVersion) {
      backoff_.erase(path);
      if (listed && record) records_.erase(host_, path);
      continue;
    }
    auto& b = backoff_[path];
    b.delaySeconds = b.delaySeconds == 0 ? firstRetry_ : std::min(maxRetry_, b.delaySeconds * 2);
    b.nextTry = now + b.delaySeconds;
    retries.push_back({path, b.delaySeconds, listed});
  }
  awaiting_.clear();
  return retries;
}

bool PushLedger::backingOff(const std::string& path, std::int64_t now) const {
  auto it = backoff_.find(path);
  return it != backoff_.end() && now < it->second.nextTry;
}

void PushLedger::fill(PlanInput& in) const {
  in.refused = refused_;
  in.pushes = records_.forHost(host_);
}

void PushLedger::fillAround(PlanInput& in, const std::string& path) const {
  in.refused = refused_;
  in.pushes.merge(records_.forHostIn(host_, path));
}

}  // namespace kqs
