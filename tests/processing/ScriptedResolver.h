// A TXT resolver that answers from a table and records what it was asked.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/DnsResolver.h"

namespace orvex::test {

class ScriptedResolver final : public TxtResolver {
 public:
  // A name not in the table has no TXT record; nothing as the answer is a failed look-up.
  std::map<std::string, std::optional<std::vector<std::string>>> answers;
  std::vector<std::string> asked;

  std::optional<std::vector<std::string>> LookupTxt(std::string_view name) override {
    asked.emplace_back(name);
    const auto found = answers.find(std::string(name));
    if (found == answers.end()) return std::vector<std::string>{};
    return found->second;
  }
};

}  // namespace orvex::test
