// Authorization code with PKCE, and the loopback listener that receives it.
#include "oauth/BrowserFlow.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "oauth/TokenReply.h"
#include "platform/Error.h"
#include "platform/Heartbeat.h"
#include "platform/SecureRandom.h"
#include "platform/StopSignal.h"
#include "platform/Text.h"

namespace orvex {
namespace {

constexpr std::size_t kMaximumRequest = 8 * 1024;

std::string Base64Url(std::string_view data) {
  std::string text = Base64Encode(data);
  while (!text.empty() && text.back() == '=') text.pop_back();
  for (char& c : text) {
    if (c == '+') c = '-';
    if (c == '/') c = '_';
  }
  return text;
}

// The value of `name` in a query string, decoded; nothing when absent.
std::optional<std::string> QueryValue(std::string_view query, std::string_view name) {
  while (!query.empty()) {
    const auto amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    const auto equals = pair.find('=');
    if (pair.substr(0, equals) == name)
      return equals == std::string_view::npos ? std::string() : UrlDecode(pair.substr(equals + 1));
    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
  return std::nullopt;
}

}  // namespace

std::string RandomUrlText(RandomSource& random) {
  unsigned char bytes[32];
  random.Fill(bytes, sizeof bytes);
  return Base64Url(std::string_view(reinterpret_cast<const char*>(bytes), sizeof bytes));
}

std::string PkceChallenge(std::string_view verifier) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(verifier.data(), verifier.size(), digest, &length, EVP_sha256(), nullptr) != 1)
    throw Error("Cannot compute the PKCE challenge");
  return Base64Url(std::string_view(reinterpret_cast<const char*>(digest), length));
}

BrowserFlow::BrowserFlow(OAuthClient client, std::string redirectUri, std::string state,
                         std::string verifier)
    : client_(std::move(client)),
      redirectUri_(std::move(redirectUri)),
      state_(std::move(state)),
      verifier_(std::move(verifier)) {}

std::string BrowserFlow::AuthorizeUrl() const {
  FormFields query = {{"response_type", "code"},
                      {"client_id", client_.clientId},
                      {"redirect_uri", redirectUri_},
                      {"scope", client_.scope},
                      {"state", state_},
                      {"code_challenge", PkceChallenge(verifier_)},
                      {"code_challenge_method", "S256"}};
  // Google gives a refresh token only when asked for offline access and consent.
  if (client_.provider == OAuthProvider::Google) {
    query.emplace_back("access_type", "offline");
    query.emplace_back("prompt", "consent");
  }
  const char joint = client_.authorizeUrl.find('?') == std::string::npos ? '?' : '&';
  return client_.authorizeUrl + joint + FormEncode(query);
}

BrowserFlow::Redirect BrowserFlow::OnRequest(std::string_view target) const {
  Redirect redirect;
  const auto question = target.find('?');
  if (target.substr(0, question) != "/" || question == std::string_view::npos) return redirect;
  const std::string_view query = target.substr(question + 1);
  const std::optional<std::string> code = QueryValue(query, "code");
  const std::optional<std::string> error = QueryValue(query, "error");
  if (!code && !error) return redirect;
  // A redirect that does not carry this run's state may come from anyone: never act on it.
  if (QueryValue(query, "state").value_or("") != state_) {
    redirect.outcome = Outcome::StateMismatch;
    return redirect;
  }
  if (error || code->empty()) {
    redirect.outcome = Outcome::Denied;
    const std::string description = QueryValue(query, "error_description").value_or("");
    redirect.error =
        SafeLine(error.value_or("no code") + (description.empty() ? "" : " (" + description + ")"));
    return redirect;
  }
  redirect.outcome = Outcome::Code;
  redirect.code = *code;
  return redirect;
}

FormFields BrowserFlow::TokenRequest(const std::string& code) const {
  FormFields fields = {{"grant_type", "authorization_code"},
                       {"code", code},
                       {"redirect_uri", redirectUri_},
                       {"client_id", client_.clientId},
                       {"code_verifier", verifier_}};
  if (!client_.clientSecret.empty()) fields.emplace_back("client_secret", client_.clientSecret);
  return fields;
}

LoopbackListener::LoopbackListener(int port) {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) throw SystemError("Cannot open a listening socket", errno);
  const int yes = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listenFd_, 8) != 0) {
    const int error = errno;
    ::close(listenFd_);
    throw SystemError("Cannot listen on 127.0.0.1 port " + std::to_string(port), error);
  }
  socklen_t length = sizeof address;
  ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
}

LoopbackListener::~LoopbackListener() {
  if (clientFd_ >= 0) ::close(clientFd_);
  if (listenFd_ >= 0) ::close(listenFd_);
}

std::optional<std::string> LoopbackListener::NextRequest(std::chrono::seconds limit) {
  if (clientFd_ >= 0) Answer(404, "Not here.");
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::string request;
  for (;;) {
    Heartbeat();
    if (Terminated()) return std::nullopt;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    // The listener is watched also while a connection is open: browsers open connections in
    // advance and may leave one idle while the request comes on another.
    pollfd fds[3] = {{listenFd_, POLLIN, 0},
                     {StopEventDescriptor(), POLLIN, 0},
                     {clientFd_ >= 0 ? clientFd_ : -1, POLLIN, 0}};
    const int ready = ::poll(fds, 3, static_cast<int>(std::min<long long>(left.count(), 1000)));
    if (ready < 0 && errno != EINTR) throw SystemError("Cannot wait for the browser", errno);
    if (ready <= 0) continue;
    const bool clientReady = clientFd_ >= 0 && (fds[2].revents & (POLLIN | POLLHUP | POLLERR));
    if (!clientReady && (fds[0].revents & POLLIN) != 0) {
      const int accepted = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (accepted < 0) continue;
      if (clientFd_ >= 0) ::close(clientFd_);  // an idle connection gives way to the new one
      clientFd_ = accepted;
      request.clear();
      continue;
    }
    if (!clientReady) continue;
    char buffer[1024];
    const ssize_t n = ::read(clientFd_, buffer, sizeof buffer);
    if (n <= 0) {
      ::close(clientFd_);
      clientFd_ = -1;
      continue;
    }
    request.append(buffer, static_cast<std::size_t>(n));
    const auto end = request.find("\r\n");
    if (end == std::string::npos ? request.size() > kMaximumRequest : end > kMaximumRequest) {
      Answer(414, "Request too long.");
      continue;
    }
    if (end == std::string::npos) continue;
    // "GET <target> HTTP/1.1": the target is all that matters.
    const std::string line = request.substr(0, end);
    const auto first = line.find(' ');
    const auto second = line.find(' ', first + 1);
    if (line.rfind("GET ", 0) != 0 || second == std::string::npos) {
      Answer(400, "Bad request.");
      continue;
    }
    return line.substr(first + 1, second - first - 1);
  }
}

void LoopbackListener::Answer(int status, const std::string& text) {
  if (clientFd_ < 0) return;
  const std::string body = "<!DOCTYPE html><html><body><p>" + text + "</p></body></html>\n";
  const std::string reply = "HTTP/1.1 " + std::to_string(status) +
                            (status == 200 ? " OK" : " Error") +
                            "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                            std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
  // The browser is local; a short reply goes out in one send or not at all.
  [[maybe_unused]] const ssize_t sent = ::send(clientFd_, reply.data(), reply.size(), MSG_NOSIGNAL);
  ::close(clientFd_);
  clientFd_ = -1;
}

}  // namespace orvex
