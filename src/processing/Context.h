// What every processing step works with: the list, the outside world and the open commit group.
#pragma once

#include "processing/Commit.h"
#include "store/Account.h"
#include "store/Environment.h"

namespace orvex {

class DmarcPolicies;

struct ProcessingContext {
  TAccount& list;
  const Environment& env;
  CommitGroup& commit;
  // Sender domains' policies for the "From" rewrite; without it no domain has a policy.
  DmarcPolicies* dmarc = nullptr;
};

}  // namespace orvex
