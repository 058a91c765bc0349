// sd_notify behind a switch that is off unless systemd gave a notification socket.
#include "service/SystemdNotify.h"

#include <systemd/sd-daemon.h>

#include <atomic>
#include <chrono>
#include <cstdlib>

#include "platform/Heartbeat.h"

namespace orvex {
namespace {

std::atomic<bool> enabled{false};
std::atomic<long long> lastAliveMs{-1000000};

long long SteadyMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void Send(const std::string& state) {
  if (enabled.load(std::memory_order_relaxed)) ::sd_notify(0, state.c_str());
}

}  // namespace

void StartSystemdNotification() {
  const char* socket = std::getenv("NOTIFY_SOCKET");
  if (socket == nullptr || *socket == '\0') return;
  enabled = true;
  SetHeartbeatHook(&NotifyAlive);
}

bool SystemdNotificationEnabled() {
  return enabled;
}

void NotifyReady() {
  Send("READY=1");
  lastAliveMs = -1000000;
  NotifyAlive();
}

void NotifyStatus(const std::string& text) {
  // One line: a line break would end the field early.
  std::string line = text;
  for (char& c : line)
    if (c == '\n' || c == '\r') c = ' ';
  Send("STATUS=" + line);
}

void NotifyAlive() {
  if (!enabled.load(std::memory_order_relaxed)) return;
  const long long now = SteadyMilliseconds();
  long long last = lastAliveMs.load(std::memory_order_relaxed);
  if (now - last < 1000) return;
  if (!lastAliveMs.compare_exchange_strong(last, now)) return;
  ::sd_notify(0, "WATCHDOG=1");
}

void NotifyStopping() {
  Send("STOPPING=1");
}

}  // namespace orvex
