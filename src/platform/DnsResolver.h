// DNS TXT look-ups behind a narrow interface, with the system resolver as the real one.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvex {

class TxtResolver {
 public:
  virtual ~TxtResolver() = default;
  // The TXT records of `name`, each with its strings joined. An empty list when the name has no
  // TXT record (or does not exist); nothing when the look-up failed (time-out, no server).
  virtual std::optional<std::vector<std::string>> LookupTxt(std::string_view name) = 0;
};

// The system resolver (resolv.conf) with a short time limit. `nameserver` (an IPv4 address and
// a port) replaces the configured servers, so that tests can point it at a local stub.
class SystemTxtResolver final : public TxtResolver {
 public:
  struct Server {
    std::string address;
    unsigned short port = 53;
  };
  explicit SystemTxtResolver(std::chrono::seconds limit = std::chrono::seconds(2),
                             std::optional<Server> nameserver = std::nullopt);
  std::optional<std::vector<std::string>> LookupTxt(std::string_view name) override;

 private:
  std::chrono::seconds limit_;
  std::optional<Server> nameserver_;
};

// The TXT strings of the answer section of a DNS reply, each record's strings joined; nothing
// when the reply is malformed. Compressed names are followed within the reply only.
std::optional<std::vector<std::string>> ParseTxtAnswer(const unsigned char* reply,
                                                       std::size_t size);

}  // namespace orvex
