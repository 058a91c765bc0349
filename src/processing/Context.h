// What every processing step works with: the list, the outside world and the open commit group.
#pragma once

#include "processing/Commit.h"
#include "store/Account.h"
#include "store/Environment.h"

namespace orvex {

struct ProcessingContext {
  TAccount& list;
  const Environment& env;
  CommitGroup& commit;
};

}  // namespace orvex
