#include "planner.h"

#include <algorithm>

#include "plan_rules.h"
#include "swap_rules.h"
#include "wire/name_rule.h"

namespace kqs {

namespace plan {

Action skip(const std::string& path, std::string note) {
  Action a;
  a.path = path;
  a.note = std::move(note);
  return a;
}

Action make(ActionKind kind, const std::string& path, bool isDir) {
  Action a;
  a.kind = kind;
  a.path = path;
  a.isDir = isDir;
  return a;
}

Action failed(const std::string& path, std::string note) {
  Action a = skip(path, std::move(note));
  a.failed = true;
  return a;
}

Action push(const std::string& path, bool isDir, const PlanInput& in) {
  if (!isDir && in.refused.count(path) != 0) return skip(path, "");
  return make(isDir ? ActionKind::PushFolder : ActionKind::PushFile, path, isDir);
}

const StoreEntry* find(const PlanInput& in, const std::string& path) {
  auto it = in.store.find(path);
  return it == in.store.end() ? nullptr : &it->second;
}

const std::int64_t* sessionVersion(const PlanInput& in, const std::string& path) {
  auto it = in.session.find(path);
  return it == in.session.end() ? nullptr : &it->second;
}

bool clientHeld(const PlanInput& in, const std::string& path, const StoreEntry& s) {
  if (auto* base = sessionVersion(in, path)) return *base == s.version;
  auto it = in.known.find(path);
  if (it == in.known.end()) return false;
  for (auto& k : it->second) {
    if (k.hash == s.hash) return true;
  }
  return false;
}

bool deletionOrderedFor(const StoreEntry& s, const PlanInput& in) {
  auto it = in.deletionOrdered.find(s.path);
  return it != in.deletionOrdered.end() && it->second == s.deletedAt;
}

}  // namespace plan

namespace {

using namespace plan;

// changedSince is true when the store holds a newer version than the one this
// connection last left in step with the client.
bool changedSince(const PlanInput& in, const std::string& path, const StoreEntry& s) {
  auto* base = sessionVersion(in, path);
  return base != nullptr && s.version != *base;
}

// belowStoreFile is true when a folder above path is a file in the store: the
// client made a folder of it, which the listing tells first.
bool belowStoreFile(const std::string& path, const PlanInput& in) {
  for (auto slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    auto* s = find(in, path.substr(0, slash));
    if (s != nullptr && !s->deleted && !s->isDir) return true;
  }
  return false;
}

Action planModified(const ChangeReport& r, const PlanInput& in) {
  if (r.size < 0) return skip(r.path, "no longer a file on the client");
  if (belowStoreFile(r.path, in)) return skip(r.path, "");
  auto* s = find(in, r.path);
  if (s != nullptr && !s->deleted && s->isDir) return planReportedFileOverFolder(r, *s, in);
  if (s != nullptr && !s->deleted && explainedByPush(r.path, r.size, 0, in)) {
    return skip(r.path, "shorter than the unfinished push to the client; not taken as a client edit");
  }
  Action a = make(ActionKind::Fetch, r.path);
  a.size = r.size;
  a.mode = s != nullptr && !s->deleted && !clientHeld(in, r.path, *s) ? FetchMode::Merge : FetchMode::ClientChanged;
  return a;
}

// echoOfOrderedDeletion: this connection ordered the deletion of path and has
// not given the client the file that stands there since: a report of the
// deletion is the client's echo of that order, not the user's deletion of it.
bool echoOfOrderedDeletion(const std::string& path, const PlanInput& in) {
  return in.deletionOrdered.count(path) != 0 && sessionVersion(in, path) == nullptr;
}

Action planDeleted(const ChangeReport& r, const PlanInput& in) {
  auto* s = find(in, r.path);
  if (s == nullptr || s->deleted) return skip(r.path, "not in the store");
  // A file stands at the path again (a save by replacing, a folder replaced
  // by a file): its own report or the listing tells what it is.
  if (r.size >= 0) return skip(r.path, "");
  if (!s->isDir && changedSince(in, r.path, *s)) return skip(r.path, "changed in the store since the client saw it; kept");
  if (echoOfOrderedDeletion(r.path, in)) {
    return skip(r.path, "the client's late report of the deletion ordered earlier; the file put back since is kept");
  }
  return make(ActionKind::DeleteInStore, r.path, s->isDir);
}

// alreadyAt: the store already holds at target what it holds at source (a
// listing took the renamed copy before the rename was reported): every live
// file under source has a file of the same content at the same place under target.
bool alreadyAt(const StoreEntry& source, const std::string& target, const PlanInput& in) {
  auto* t = find(in, target);
  if (t == nullptr || t->deleted || t->isDir != source.isDir) return false;
  if (!source.isDir) return t->hash == source.hash;
  for (auto it = in.store.upper_bound(source.path); it != in.store.end(); ++it) {
    if (it->first.compare(0, source.path.size(), source.path) != 0) break;
    if (!isUnder(it->first, source.path) || it->second.deleted) continue;
    auto* moved = find(in, target + it->first.substr(source.path.size()));
    if (moved == nullptr || moved->deleted || moved->isDir != it->second.isDir) return false;
    if (!moved->isDir && moved->hash != it->second.hash) return false;
  }
  return true;
}

Action planRenamed(const ChangeReport& r, const PlanInput& in) {
  const auto& name = r.newname;
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
      name.find('\\') != std::string::npos) {
    return skip(r.path, "unusable new name");
  }
  std::string target = parentOf(r.path) + "/" + name;
  if (!isSyncedName(target)) return skip(r.path, "new name is not synchronised");
  if (auto why = clientNameRefusal(target); !why.empty()) return failed(r.path, "new name cannot be synchronised: " + why);
  auto* s = find(in, r.path);
  if (s == nullptr || s->deleted) return skip(r.path, "not in the store");
  // The renamed copy is in the store already: what is left is the old name.
  if (alreadyAt(*s, target, in)) return make(ActionKind::DeleteInStore, r.path, s->isDir);
  Action a = make(ActionKind::RenameInStore, r.path, s->isDir);
  a.target = target;
  return a;
}

}  // namespace

