#include "planner.h"

#include <algorithm>
#include <set>

#include "wire/name_rule.h"

namespace kqs {

namespace {

constexpr const char* kKeptByClient = "kept by the client after its deletion was ordered";
constexpr const char* kInferred = "gone from the client's listing";
constexpr std::int64_t kPushSlackSeconds = 2;  // clock steps and one-second stamps around a push

Action skip(const std::string& path, std::string note) {
  Action a;
  a.path = path;
  a.note = std::move(note);
  return a;
}

Action make(ActionKind kind, const std::string& path, bool isDir = false) {
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

// push offers a store file or folder to the client, unless the client refused it on this connection.
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

const KnownCopy* knownCopy(const PlanInput& in, const ListingEntry& c) {
  auto it = in.known.find(c.path);
  if (it == in.known.end()) return nullptr;
  for (auto& k : it->second) {
    if (k.size == c.size && k.mtime == c.mtime) return &k;
  }
  return nullptr;
}

// changedSince is true when the store holds a newer version than the one this
// connection last left in step with the client.
bool changedSince(const PlanInput& in, const std::string& path, const StoreEntry& s) {
  auto* base = sessionVersion(in, path);
  return base != nullptr && s.version != *base;
}

// clientHeld is true when the client is known to have held the store's current
// version of path: this connection left it in step with it, or (without a
// record of this connection) a recorded copy of the client has its content.
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

Action planModified(const ChangeReport& r, const PlanInput& in) {
  if (r.size < 0) return skip(r.path, "no longer a file on the client");
  auto* s = find(in, r.path);
  if (s != nullptr && !s->deleted && s->isDir) return skip(r.path, "a folder in the store");
  if (s != nullptr && !s->deleted && explainedByPush(r.path, r.size, 0, in)) {
    return skip(r.path, "shorter than the unfinished push to the client; not taken as a client edit");
  }
  Action a = make(ActionKind::Fetch, r.path);
  a.size = r.size;
  a.mode = s != nullptr && !s->deleted && !clientHeld(in, r.path, *s) ? FetchMode::Merge : FetchMode::ClientChanged;
  return a;
}

Action planDeleted(const ChangeReport& r, const PlanInput& in) {
  auto* s = find(in, r.path);
  if (s == nullptr || s->deleted) return skip(r.path, "not in the store");
  if (!s->isDir && changedSince(in, r.path, *s)) return skip(r.path, "changed in the store since the client saw it; kept");
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

// Listing is the client's listing keyed by path, relocated by planned moves.
using Listing = std::map<std::string, ListingEntry>;

void relocate(Listing& listing, const std::string& from, const std::string& to) {
  Listing moved;
  for (auto it = listing.begin(); it != listing.end();) {
    if (it->first == from || isUnder(it->first, from)) {
      ListingEntry e = it->second;
      e.path = to + it->first.substr(from.size());
      moved[e.path] = e;
      it = listing.erase(it);
    } else {
      ++it;
    }
  }
  listing.insert(moved.begin(), moved.end());
}

void planMoves(Listing& listing, const PlanInput& in, std::vector<Action>& out) {
  for (auto& m : in.moves) {
    if (std::find(in.failedMoves.begin(), in.failedMoves.end(), m.from) != in.failedMoves.end()) continue;
    auto from = listing.find(m.from);
    auto* src = find(in, m.from);
    auto* dst = find(in, m.to);
    if (from == listing.end() || !from->second.isDir || listing.count(m.to) != 0) continue;
    if (src == nullptr || !src->deleted || dst == nullptr || dst->deleted || !dst->isDir) continue;
    if (!isSyncedName(m.to) || !clientNameRefusal(m.to).empty()) continue;
    Action a = make(ActionKind::MoveOnClient, m.from, true);
    a.target = m.to;
    out.push_back(a);
    relocate(listing, m.from, m.to);
  }
}

// needsFetch is true for a client file that the store lacks or deleted before
// the client last changed it.
bool needsFetch(const ListingEntry& c, const PlanInput& in) {
  if (c.isDir) return false;
  auto* s = find(in, c.path);
  return s == nullptr || (s->deleted && s->deletedAt < c.mtime);
}

bool subtreeNeedsFetch(const Listing& listing, const std::string& folder, const PlanInput& in) {
  for (auto it = listing.upper_bound(folder); it != listing.end(); ++it) {
    if (!isUnder(it->first, folder)) {
      if (it->first.compare(0, folder.size(), folder) != 0) break;
      continue;
    }
    if (needsFetch(it->second, in)) return true;
  }
  return false;
}

// holdsLastPush: the copy is what this connection's last push left there: the
// pushed size, stamped while the push ran (the client answered it).
bool holdsLastPush(const ListingEntry& c, const PlanInput& in) {
  auto it = in.pushes.find(c.path);
  if (it == in.pushes.end() || !it->second.complete) return false;
  const PushAttempt& p = it->second;
  return c.size == p.size && c.mtime >= p.startedAt - kPushSlackSeconds && c.mtime <= p.endedAt;
}

Action planClientFile(const ListingEntry& c, const PlanInput& in) {
  auto* s = find(in, c.path);
  Action fetch = make(ActionKind::Fetch, c.path);
  fetch.size = c.size;
  fetch.mtime = c.mtime;
  if (s == nullptr) return fetch;
  if (s->isDir && !s->deleted) return skip(c.path, "a file on the client, a folder in the store");
  if (s->deleted) {
    if (s->deletedAt < c.mtime) return fetch;
    if (deletionOrderedFor(*s, in)) return skip(c.path, kKeptByClient);
    return make(ActionKind::DeleteOnClient, c.path);
  }
  Action known = make(ActionKind::RecordKnown, c.path);
  known.size = c.size;
  known.mtime = c.mtime;
  known.hash = s->hash;
  if (auto* k = knownCopy(in, c)) {
    if (k->hash == s->hash) return skip(c.path, "");
    return push(c.path, false, in);
  }
  auto* base = sessionVersion(in, c.path);
  // The same size and time only tell that the client holds the store's file
  // when this connection has not given it another version: a copy pushed in
  // the same second as a later store edit has that edit's time by chance.
  bool sameFile = base != nullptr ? *base == s->version : c.mtime == s->mtime;
  if (c.size == s->size && sameFile) return known;
  if (base != nullptr && *base != s->version && holdsLastPush(c, in)) return push(c.path, false, in);
  if (explainedByPush(c.path, c.size, c.mtime, in)) return push(c.path, false, in);
  fetch.mode = base != nullptr && *base == s->version ? FetchMode::ClientChanged : FetchMode::Merge;
  return fetch;
}

Action planClientFolder(const ListingEntry& c, const Listing& listing, const PlanInput& in) {
  auto* s = find(in, c.path);
  if (s == nullptr) return make(ActionKind::CreateStoreFolder, c.path, true);
  if (!s->deleted) return s->isDir ? skip(c.path, "") : skip(c.path, "a folder on the client, a file in the store");
  if (subtreeNeedsFetch(listing, c.path, in)) return make(ActionKind::CreateStoreFolder, c.path, true);
  if (deletionOrderedFor(*s, in)) return skip(c.path, kKeptByClient);
  return make(ActionKind::DeleteOnClient, c.path, true);
}

bool listedBefore(const StoreEntry& s, const PlanInput& in) {
  auto it = in.listed.find(s.path);
  return !s.deleted && it != in.listed.end() && it->second == s.version;
}

// removedOnClient: the client held this version (a folder: everything live in
// it) in an earlier listing, and it is gone from this one.
bool removedOnClient(const StoreEntry& s, const PlanInput& in) {
  if (!listedBefore(s, in)) return false;
  if (!s.isDir) return true;
  for (auto it = in.store.upper_bound(s.path); it != in.store.end(); ++it) {
    if (it->first.compare(0, s.path.size(), s.path) != 0) break;
    if (!isUnder(it->first, s.path) || it->second.deleted) continue;
    if (!listedBefore(it->second, in)) return false;
  }
  return true;
}

Action planStoreOnly(const StoreEntry& s, const PlanInput& in, bool listingComplete) {
  if (s.deleted) return skip(s.path, "");
  if (listingComplete && removedOnClient(s, in)) {
    Action a = make(ActionKind::DeleteInStore, s.path, s.isDir);
    a.note = kInferred;
    return a;
  }
  return push(s.path, s.isDir, in);
}

bool isInferredDeletion(const Action& a) { return a.kind == ActionKind::DeleteInStore && a.note == kInferred; }

// guardMassDeletion drops the deletions inferred from this listing when they
// are too many at once: more than kMaxInferredDeletions entries or more than
// half of the store's files. One Skip says so; the entries are pushed again later.
void guardMassDeletion(std::vector<Action>& plan, const PlanInput& in) {
  std::int64_t entries = 0, files = 0, liveFiles = 0;
  for (auto& [p, s] : in.store) {
    if (!s.deleted && !s.isDir && isSyncedName(p)) ++liveFiles;
  }
  for (auto& a : plan) {
    if (!isInferredDeletion(a)) continue;
    for (auto it = in.store.lower_bound(a.path); it != in.store.end(); ++it) {
      if (it->first != a.path && !isUnder(it->first, a.path)) {
        if (it->first.compare(0, a.path.size(), a.path) != 0) break;
        continue;
      }
      if (it->second.deleted) continue;
      ++entries;
      files += it->second.isDir ? 0 : 1;
    }
  }
  if (entries <= kMaxInferredDeletions && files * 2 <= liveFiles) return;
  plan.erase(std::remove_if(plan.begin(), plan.end(), isInferredDeletion), plan.end());
  plan.push_back(skip("/", std::to_string(entries) + " entries (" + std::to_string(files) + " of " +
                               std::to_string(liveFiles) + " files) are gone from the client's listing at once; "
                               "more than " + std::to_string(kMaxInferredDeletions) +
                               " entries or half of the files, so nothing is deleted in the store"));
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
  for (auto& r : reports) {
    if (r.changetype.empty()) continue;
    if (!isSyncedName(r.path)) { out.push_back(skip(r.path, "not synchronised")); continue; }
    if (auto why = clientNameRefusal(r.path); !why.empty()) {
      out.push_back(failed(r.path, "cannot be synchronised: " + why));
      continue;
    }
    if (r.changetype == "MODIFIED") out.push_back(planModified(r, in));
    else if (r.changetype == "DELETED") out.push_back(planDeleted(r, in));
    else if (r.changetype == "RENAMED") out.push_back(planRenamed(r, in));
    else out.push_back(skip(r.path, "unknown change type " + r.changetype));
  }
  return out;
}

std::vector<Action> planListing(const std::vector<ListingEntry>& entries, const PlanInput& in) {
  Listing listing;
  for (auto& e : entries) {
    if (isSyncedName(e.path)) listing[e.path] = e;
  }
  std::vector<Action> out;
  planMoves(listing, in, out);
  std::set<std::string> paths;
  for (auto& [p, e] : listing) paths.insert(p);
  for (auto& [p, s] : in.store) {
    if (isSyncedName(p)) paths.insert(p);
  }
  // A listing without synchronised entries says nothing about what the client
  // removed (a sync folder that went missing is listed empty or with only the
  // client's own folders); absence counts only otherwise.
  bool listingComplete = !listing.empty();
  std::string deletedFolder;  // subtree removed on the client or in the store by this plan
  std::string refusedFolder;  // subtree under a name the client cannot hold
  for (auto& path : paths) {
    if (!deletedFolder.empty() && isUnder(path, deletedFolder)) continue;
    if (!refusedFolder.empty() && isUnder(path, refusedFolder)) continue;
    auto c = listing.find(path);
    auto* s = find(in, path);
    if (auto why = clientNameRefusal(path); !why.empty()) {
      if (c == listing.end() && (s == nullptr || s->deleted)) continue;
      out.push_back(failed(path, "cannot be synchronised with this client: " + why));
      if ((c != listing.end() && c->second.isDir) || (s != nullptr && !s->deleted && s->isDir)) refusedFolder = path;
      continue;
    }
    Action a;
    if (c == listing.end()) a = planStoreOnly(*s, in, listingComplete);
    else if (c->second.isDir) a = planClientFolder(c->second, listing, in);
    else a = planClientFile(c->second, in);
    if ((a.kind == ActionKind::DeleteOnClient || a.kind == ActionKind::DeleteInStore) && a.isDir) deletedFolder = path;
    if (a.kind == ActionKind::Skip && a.note.empty()) continue;
    out.push_back(a);
  }
  guardMassDeletion(out, in);
  return out;
}

std::map<std::string, std::int64_t> listedInStep(const std::vector<ListingEntry>& entries, const PlanInput& in) {
  std::map<std::string, std::int64_t> out;
  for (auto& c : entries) {
    auto* s = isSyncedName(c.path) ? find(in, c.path) : nullptr;
    if (s == nullptr || s->deleted || s->isDir != c.isDir) continue;
    Action a = c.isDir ? skip(c.path, "") : planClientFile(c, in);
    if (a.kind == ActionKind::RecordKnown || (a.kind == ActionKind::Skip && a.note.empty())) out[c.path] = s->version;
  }
  return out;
}

}  // namespace kqs
