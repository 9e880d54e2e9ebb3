#pragma once
// The small decisions that planning change reports and planning a listing
// share: building actions and looking up what the server knows of a path.
#include <cstdint>
#include <string>

#include "planner.h"
#include "sorted_listing.h"

namespace kqs::plan {

constexpr std::int64_t kPushSlackSeconds = 2;  // clock steps and one-second stamps around a push

Action skip(const std::string& path, std::string note);
Action make(ActionKind kind, const std::string& path, bool isDir = false);
Action failed(const std::string& path, std::string note);
// push offers a store file or folder to the client, unless the client refused it on this connection.
Action push(const std::string& path, bool isDir, const PlanInput& in);

const StoreEntry* find(const PlanInput& in, const std::string& path);
// sessionVersion is the store version this connection last left in step with the client (null: none).
const std::int64_t* sessionVersion(const PlanInput& in, const std::string& path);
// clientHeld is true when the client is known to have held the store's current
// version of path: this connection left it in step with it, or (without a
// record of this connection) a recorded copy of the client has its content.
bool clientHeld(const PlanInput& in, const std::string& path, const StoreEntry& s);
// deletionOrderedFor is true when this connection already ordered the deletion of s's tombstone.
bool deletionOrderedFor(const StoreEntry& s, const PlanInput& in);

// knownCopy is the recorded client copy with c's size and time (null: none):
// the server saw that very file.
const KnownCopy* knownCopy(const PlanInput& in, const ListingEntry& c);
// holdsLastPush: the copy is what this connection's last push left there: the
// pushed size, stamped while the push ran (the client answered it).
bool holdsLastPush(const ListingEntry& c, const PlanInput& in);
// holdsFetchedCopy: the copy is the one last fetched from this client on a
// change report, which became the store's current version s: its size,
// stamped before the fetch ended.
bool holdsFetchedCopy(const ListingEntry& c, const StoreEntry& s, const PlanInput& in);
// subtreeNeedsFetch: a file listed below folder is one the store lacks or
// deleted before the client last changed it.
bool subtreeNeedsFetch(const SortedListing& listing, const std::string& folder, const PlanInput& in);

}  // namespace kqs::plan