bool isSyncedName(const std::string& path) { return !isSystemPath(path) && !isExcludedName(path); }

std::string clientNameRefusal(const std::string& path) { return kq::pathRefusal(path, kq::NameText::Utf8); }

bool explainedByPush(const std::string& path, std::int64_t size, std::int64_t mtime, const PlanInput& in) {
  auto it = in.pushes.find(path);
  if (it == in.pushes.end()) return false;
  const PushAttempt& p = it->second;
  if (size >= p.size) return false;
  if (mtime == 0) return true;
  // A push the client answered wrote its last byte before the answer; a copy
  // stamped later is the user's. A cut-off push may have written a little longer.
  std::int64_t last = p.complete ? p.endedAt : p.endedAt + kPushSlackSeconds;
  return mtime >= p.startedAt - kPushSlackSeconds && mtime <= last;
}

bool isOnlySystemListing(const std::vector<ListingEntry>& listing) {
  return std::all_of(listing.begin(), listing.end(), [](const ListingEntry& e) { return isSystemPath(e.path); });
}

std::vector<Action> planChanges(const std::vector<ChangeReport>& reports, const PlanInput& in) {
  std::vector<Action> out;
  std::vector<std::string> replaced;  // folders that a file replaces in this drain
  for (auto& r : reports) {
    if (r.changetype.empty()) continue;
    // What was below a replaced folder goes with it (kept as versions).
    if (std::any_of(replaced.begin(), replaced.end(), [&](auto& f) { return isUnder(r.path, f); })) continue;
    if (!isSyncedName(r.path)) { out.push_back(skip(r.path, "not synchronised")); continue; }
    if (auto why = clientNameRefusal(r.path); !why.empty()) {
      out.push_back(failed(r.path, "cannot be synchronised: " + why));
      continue;
    }
    Action a = r.changetype == "MODIFIED"  ? planModified(r, in)
               : r.changetype == "DELETED" ? planDeleted(r, in)
               : r.changetype == "RENAMED" ? planRenamed(r, in)
                                           : skip(r.path, "unknown change type " + r.changetype);
    if (a.kind == ActionKind::Skip && a.note.empty()) continue;  // nothing to do, nothing to say
    if (replacesFolder(a)) replaced.push_back(a.path);
    out.push_back(std::move(a));
  }
  return out;
}

}  // namespace kqs
