// Rewriting the "From" of posts whose domain asks receivers to refuse mail it did not send.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/DnsResolver.h"

namespace orvex {

class TMsg;
class TAccount;

enum class DmarcPolicy { None, Quarantine, Reject };
enum class DmarcScope { Domain, Subdomain };

// The policy of a published record ("v=DMARC1; p=reject; ..."): "sp" for a subdomain when it is
// there, "p" otherwise. Nothing when the text is no DMARC record.
std::optional<DmarcPolicy> ParseDmarcRecord(std::string_view record, DmarcScope scope);
// The domain under the public suffix: the last two labels, or three when the second-last is a
// registry label ("co", "com", "org" ...) under a two-letter country domain ("example.co.uk").
std::string OrganisationalDomain(std::string_view domain);

// Policies of sender domains, looked up once per domain and pass. A failed look-up counts as no
// policy.
class DmarcPolicies {
 public:
  explicit DmarcPolicies(TxtResolver& resolver) : resolver_(resolver) {}
  DmarcPolicy For(std::string_view domain);

 private:
  std::optional<DmarcPolicy> Lookup(const std::string& domain, DmarcScope scope);
  TxtResolver& resolver_;
  std::map<std::string, DmarcPolicy> known_;
};

enum class FromRewriteMode { Never, WhenPolicyAsks, Always };
FromRewriteMode FromRewriteSetting(const TAccount& list);

// The display name of a "From" value followed by " via " and the list's name, as a phrase:
// a quoted string, or for an RFC 2047 name its encoded words followed by a quoted "via ...".
std::string ViaPhrase(std::string_view from, std::string_view listName);
// Sets "From" to the via phrase and the list address, keeps the original in "X-Original-From"
// and, when "Reply-To" is not the list address, puts the poster there.
void RewriteFrom(TMsg& msg, std::string_view listName, std::string_view listAddress);

}  // namespace orvex
