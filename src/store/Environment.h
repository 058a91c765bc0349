// What every stage of the service is handed from outside: the clock, the secure random source,
// the log and the message namer. Tests pass fakes.
#pragma once

#include "platform/DateTime.h"
#include "platform/Logger.h"
#include "platform/SecureRandom.h"

namespace orvex {

class MessageNamer;

struct Environment {
  const Clock& clock;
  RandomSource& random;
  Logger& log;
  MessageNamer& namer;
};

}  // namespace orvex
