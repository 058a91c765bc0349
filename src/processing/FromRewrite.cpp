// DMARC policy look-up and the rewritten "From" of a post.
#include "processing/FromRewrite.h"

#include "message/Msg.h"
#include "processing/Address.h"
#include "store/Account.h"

namespace orvex {
namespace {

constexpr std::size_t kMaximumKnownDomains = 1000;

std::string QuotedString(std::string_view text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (static_cast<unsigned char>(c) < 32 || c == 127) continue;
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

// A quoted string without its quotes and escapes; other text as it stands.
std::string Unquoted(std::string_view text) {
  text = TrimBlanks(text);
  if (text.size() < 2 || text.front() != '"' || text.back() != '"') return std::string(text);
  std::string plain;
  for (std::size_t i = 1; i + 1 < text.size(); ++i) {
    if (text[i] == '\\' && i + 2 < text.size()) ++i;
    plain += text[i];
  }
  return plain;
}

// The display name of a "From" value: the phrase before "<", or a comment after a bare address.
std::string DisplayName(std::string_view from) {
  const auto open = from.find('<');
  if (open != std::string_view::npos) return std::string(TrimBlanks(from.substr(0, open)));
  const auto comment = from.find('(');
  const auto close = from.rfind(')');
  if (comment != std::string_view::npos && close != std::string_view::npos && close > comment)
    return std::string(TrimBlanks(from.substr(comment + 1, close - comment - 1)));
  return {};
}

}  // namespace

std::optional<DmarcPolicy> ParseDmarcRecord(std::string_view record, DmarcScope scope) {
  std::optional<DmarcPolicy> policy;
  std::optional<DmarcPolicy> subdomainPolicy;
  bool first = true;
  while (!record.empty()) {
    const auto semicolon = record.find(';');
    const std::string_view tag = TrimBlanks(record.substr(0, semicolon));
    record =
        semicolon == std::string_view::npos ? std::string_view() : record.substr(semicolon + 1);
    const auto equals = tag.find('=');
    const std::string name =
        LowerCase(TrimBlanks(tag.substr(0, equals == std::string_view::npos ? 0 : equals)));
    const std::string value = equals == std::string_view::npos
                                  ? std::string()
                                  : LowerCase(TrimBlanks(tag.substr(equals + 1)));
    if (first) {
      if (name != "v" || value != "dmarc1") return std::nullopt;
      first = false;
      continue;
    }
    const DmarcPolicy read = value == "reject"       ? DmarcPolicy::Reject
                             : value == "quarantine" ? DmarcPolicy::Quarantine
                                                     : DmarcPolicy::None;
    if (name == "p") policy = read;
    if (name == "sp") subdomainPolicy = read;
  }
  if (first) return std::nullopt;
  if (scope == DmarcScope::Subdomain && subdomainPolicy) return subdomainPolicy;
  return policy.value_or(DmarcPolicy::None);
}

std::string OrganisationalDomain(std::string_view domain) {
  std::string name = LowerCase(TrimBlanks(domain));
  while (!name.empty() && name.back() == '.') name.pop_back();
  const auto last = name.rfind('.');
  if (last == std::string::npos || last == 0) return name;
  const auto second = name.rfind('.', last - 1);
  if (second == std::string::npos) return name;
  const std::string_view top = std::string_view(name).substr(last + 1);
  const std::string_view secondLabel = std::string_view(name).substr(second + 1, last - second - 1);
  static constexpr std::string_view kRegistryLabels[] = {
      "ac", "co", "com", "edu", "go", "gob", "gov", "ltd", "ne", "net", "or", "org", "plc"};
  bool registry = false;
  for (const std::string_view label : kRegistryLabels) registry = registry || label == secondLabel;
  if (top.size() == 2 && registry) {
    const auto third = name.rfind('.', second - 1);
    return third == std::string::npos || second == 0 ? name : name.substr(third + 1);
  }
  return name.substr(second + 1);
}

std::optional<DmarcPolicy> DmarcPolicies::Lookup(const std::string& domain, DmarcScope scope) {
  const auto records = resolver_.LookupTxt("_dmarc." + domain);
  if (!records) return std::nullopt;
  std::optional<DmarcPolicy> found;
  int count = 0;
  for (const std::string& record : *records) {
    const auto policy = ParseDmarcRecord(record, scope);
    if (!policy) continue;
    found = policy;
    ++count;
  }
  // Several DMARC records publish no valid policy at all.
  if (count != 1) return std::nullopt;
  return found;
}

DmarcPolicy DmarcPolicies::For(std::string_view domainText) {
  const std::string domain = LowerCase(TrimBlanks(domainText));
  if (domain.empty() || domain.size() > 253) return DmarcPolicy::None;
  if (const auto known = known_.find(domain); known != known_.end()) return known->second;
  std::optional<DmarcPolicy> policy = Lookup(domain, DmarcScope::Domain);
  if (!policy) {
    const std::string organisation = OrganisationalDomain(domain);
    if (organisation != domain) policy = Lookup(organisation, DmarcScope::Subdomain);
  }
  const DmarcPolicy result = policy.value_or(DmarcPolicy::None);
  if (known_.size() < kMaximumKnownDomains) known_.emplace(domain, result);
  return result;
}

FromRewriteMode FromRewriteSetting(const TAccount& list) {
  switch (list.Config().ReadInteger("General", "FromRewrite", 0)) {
    case 1:
      return FromRewriteMode::WhenPolicyAsks;
    case 2:
      return FromRewriteMode::Always;
    default:
      return FromRewriteMode::Never;
  }
}

std::string ViaPhrase(std::string_view from, std::string_view listName) {
  const std::string name = DisplayName(from);
  const std::string via = " via " + std::string(listName);
  if (name.find("=?") != std::string::npos && name.find("?=") != std::string::npos) {
    // Encoded words are decoded only outside quotes: keep them as written.
    std::string words;
    for (const char c : name)
      if (static_cast<unsigned char>(c) >= 32 && c != 127) words += c;
    return words + " " + QuotedString(via.substr(1));
  }
  std::string plain = Unquoted(name);
  if (TrimBlanks(plain).empty()) plain = ExtractAddress(from);
  return QuotedString(plain + via);
}

void RewriteFrom(TMsg& msg, std::string_view listName, std::string_view listAddress) {
  const std::string original = msg.Headers.Value("From");
  if (original.empty() || listAddress.empty()) return;
  msg.Headers.SetValue("From",
                       ViaPhrase(original, listName) + " <" + std::string(listAddress) + ">");
  msg.Headers.SetValue("X-Original-From", original);
  if (!EqualsIgnoreCase(ExtractAddress(msg.Headers.Value("Reply-To")), listAddress))
    msg.Headers.SetValue("Reply-To", original);
}

}  // namespace orvex
