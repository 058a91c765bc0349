// The real service started as systemd starts a Type=notify unit: a datagram socket named by
// NOTIFY_SOCKET receives READY=1, WATCHDOG=1, the list and stage in STATUS= and STOPPING=1.
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/TempDirectory.h"

namespace orvex {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

// The systemd side of the notification protocol: one datagram per sd_notify call.
class NotifySocket {
 public:
  explicit NotifySocket(const std::string& path) : path_(path) {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) throw std::runtime_error("socket path too long");
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
      throw std::runtime_error("cannot bind the notification socket");
  }
  ~NotifySocket() {
    ::close(fd_);
    ::unlink(path_.c_str());
  }
  NotifySocket(const NotifySocket&) = delete;
  NotifySocket& operator=(const NotifySocket&) = delete;

  // Collects messages until one holds `text` (true) or `limit` passes (false).
  bool WaitFor(const std::string& text, std::chrono::milliseconds limit) {
    const auto deadline = SteadyClock::now() + limit;
    for (;;) {
      for (const std::string& m : messages)
        if (m.find(text) != std::string::npos) return true;
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
      if (left.count() <= 0) return false;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      char buffer[4096];
      const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
      if (n > 0) messages.emplace_back(buffer, static_cast<std::size_t>(n));
    }
  }

  std::vector<std::string> messages;

 private:
  std::string path_;
  int fd_ = -1;
};

TEST(WatchdogProgramTest, TellsSystemdItIsReadyAliveWhatItDoesAndThatItStops) {
  test::TempDirectory dir;
  std::filesystem::copy_file(std::string(ORVEX_BUILD_DIR) + "/orvex", dir.Path() + "orvex");
  dir.MakeList("sales");
  dir.Write("Data/sales/maillist.ini", "[General]\r\nName=Sales\r\n");
  NotifySocket systemd(dir.Path() + "notify");

  ::setenv("NOTIFY_SOCKET", (dir.Path() + "notify").c_str(), 1);
  test::ChildProcess service(dir.Path() + "orvex", {}, dir.Path());
  ::unsetenv("NOTIFY_SOCKET");

  EXPECT_TRUE(systemd.WaitFor("READY=1", 10s)) << service.Stdout();
  EXPECT_TRUE(systemd.WaitFor("WATCHDOG=1", 10s));
  EXPECT_TRUE(systemd.WaitFor("STATUS=Processing \"Sales\": retrieval", 10s));
  EXPECT_TRUE(systemd.WaitFor("STATUS=Processing \"Sales\": delivery", 10s));
  ASSERT_TRUE(service.WaitForOutput("Idle", 10s)) << service.Stdout();
  EXPECT_TRUE(systemd.WaitFor("STATUS=Idle", 10s));
  // The main loop keeps feeding the watchdog while it waits for the next pass.
  const std::size_t seen = systemd.messages.size();
  const auto fed = [&] {
    for (std::size_t i = seen; i < systemd.messages.size(); ++i)
      if (systemd.messages[i] == "WATCHDOG=1") return true;
    return false;
  };
  for (const auto deadline = SteadyClock::now() + 10s; !fed() && SteadyClock::now() < deadline;)
    systemd.WaitFor("no such message", 200ms);
  EXPECT_TRUE(fed());

  service.Signal(SIGTERM);
  ASSERT_EQ(service.WaitForExit(10s), 0);
  EXPECT_TRUE(systemd.WaitFor("STOPPING=1", 1s));
  std::string all;
  for (const std::string& m : systemd.messages) all += m + "|";
  EXPECT_EQ(all.rfind("READY=1"), all.find("READY=1")) << "ready once: " << all;
}

}  // namespace
}  // namespace orvex
