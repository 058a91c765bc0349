// The sign-in flows run here without the list's lock (they wait for a person); the lock is taken
// only to store the tokens.
#include "admin/OAuthCommands.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>

#include "admin/AdminError.h"
#include "admin/Output.h"
#include "crypto/Passwords.h"
#include "oauth/AccessTokens.h"
#include "oauth/BrowserFlow.h"
#include "oauth/DeviceFlow.h"
#include "oauth/OAuthSettings.h"
#include "oauth/TokenReply.h"
#include "oauth/TokenStore.h"
#include "platform/FileSystem.h"
#include "platform/SecureRandom.h"
#include "store/IniFile.h"

extern char** environ;

namespace orvex::admin {
namespace {

// How long the browser flow waits for the redirect.
constexpr std::chrono::seconds kBrowserWait{600};

IniFile ReadSettings(const std::string& directory) {
  const std::string path = directory + "maillist.ini";
  const RegularFileRead read = ReadRegularFile(path, IniFile::kMaximumFileSize);
  if (read.outcome == RegularFileRead::Outcome::Read) return IniFile::FromText(read.content);
  if (read.outcome == RegularFileRead::Outcome::Missing) return IniFile::FromText("");
  throw AdminError("Cannot read " + path + " (not a regular file, too large or unreadable);" +
                   " check its owner and mode.");
}

std::string Decipher(const std::string& stored) {
  try {
    return DecipherPassword(stored);
  } catch (const std::exception&) {
    return {};
  }
}

std::string LocalTime(long long unixSeconds) {
  const std::time_t t = static_cast<std::time_t>(unixSeconds);
  std::tm local{};
  localtime_r(&t, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

std::string Joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

// Opens `url` in the desktop's browser when there is a desktop; never waits for it.
void OpenBrowser(const std::string& url) {
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if ((display == nullptr || *display == '\0') && (wayland == nullptr || *wayland == '\0')) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::string program = "xdg-open";
  std::string argument = url;
  char* argv[] = {program.data(), argument.data(), nullptr};
  pid_t pid = -1;
  if (posix_spawnp(&pid, "xdg-open", &actions, nullptr, argv, environ) == 0) {
    int status = 0;
    ::waitpid(pid, &status, WNOHANG);  // what is left of it ends with this program
  }
  posix_spawn_file_actions_destroy(&actions);
}

TokenReply DeviceLogin(HttpClient& http, const OAuthClient& client, std::ostream& prompt) {
  if (client.deviceUrl.empty())
    throw AdminError(
        "The provider has no device endpoint: set OAuthDeviceUrl or use --flow browser.");
  const DeviceFlow flow = RunDeviceFlow(
      http, client,
      [&](const DeviceAuthorization& authorization) {
        prompt << "To sign in, open " << authorization.verificationUri
               << " in a browser on any device and enter the code " << authorization.userCode
               << "\nWaiting for the sign-in (until " << LocalTime(authorization.expiresAt)
               << ") ..." << std::endl;
      },
      UnixSecondsNow);
  switch (flow.Current()) {
    case DeviceFlow::State::Done:
      return flow.Tokens();
    case DeviceFlow::State::Denied:
      throw AdminError("The sign-in was declined (access_denied); nothing was stored.");
    case DeviceFlow::State::Expired:
      throw AdminError("The code expired before the sign-in was done; run the command again.");
    case DeviceFlow::State::Failed:
    case DeviceFlow::State::Waiting:
      break;
  }
  throw AdminError(
      "The token endpoint refused: " + flow.Tokens().error +
      (flow.Tokens().description.empty() ? "" : " (" + flow.Tokens().description + ")") +
      "; nothing was stored.");
}

TokenReply BrowserLogin(HttpClient& http, const OAuthClient& client, int port,
                        std::ostream& prompt) {
  if (client.authorizeUrl.empty())
    throw AdminError("The provider has no authorization endpoint: set OAuthAuthorizeUrl.");
  std::optional<LoopbackListener> listener;
  try {
    listener.emplace(port);
  } catch (const std::exception& e) {
    throw AdminError(std::string(e.what()) + "; choose another --port.");
  }
  SystemRandom random;
  const std::string redirect = "http://127.0.0.1:" + std::to_string(listener->Port()) + "/";
  const BrowserFlow flow(client, redirect, RandomUrlText(random), RandomUrlText(random));
  const std::string url = flow.AuthorizeUrl();
  prompt << "Listening on " << redirect << " for the sign-in's answer.\n"
         << "Open this address in a browser on this machine (from another machine, forward the "
            "port first: ssh -L "
         << listener->Port() << ":127.0.0.1:" << listener->Port() << " <this host>):\n"
         << url << std::endl;
  OpenBrowser(url);
  for (;;) {
    const std::optional<std::string> target = listener->NextRequest(kBrowserWait);
    if (!target)
      throw AdminError("No answer from the browser in time (or stopped); nothing was stored.");
    const BrowserFlow::Redirect answer = flow.OnRequest(*target);
    switch (answer.outcome) {
      case BrowserFlow::Outcome::NotTheRedirect:
        listener->Answer(404, "Not here.");
        continue;
      case BrowserFlow::Outcome::StateMismatch:
        // Not this sign-in's answer (another tab, or someone else's doing): refused, still waiting.
        listener->Answer(400, "This answer does not belong to the sign-in Orvex is waiting for.");
        prompt << "An answer with a wrong state was refused; still waiting." << std::endl;
        continue;
      case BrowserFlow::Outcome::Denied:
        listener->Answer(200, "The sign-in was not completed. You can close this page.");
        throw AdminError("The sign-in was declined: " + answer.error + "; nothing was stored.");
      case BrowserFlow::Outcome::Code:
        break;
    }
    listener->Answer(200, "Orvex is signed in. You can close this page.");
    const TokenReply reply =
        ParseTokenReply(http.PostForm(client.tokenUrl, flow.TokenRequest(answer.code)));
    if (!reply.ok)
      throw AdminError("The token endpoint refused the code: " + reply.error +
                       (reply.description.empty() ? "" : " (" + reply.description + ")") +
                       "; nothing was stored.");
    return reply;
  }
}

}  // namespace

int OAuthLogin(const Session& session, const OAuthLoginOptions& options, std::ostream& out,
               std::ostream& err) {
  const std::string directory = session.ListDirectory(options.list);
  IniFile config = IniFile::FromText("");
  {
    const ListLock lock = session.LockList(options.list, directory);
    config = ReadSettings(directory);
  }
  const std::vector<std::string> accounts = OAuthAccounts(config);
  std::string account;
  if (options.account) {
    if (std::find(accounts.begin(), accounts.end(), *options.account) == accounts.end())
      throw AdminError(
          "\"" + *options.account + "\" does not sign in with OAuth 2.0 in list " + options.list +
          " (" +
          (accounts.empty() ? std::string("none does") : "those that do: " + Joined(accounts)) +
          "); set SmtpAuthMethod or Pop3AuthMethod<n> to oauth2 first.");
    account = *options.account;
  } else if (accounts.size() == 1) {
    account = accounts.front();
  } else if (accounts.empty()) {
    throw AdminError(
        "No account of list " + options.list +
        " signs in with OAuth 2.0; set SmtpAuthMethod or Pop3AuthMethod<n> to oauth2.");
  } else {
    throw AdminError("List " + options.list + " has several OAuth 2.0 accounts (" +
                     Joined(accounts) + "); name one with --account.");
  }
  const OAuthClient client = ReadOAuthClient(config, Decipher);
  if (client.clientId.empty() || client.tokenUrl.empty())
    throw AdminError(
        "List " + options.list +
        " has no OAuth 2.0 client; set OAuthProvider (or OAuthTokenUrl) and OAuthClientId.");
  std::string flow = options.flow;
  if (flow.empty())
    flow = client.provider == OAuthProvider::Google ? "browser"
           : client.deviceUrl.empty()               ? "browser"
                                                    : "device";

  std::ostream& prompt = session.Json() ? err : out;
  prompt << "Signing in " << account << " for list " << options.list << " (" << flow << " flow)."
         << std::endl;
  CurlHttpClient http;
  TokenReply reply;
  try {
    reply = flow == "browser" ? BrowserLogin(http, client, options.port, prompt)
                              : DeviceLogin(http, client, prompt);
  } catch (const HttpError& e) {
    throw AdminError(std::string(e.what()) + "; nothing was stored.");
  }

  StoredTokens tokens{reply.refreshToken, reply.accessToken,
                      UnixSecondsNow() + (reply.expiresIn > 0 ? reply.expiresIn : 3600)};
  {
    const ListLock lock = session.LockList(options.list, directory);
    try {
      TokenStore store(directory);
      if (tokens.refreshToken.empty())
        if (const auto old = store.Find(account)) tokens.refreshToken = old->refreshToken;
      store.Put(account, tokens);
      store.Save();
    } catch (const std::exception& e) {
      throw AdminError(std::string(e.what()) + "; the sign-in was not stored.");
    }
  }
  const std::string warning =
      tokens.refreshToken.empty()
          ? " The server gave no refresh token: the service can sign in only until then."
          : "";
  PrintMessage(session, out,
               Json{{"list", options.list},
                    {"account", account},
                    {"result", "signed in"},
                    {"refreshToken", !tokens.refreshToken.empty()},
                    {"accessTokenExpires", tokens.accessTokenExpires}},
               "Signed in " + account + " for list " + options.list +
                   "; the access token is valid until " + LocalTime(tokens.accessTokenExpires) +
                   "." + warning);
  return tokens.refreshToken.empty() ? kExitFailed : kExitDone;
}

int OAuthStatus(const Session& session, const std::string& list, std::ostream& out) {
  const std::string directory = session.ListDirectory(list);
  const ListLock lock = session.LockList(list, directory);
  const IniFile config = ReadSettings(directory);
  std::optional<TokenStore> store;
  try {
    store.emplace(directory);
  } catch (const std::exception& e) {
    throw AdminError(std::string(e.what()) + "; check its owner and mode.");
  }
  std::vector<std::string> accounts = OAuthAccounts(config);
  for (const std::string& stored : store->Accounts())
    if (std::find(accounts.begin(), accounts.end(), stored) == accounts.end())
      accounts.push_back(stored);
  const std::vector<std::string> configured = OAuthAccounts(config);
  const long long now = UnixSecondsNow();
  Json json = Json::array();
  Table table{{"ACCOUNT", "STATE", "ACCESS TOKEN EXPIRES"}, {}};
  for (const std::string& account : accounts) {
    const std::optional<StoredTokens> tokens = store->Find(account);
    std::string state;
    if (std::find(configured.begin(), configured.end(), account) == configured.end())
      state = "not used by the list";
    else if (!tokens || tokens->refreshToken.empty())
      state = tokens && tokens->accessTokenExpires > now ? "signed in, no refresh token"
                                                         : "not signed in";
    else if (tokens->accessTokenExpires - now > AccessTokens::kRefreshMargin)
      state = "signed in";
    else
      state = "signed in (refreshed at the next use)";
    const std::string expires =
        tokens && tokens->accessTokenExpires > 0 ? LocalTime(tokens->accessTokenExpires) : "-";
    table.rows.push_back({account, state, expires});
    json.push_back({{"account", account},
                    {"state", state},
                    {"refreshToken", tokens && !tokens->refreshToken.empty()},
                    {"accessTokenExpires", tokens ? tokens->accessTokenExpires : 0}});
  }
  Print(session, out, Json{{"list", list}, {"accounts", json}}, table);
  return kExitDone;
}

}  // namespace orvex::admin
