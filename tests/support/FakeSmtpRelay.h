// A fake SMTP relay on loopback that plays a policy rather than a script: it takes any number of
// connections and transactions, refuses or defers recipients as told, can drop or hold a chosen
// transaction, and records what it delivered to whom.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace orvex::test {

// Transactions are counted from 1 over the relay's life.
struct RelayPolicy {
  long acceptedBeforeCap = -1;             // after this many accepted recipients: 452 (-1: never)
  std::set<std::string> refusedForGood{};  // 550 to their RCPT TO (lower case)
  std::set<std::string> deferred{};        // 451 to their RCPT TO (lower case)
  int deferEndOfData = 0;                  // this transaction's end of data gets 451
  int dropAtEndOfData = 0;                 // the connection closes instead of that reply
  int holdAtEndOfData = 0;                 // delivered, then the reply is held
  int holdAtMailFrom = 0;                  // the reply to this MAIL FROM is held
  bool pipelining = false;                 // offers PIPELINING (DATA without recipients: 554)
};

class FakeSmtpRelay {
 public:
  using Policy = RelayPolicy;
  struct Delivery {
    std::vector<std::string> recipients;
    std::vector<std::string> lines;  // the data as received, still dot-stuffed
  };

  explicit FakeSmtpRelay(Policy policy = {});
  ~FakeSmtpRelay();
  FakeSmtpRelay(const FakeSmtpRelay&) = delete;
  FakeSmtpRelay& operator=(const FakeSmtpRelay&) = delete;

  int Port() const { return port_; }
  void SetPolicy(Policy policy);
  std::vector<Delivery> Deliveries() const;
  // How many messages each address got (lower case).
  std::map<std::string, int> CountsByRecipient() const;
  int Connections() const;
  // Commands that had arrived before the relay answered the one before them.
  int CommandsSentAhead() const;
  // Waits until a hold of the policy is reached; false after `limit`.
  bool WaitUntilHeld(std::chrono::milliseconds limit);
  // Waits until no client is connected; false after `limit`.
  bool WaitUntilIdle(std::chrono::milliseconds limit);

 private:
  void Run();
  void Serve(int fd);
  bool Hold(int fd, std::unique_lock<std::mutex>& lock);  // false when the relay is being destroyed

  int listenFd_ = -1;
  int wakeFds_[2] = {-1, -1};
  int port_ = 0;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  Policy policy_;
  long accepted_ = 0;
  int transactions_ = 0;
  int connections_ = 0;
  int sentAhead_ = 0;
  bool connected_ = false;
  bool held_ = false;
  bool stopping_ = false;
  std::vector<Delivery> deliveries_;
  std::thread thread_;
};

}  // namespace orvex::test
