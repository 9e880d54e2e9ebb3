#include "swap_rules.h"

#include "plan_rules.h"

namespace kqs::plan {

namespace {

constexpr const char* kUnclearItem =
    "listed without a size or date and with nothing inside (an empty folder, or a file the client cannot read) "
    "where the store holds a file; the store's file stays until the client's item is clear";

// heldByClient: this connection left s's version in step with the client, or
// an earlier listing of it showed the client holding that version.
bool heldByClient(const StoreEntry& s, const PlanInput& in) {
  if (auto* base = sessionVersion(in, s.path); base != nullptr && *base == s.version) return true;
  auto it = in.listed.find(s.path);
  return it != in.listed.end() && it->second == s.version;
}

// folderHeld: the client held the folder s and everything live in it, so
// nothing in it is new to the client.
bool folderHeld(const StoreEntry& s, const PlanInput& in) {
  if (!heldByClient(s, in)) return false;
  for (auto it = in.store.upper_bound(s.path); it != in.store.end(); ++it) {
    if (it->first.compare(0, s.path.size(), s.path) != 0) break;
    if (!isUnder(it->first, s.path) || it->second.deleted) continue;
    if (!heldByClient(it->second, in)) return false;
  }
  return true;
}

// heldOtherVersion: this connection last left another item at s's path in step
// with the client (the one the store replaced since).
bool heldOtherVersion(const StoreEntry& s, const PlanInput& in) {
  if (auto* base = sessionVersion(in, s.path)) return *base != s.version;
  auto it = in.listed.find(s.path);
  return it != in.listed.end() && it->second != s.version;
}

// heldBelow: this connection knows of an item below path: it left a folder there.
bool heldBelow(const std::string& path, const PlanInput& in) {
  for (auto* known : {&in.session, &in.listed}) {
    auto it = known->upper_bound(path);
    for (; it != known->end() && it->first.compare(0, path.size(), path) == 0; ++it) {
      if (isUnder(it->first, path)) return true;
    }
  }
  return false;
}

// listsBelow: the listing holds an entry inside path.
bool listsBelow(const SortedListing& listing, const std::string& path) {
  for (auto i = listing.upperBound(path); i < listing.size(); ++i) {
    const std::string& p = listing[i].path;
    if (isUnder(p, path)) return true;
    if (p.compare(0, path.size(), path) != 0) return false;
  }
  return false;
}

Action swap(ActionKind kind, const std::string& path, bool isDir, FetchMode mode) {
  Action a = make(kind, path, isDir);
  a.replaces = true;
  a.mode = mode;
  return a;
}

Action fetchSwap(const std::string& path, std::int64_t size, std::int64_t mtime, FetchMode mode) {
  Action a = swap(ActionKind::Fetch, path, false, mode);
  a.size = size;
  a.mtime = mtime;
  return a;
}

Action pushSwap(const std::string& path, bool isDir, const PlanInput& in) {
  Action a = push(path, isDir, in);
  if (a.kind != ActionKind::Skip) a.replaces = true;
  return a;
}

}  // namespace

Action planFileOverFolder(const ListingEntry& c, const StoreEntry& s, const PlanInput& in) {
  // The client replaced the folder it held by this file.
  if (folderHeld(s, in)) return fetchSwap(c.path, c.size, c.mtime, FetchMode::ReplacesFolder);
  // The client's file is the one the server saw: the store replaced it by the folder.
  if (knownCopy(in, c) != nullptr || holdsLastPush(c, in)) return pushSwap(c.path, true, in);
  // Both changed: the client's file is kept beside the store's folder, which then goes to the client.
  return fetchSwap(c.path, c.size, c.mtime, FetchMode::Merge);
}

Action planFolderOverFile(const ListingEntry& c, const SortedListing& listing, const StoreEntry& s,
                          const PlanInput& in) {
  // A listing gives a folder no size and no date, and so it does a file the
  // client could not read: only what is listed inside makes it a folder.
  if (!listsBelow(listing, c.path)) return skip(c.path, kUnclearItem);
  // The client replaced the file it held by this folder.
  if (clientHeld(in, c.path, s) || heldByClient(s, in)) {
    return swap(ActionKind::CreateStoreFolder, c.path, true, FetchMode::ClientChanged);
  }
  // The client's folder is the one this connection left in step and holds
  // nothing new to the store: the store replaced it by the file.
  if (heldOtherVersion(s, in) && heldBelow(c.path, in) && !subtreeNeedsFetch(listing, c.path, in)) {
    return pushSwap(c.path, false, in);
  }
  // Both changed: the store's file goes beside the client's folder under a conflict name.
  return swap(ActionKind::CreateStoreFolder, c.path, true, FetchMode::Merge);
}

Action planReportedFileOverFolder(const ChangeReport& r, const StoreEntry& s, const PlanInput& in) {
  if (!folderHeld(s, in)) return skip(r.path, "");
  return fetchSwap(r.path, r.size, 0, FetchMode::ReplacesFolder);
}

bool replacesFolder(const Action& a) {
  if (!a.replaces) return false;
  return a.kind == ActionKind::PushFile || (a.kind == ActionKind::Fetch && a.mode == FetchMode::ReplacesFolder);
}

}  // namespace kqs::plan
