// Self-pipe stop flag: the signal handler only sets an atomic flag and writes one byte.
#include "platform/StopSignal.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <csignal>

#include "platform/Heartbeat.h"

namespace orvex {
namespace {

std::atomic<bool> stopRequested{false};
int pipeFds[2] = {-1, -1};

void EnsurePipe() {
  if (pipeFds[0] >= 0) return;
  if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
    pipeFds[0] = pipeFds[1] = -1;
  }
}

extern "C" void OnStopSignal(int) {
  stopRequested.store(true);
  if (pipeFds[1] >= 0) {
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(pipeFds[1], &byte, 1);
  }
}

}  // namespace

void InstallStopSignalHandlers() {
  EnsurePipe();
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: blocking calls return EINTR and look at the flag
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

bool Terminated() {
  return stopRequested.load();
}

void RequestStop() {
  EnsurePipe();
  OnStopSignal(0);
}

void ResetStopRequest() {
  stopRequested.store(false);
  if (pipeFds[0] >= 0) {
    char buffer[64];
    while (::read(pipeFds[0], buffer, sizeof buffer) > 0) {
    }
  }
}

int StopEventDescriptor() {
  EnsurePipe();
  return pipeFds[0];
}

bool WaitForStop(std::chrono::milliseconds timeout) {
  Heartbeat();
  if (Terminated()) return true;
  pollfd fd{StopEventDescriptor(), POLLIN, 0};
  ::poll(&fd, 1, static_cast<int>(timeout.count()));
  return Terminated();
}

}  // namespace orvex
