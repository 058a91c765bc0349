// The heartbeat hook: one atomic pointer, so that a wait on any thread may call it.
#include "platform/Heartbeat.h"

#include <atomic>

namespace orvex {
namespace {

std::atomic<HeartbeatHook> hook{nullptr};

}  // namespace

void SetHeartbeatHook(HeartbeatHook function) {
  hook.store(function);
}

void Heartbeat() {
  if (const HeartbeatHook function = hook.load(std::memory_order_relaxed)) function();
}

}  // namespace orvex
