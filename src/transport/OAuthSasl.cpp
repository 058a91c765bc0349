// The OAuth 2.0 SASL mechanisms' messages and their error challenges.
#include "transport/OAuthSasl.h"

#include <nlohmann/json.hpp>

#include "message/Codecs.h"
#include "store/NameValueList.h"

namespace orvex {
namespace {

constexpr char kSeparator = '\x01';

// A user name inside the GS2 header, where "," ends the field and "=" starts an escape.
std::string SaslName(std::string_view user) {
  std::string out;
  for (const char c : user) {
    if (c == ',') {
      out += "=2C";
    } else if (c == '=') {
      out += "=3D";
    } else {
      out += c;
    }
  }
  return out;
}

// A field of the server's JSON as plain text: strings as they are, numbers in digits.
std::string Field(const nlohmann::json& object, const char* name) {
  const auto it = object.find(name);
  if (it == object.end()) return {};
  if (it->is_string()) return it->get<std::string>();
  if (it->is_number()) return it->dump();
  return {};
}

// The server's text made fit for one log line: no control characters, at most 200 characters.
std::string Printable(std::string_view text) {
  std::string out;
  for (const char c : text.substr(0, 200))
    out += static_cast<unsigned char>(c) < 0x20 || c == '\x7f' ? '?' : c;
  return out;
}

}  // namespace

AuthMethod ParseAuthMethod(std::string_view text) {
  return EqualsIgnoreCase(text, "oauth2") ? AuthMethod::OAuth2 : AuthMethod::Password;
}

const char* MechanismName(OAuthMechanism mechanism) {
  return mechanism == OAuthMechanism::XOAuth2 ? "XOAUTH2" : "OAUTHBEARER";
}

std::optional<OAuthMechanism> ChooseOAuthMechanism(const std::vector<std::string>& offered) {
  std::optional<OAuthMechanism> chosen;
  for (const auto& name : offered) {
    if (EqualsIgnoreCase(name, "XOAUTH2")) return OAuthMechanism::XOAuth2;
    if (EqualsIgnoreCase(name, "OAUTHBEARER")) chosen = OAuthMechanism::OAuthBearer;
  }
  return chosen;
}

std::string OAuthClientResponse(OAuthMechanism mechanism, std::string_view user,
                                std::string_view token, std::string_view host, int port) {
  std::string out;
  if (mechanism == OAuthMechanism::XOAuth2) {
    out.append("user=").append(user).append(1, kSeparator);
  } else {
    out.append("n,a=").append(SaslName(user)).append(",").append(1, kSeparator);
    out.append("host=").append(host).append(1, kSeparator);
    out.append("port=").append(std::to_string(port)).append(1, kSeparator);
  }
  out.append("auth=Bearer ").append(token).append(1, kSeparator).append(1, kSeparator);
  return out;
}

OAuthErrorChallenge ParseOAuthErrorChallenge(std::string_view base64Text) {
  OAuthErrorChallenge challenge;
  const std::string json = Base64DecodeLine(base64Text);
  const nlohmann::json object = nlohmann::json::parse(json, nullptr, false);
  if (!object.is_object()) return challenge;
  challenge.status = Field(object, "status");
  challenge.scope = Field(object, "scope");
  return challenge;
}

std::string DescribeOAuthRefusal(std::string_view user, std::string_view host,
                                 OAuthMechanism mechanism, const OAuthErrorChallenge& challenge) {
  std::string line = "OAuth 2.0 sign-in refused for " + Printable(user) + " at " + Printable(host) +
                     " (" + MechanismName(mechanism) + "): status " +
                     (challenge.status.empty() ? "unknown" : Printable(challenge.status));
  if (!challenge.scope.empty()) line += ", scope " + Printable(challenge.scope);
  return line;
}

}  // namespace orvex
