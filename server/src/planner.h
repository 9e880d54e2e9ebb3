#pragma once
// The reconciliation planner: a pure function from the store index, the
// client's change reports or listing, and what the server knows about the
// client's copies to the list of actions a cycle carries out.
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "wire_text.h"

namespace kqs {

struct StoreEntry {
  std::string path;
  bool isDir = false;
  std::int64_t size = 0;
  std::int64_t mtime = 0;
  std::string hash;
  std::int64_t version = 0;
  bool deleted = false;       // a tombstone
  std::int64_t deletedAt = 0;
  // The file on disk when its content was last hashed (store scans compare these).
  std::int64_t mtimeNs = 0;  // nanoseconds since 1970
  std::int64_t ctimeNs = 0;
  std::int64_t inode = 0;
  bool recheck = false;  // changed within the second of its scan: hashed again by the next scan
};

// KnownCopy is a client copy (path, size, mtime) whose content the server has seen.
struct KnownCopy {
  std::int64_t size = 0;
  std::int64_t mtime = 0;
  std::string hash;
};

// MoveRecord is a folder rename done in the store, oldest first.
struct MoveRecord {
  std::string from, to;
  std::int64_t at = 0;
};

// PushAttempt is the last push of a path to one client: the store version and
// size sent and when the push started and ended (ended also when it was cut off).
struct PushAttempt {
  std::int64_t version = 0;
  std::int64_t size = 0;
  std::int64_t startedAt = 0;
  std::int64_t endedAt = 0;
  bool complete = false;  // the client answered the data
  bool operator==(const PushAttempt&) const = default;
};

// FetchedCopy is the last copy fetched from one client at a path on a change
// report, which tells no time: the store version it became, its size, and when
// the fetch ended. A later listing's copy of that size stamped before then is
// that copy (and is not fetched again, on this connection or the next).
struct FetchedCopy {
  std::int64_t version = 0;
  std::int64_t size = 0;
  std::int64_t endedAt = 0;
  bool operator==(const FetchedCopy&) const = default;
};

// Deletions inferred from listings beyond these limits are not applied: more
// than kMaxInferredDeletions entries, or more than half of the store's files,
// counted over the listings of kInferredWindowSeconds.
constexpr int kMaxInferredDeletions = 50;
constexpr std::int64_t kInferredWindowSeconds = 300;

// InferredCount counts deletions inferred from listings: entries (a folder
// with everything live in it) and the files among them.
struct InferredCount {
  std::int64_t entries = 0;
  std::int64_t files = 0;
  InferredCount& operator+=(const InferredCount& o) {
    entries += o.entries;
    files += o.files;
    return *this;
  }
  bool operator==(const InferredCount&) const = default;
};

struct PlanInput {
  std::map<std::string, StoreEntry> store;
  std::map<std::string, std::vector<KnownCopy>> known;
  // session: path -> store version this connection last left in step with the client.
  std::map<std::string, std::int64_t> session;
  std::vector<MoveRecord> moves;
  std::vector<std::string> failedMoves;  // sources this client refused to move (FLMOV)
  // listed: path -> store version that an earlier listing of this connection
  // showed the client holding. Such an entry missing from a later listing was
  // removed on the client, even when its deletion report was never sent.
  std::map<std::string, std::int64_t> listed;
  // missing: path -> store version of the entries an earlier listing showed
  // the client holding and the last listing lacked. Lacking from this listing
  // too, they are deleted in the store.
  std::map<std::string, std::int64_t> missing;
  // recentInferred: the deletions inferred from this connection's listings
  // and carried out within kInferredWindowSeconds; the guard counts them.
  InferredCount recentInferred;
  // deletionOrdered: path -> deletion time of the tombstone for which this
  // connection already told the client to delete it; a copy still there was
  // kept by the client's deletion policy and is not ordered again.
  std::map<std::string, std::int64_t> deletionOrdered;
  // pushes: path -> the last push of the store's file to this client. A copy
  // that a push the client could not complete explains is not a client edit.
  std::map<std::string, PushAttempt> pushes;
  // fetched: path -> the last copy fetched from this client on a change report.
  std::map<std::string, FetchedCopy> fetched;
  // refused: paths this connection's client refused; they are not offered again.
  std::set<std::string> refused;
};

enum class ActionKind {
  MoveOnClient,       // RQMOV path -> target (folders)
  DeleteOnClient,     // RQDEL path (folder when isDir)
  CreateStoreFolder,  // make folder path in the store
  Fetch,              // RQFIL path, then accept into the store by mode
  PushFolder,         // RQPUT path + "/"
  PushFile,           // RQPUT + RQFDA path
  RecordKnown,        // remember (path, size, mtime) as a copy of hash
  DeleteInStore,      // the client deleted path
  RenameInStore,      // the client renamed path to target
  Skip                // nothing to do; note says why
};

// FetchMode tells the store how to take a fetched copy.
enum class FetchMode {
  ClientChanged,  // the client changed its copy of the version it had: it replaces the store's
  Merge,          // both may have changed: equal content is recorded, different content is a conflict
                  // (beside a store folder: the client's file is kept under a conflict name)
  ReplacesFolder  // the client replaced the store's folder by this file: the folder's files become versions
};

struct Action {
  ActionKind kind = ActionKind::Skip;
  std::string path;
  std::string target;
  bool isDir = false;
  FetchMode mode = FetchMode::ClientChanged;
  std::int64_t size = 0;   // client size (Fetch, RecordKnown)
  std::int64_t mtime = 0;  // client mtime (Fetch, RecordKnown), 0 when unknown
  std::string hash;        // RecordKnown
  std::string note;        // Skip: why (empty: nothing to say)
  bool failed = false;     // Skip: a failed item (a name the client cannot hold)
  // replaces: the other side holds the other kind of item at path (a file
  // where a folder goes, or the reverse). The store keeps its item as versions
  // (mode ClientChanged) or under a conflict name (mode Merge); the client's
  // goes by its deletion policy.
  bool replaces = false;
  bool operator==(const Action&) const = default;
};

// planChanges turns the change reports of one drain into store actions.
std::vector<Action> planChanges(const std::vector<ChangeReport>& reports, const PlanInput& in);

// planListing compares a listing of the whole sync folder with the store.
std::vector<Action> planListing(const std::vector<ListingEntry>& listing, const PlanInput& in);

// listedInStep is the "listed" input of the next cycle: the entries of this
// listing that hold the store's current version.
std::map<std::string, std::int64_t> listedInStep(const std::vector<ListingEntry>& listing, const PlanInput& in);

// isSyncedName is false for the client's own folders and temporary names,
// which are never synchronised and never mentioned.
bool isSyncedName(const std::string& path);

// clientNameRefusal says why the client cannot hold a store path (the shared
// name rule); empty when it can.
std::string clientNameRefusal(const std::string& path);

// explainedByPush is true when a client copy of size bytes (mtime 0: unknown)
// is what an unfinished push of the store's file left behind: shorter than the
// push, and written while it ran.
bool explainedByPush(const std::string& path, std::int64_t size, std::int64_t mtime, const PlanInput& in);

// isOnlySystemListing is true for a listing that holds nothing but the
// client's own folders (or nothing at all).
bool isOnlySystemListing(const std::vector<ListingEntry>& listing);

}  // namespace kqs
