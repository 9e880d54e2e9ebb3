#pragma once
// HeldDeletions is the durable record of the deletions that the mass-deletion
// guard holds back for one contract: paths gone from a client's listing that
// kqsyncd neither deletes in the store nor pushes back until the administrator
// decides (kqsyncd deletions confirm | reject). The record keeps, for every
// held path, the store versions the client was last seen holding at and
// under it, so that a new connection (or a restarted server) still takes
// them for deletions and not for files the client lacks.
//
// Files beside the contract's index: N.held (the record, rewritten whole,
// synced and renamed into place) and N.decision ("confirm" or "reject",
// written by the command line, taken by the server at the next listing).
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "planner.h"

namespace kqs {

enum class HeldDecision { Confirm, Reject };

class HeldDeletions {
 public:
  // indexPath is the contract's index; the files are named after it.
  explicit HeldDeletions(const std::string& indexPath);

  // roots are the held paths (a folder stands for everything in it);
  // versions the store versions the client held at and under them.
  struct Record {
    std::vector<std::string> roots;
    std::map<std::string, std::int64_t> versions;
  };
  // load reads the record (empty when there is none); throws on a damaged file.
  Record load() const;
  // save replaces the record; an empty one removes the file.
  void save(const Record& record) const;

  // decide leaves the administrator's decision for the server.
  void decide(HeldDecision decision) const;
  // takeDecision reads and removes a decision left by decide.
  std::optional<HeldDecision> takeDecision() const;

  const std::string& recordPath() const { return recordPath_; }

 private:
  std::string recordPath_;
  std::string decisionPath_;
};

// HeldOutcome is what a listing does with the held deletions: deletions to
// carry out in the store (confirmed), and lines for the server's log.
struct HeldOutcome {
  std::vector<Action> deletions;
  std::vector<std::string> notes;
};

// settleHeld runs after a listing was planned. heldNow are the deletions the
// guard held back in this listing, in.missing and in.listed what the plan
// knew the client held. It keeps missing (the next listing's evidence of
// entries gone from the client) holding the held paths, so that they are
// held again and not pushed back, writes the record, and applies a decision:
// confirm returns the deletions still held, reject leaves them out of missing
// so that the next listing pushes the files back.
HeldOutcome settleHeld(const HeldDeletions& held, const std::vector<Action>& heldNow, const PlanInput& in,
                       std::map<std::string, std::int64_t>& missing, const std::string& contract);

// seedHeld adds the recorded versions to missing (for a connection that has
// not listed yet), so that the held paths are planned as deletions again.
void seedHeld(const HeldDeletions& held, std::map<std::string, std::int64_t>& missing);

}  // namespace kqs
