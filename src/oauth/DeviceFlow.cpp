// RFC 8628 polling: pending, slow_down, denied, expired.
#include "oauth/DeviceFlow.h"

#include <algorithm>
#include <chrono>
#include <nlohmann/json.hpp>

#include "platform/StopSignal.h"

namespace orvex {
namespace {

constexpr const char* kDeviceGrant = "urn:ietf:params:oauth:grant-type:device_code";
// A server that asks for a longer wait than this between polls is not waited for that long.
constexpr long long kLongestInterval = 60;

std::string Text(const nlohmann::json& object, const char* name) {
  const auto it = object.find(name);
  return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

long long Number(const nlohmann::json& object, const char* name, long long def) {
  const auto it = object.find(name);
  if (it != object.end() && it->is_number()) return it->get<long long>();
  if (it != object.end() && it->is_string()) {
    try {
      return std::stoll(it->get<std::string>());
    } catch (const std::exception&) {
    }
  }
  return def;
}

}  // namespace

DeviceAuthorization ParseDeviceAuthorization(const HttpResponse& response, long long now) {
  const nlohmann::json body = nlohmann::json::parse(response.body, nullptr, false);
  if (response.status != 200 || !body.is_object()) {
    std::string error = body.is_object() ? Text(body, "error") : std::string();
    if (error.empty()) error = "http " + std::to_string(response.status);
    const std::string description = body.is_object() ? Text(body, "error_description") : "";
    throw Error("The device endpoint refused: " + SafeLine(error) +
                (description.empty() ? "" : " (" + SafeLine(description) + ")"));
  }
  DeviceAuthorization authorization;
  authorization.deviceCode = Text(body, "device_code");
  authorization.userCode = SafeLine(Text(body, "user_code"));
  // Google says verification_url, the RFC verification_uri.
  authorization.verificationUri = SafeLine(Text(body, "verification_uri"));
  if (authorization.verificationUri.empty())
    authorization.verificationUri = SafeLine(Text(body, "verification_url"));
  authorization.interval = std::clamp<long long>(Number(body, "interval", 5), 1, kLongestInterval);
  authorization.expiresAt = now + std::clamp<long long>(Number(body, "expires_in", 900), 1, 86400);
  if (authorization.deviceCode.empty() || authorization.userCode.empty() ||
      authorization.verificationUri.empty())
    throw Error("The device endpoint's reply lacks device_code, user_code or verification_uri");
  return authorization;
}

DeviceFlow::DeviceFlow(DeviceAuthorization authorization, long long now)
    : authorization_(std::move(authorization)), nextPoll_(now + authorization_.interval) {}

FormFields DeviceFlow::PollRequest(const OAuthClient& client) const {
  FormFields fields = {{"grant_type", kDeviceGrant},
                       {"device_code", authorization_.deviceCode},
                       {"client_id", client.clientId}};
  if (!client.clientSecret.empty()) fields.emplace_back("client_secret", client.clientSecret);
  return fields;
}

DeviceFlow::State DeviceFlow::CheckExpiry(long long now) {
  if (state_ == State::Waiting && now >= authorization_.expiresAt) state_ = State::Expired;
  return state_;
}

DeviceFlow::State DeviceFlow::OnReply(const TokenReply& reply, long long now) {
  if (state_ != State::Waiting) return state_;
  if (reply.ok) {
    tokens_ = reply;
    return state_ = State::Done;
  }
  if (reply.error == "authorization_pending") {
    nextPoll_ = now + authorization_.interval;
  } else if (reply.error == "slow_down") {
    authorization_.interval = std::min(authorization_.interval + 5, kLongestInterval);
    nextPoll_ = now + authorization_.interval;
  } else if (reply.error == "access_denied") {
    tokens_ = reply;
    return state_ = State::Denied;
  } else if (reply.error == "expired_token") {
    return state_ = State::Expired;
  } else {
    tokens_ = reply;
    return state_ = State::Failed;
  }
  return CheckExpiry(now);
}

DeviceFlow RunDeviceFlow(HttpClient& http, const OAuthClient& client,
                         const std::function<void(const DeviceAuthorization&)>& show,
                         const std::function<long long()>& now) {
  FormFields request = {{"client_id", client.clientId}, {"scope", client.scope}};
  DeviceFlow flow(ParseDeviceAuthorization(http.PostForm(client.deviceUrl, request), now()), now());
  show(flow.Authorization());
  while (flow.Current() == DeviceFlow::State::Waiting) {
    const long long wait = flow.NextPoll() - now();
    if (wait > 0 && WaitForStop(std::chrono::seconds(wait))) throw Error("Stopped on request");
    if (Terminated()) throw Error("Stopped on request");
    if (flow.CheckExpiry(now()) != DeviceFlow::State::Waiting) break;
    flow.OnReply(ParseTokenReply(http.PostForm(client.tokenUrl, flow.PollRequest(client))), now());
  }
  return flow;
}

}  // namespace orvex
