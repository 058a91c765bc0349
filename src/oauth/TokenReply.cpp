// Token endpoint replies through nlohmann-json.
#include "oauth/TokenReply.h"

#include <nlohmann/json.hpp>

namespace orvex {
namespace {

std::string StringField(const nlohmann::json& object, const char* name) {
  const auto it = object.find(name);
  return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

long long NumberField(const nlohmann::json& object, const char* name) {
  const auto it = object.find(name);
  if (it == object.end()) return 0;
  if (it->is_number_integer()) return it->get<long long>();
  if (it->is_number()) return static_cast<long long>(it->get<double>());
  if (it->is_string()) {  // some servers send numbers as text
    try {
      return std::stoll(it->get<std::string>());
    } catch (const std::exception&) {
    }
  }
  return 0;
}

}  // namespace

std::string SafeLine(std::string_view text) {
  std::string out;
  for (const char c : text.substr(0, 200))
    out += static_cast<unsigned char>(c) < 32 || c == 127 ? '?' : c;
  return out;
}

TokenReply ParseTokenReply(const HttpResponse& response) {
  TokenReply reply;
  const nlohmann::json body = nlohmann::json::parse(response.body, nullptr, false);
  if (!body.is_object()) {
    reply.error = "http " + std::to_string(response.status);
    return reply;
  }
  reply.accessToken = StringField(body, "access_token");
  reply.refreshToken = StringField(body, "refresh_token");
  reply.expiresIn = NumberField(body, "expires_in");
  reply.error = StringField(body, "error");
  reply.description = SafeLine(StringField(body, "error_description"));
  reply.ok = response.status == 200 && reply.error.empty() && !reply.accessToken.empty();
  if (!reply.ok) {
    reply.accessToken.clear();
    reply.refreshToken.clear();
    if (reply.error.empty()) reply.error = "http " + std::to_string(response.status);
    reply.error = SafeLine(reply.error);
  }
  return reply;
}

}  // namespace orvex
