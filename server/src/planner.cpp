#include "planner.h"

#include <algorithm>
#include <set>

namespace kqs {

namespace {

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

Action planModified(const ChangeReport& r, const PlanInput& in) {
  if (r.size < 0) return skip(r.path, "no longer a file on the client");
  auto* s = find(in, r.path);
  if (s != nullptr && !s->deleted && s->isDir) return skip(r.path, "a folder in the store");
  Action a = make(ActionKind::Fetch, r.path);
  a.size = r.size;
  a.mode = s != nullptr && !s->deleted && changedSince(in, r.path, *s) ? FetchMode::Merge : FetchMode::ClientChanged;
  return a;
}

Action planDeleted(const ChangeReport& r, const PlanInput& in) {
  auto* s = find(in, r.path);
  if (s == nullptr || s->deleted) return skip(r.path, "not in the store");
  if (!s->isDir && changedSince(in, r.path, *s)) return skip(r.path, "changed in the store since the client saw it; kept");
  return make(ActionKind::DeleteInStore, r.path, s->isDir);
}

Action planRenamed(const ChangeReport& r, const PlanInput& in) {
  const auto& name = r.newname;
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
      name.find('\\') != std::string::npos) {
    return skip(r.path, "unusable new name");
  }
  std::string target = parentOf(r.path) + "/" + name;
  if (!isSyncedName(target)) return skip(r.path, "new name is not synchronised");
  auto* s = find(in, r.path);
  if (s == nullptr || s->deleted) return skip(r.path, "not in the store");
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
    if (!isSyncedName(m.to)) continue;
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

Action planClientFile(const ListingEntry& c, const PlanInput& in) {
  auto* s = find(in, c.path);
  Action fetch = make(ActionKind::Fetch, c.path);
  fetch.size = c.size;
  fetch.mtime = c.mtime;
  if (s == nullptr) return fetch;
  if (s->isDir && !s->deleted) return skip(c.path, "a file on the client, a folder in the store");
  if (s->deleted) {
    if (s->deletedAt >= c.mtime) return make(ActionKind::DeleteOnClient, c.path);
    return fetch;
  }
  Action known = make(ActionKind::RecordKnown, c.path);
  known.size = c.size;
  known.mtime = c.mtime;
  known.hash = s->hash;
  if (auto* k = knownCopy(in, c)) {
    if (k->hash == s->hash) return skip(c.path, "");
    return make(ActionKind::PushFile, c.path);
  }
  auto* base = sessionVersion(in, c.path);
  if (c.size == s->size && (c.mtime == s->mtime || (base != nullptr && *base == s->version))) return known;
  fetch.mode = base != nullptr && *base == s->version ? FetchMode::ClientChanged : FetchMode::Merge;
  return fetch;
}

Action planClientFolder(const ListingEntry& c, const Listing& listing, const PlanInput& in) {
  auto* s = find(in, c.path);
  if (s == nullptr) return make(ActionKind::CreateStoreFolder, c.path, true);
  if (!s->deleted) return s->isDir ? skip(c.path, "") : skip(c.path, "a folder on the client, a file in the store");
  if (subtreeNeedsFetch(listing, c.path, in)) return make(ActionKind::CreateStoreFolder, c.path, true);
  return make(ActionKind::DeleteOnClient, c.path, true);
}

Action planStoreOnly(const StoreEntry& s) {
  if (s.deleted) return skip(s.path, "");
  return make(s.isDir ? ActionKind::PushFolder : ActionKind::PushFile, s.path, s.isDir);
}

}  // namespace

bool isSyncedName(const std::string& path) {
  return !isSystemPath(path) && !isExcludedName(path) && isSendablePath(path);
}

std::vector<Action> planChanges(const std::vector<ChangeReport>& reports, const PlanInput& in) {
  std::vector<Action> out;
  for (auto& r : reports) {
    if (r.changetype.empty()) continue;
    if (!isSyncedName(r.path)) { out.push_back(skip(r.path, "not synchronised")); continue; }
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
  std::string deletedFolder;  // subtree removed on the client by this plan
  for (auto& path : paths) {
    if (!deletedFolder.empty() && isUnder(path, deletedFolder)) continue;
    auto c = listing.find(path);
    Action a;
    if (c == listing.end()) a = planStoreOnly(in.store.at(path));
    else if (c->second.isDir) a = planClientFolder(c->second, listing, in);
    else a = planClientFile(c->second, in);
    if (a.kind == ActionKind::DeleteOnClient && a.isDir) deletedFolder = path;
    if (a.kind == ActionKind::Skip && a.note.empty()) continue;
    out.push_back(a);
  }
  return out;
}

}  // namespace kqs
