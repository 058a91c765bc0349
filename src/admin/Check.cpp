// The server check: the transport's own client and set-up code, stopped before any mail moves.
#include "admin/Check.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <vector>

#include "admin/AdminError.h"
#include "admin/Output.h"
#include "oauth/AccessTokens.h"
#include "platform/Text.h"
#include "store/IniFile.h"
#include "transport/MailClient.h"
#include "transport/MailSecurity.h"
#include "transport/OAuthSasl.h"
#include "transport/Pop3Retrieval.h"
#include "transport/SmtpSession.h"
#include "transport/StageSettings.h"

namespace orvex::admin {
namespace {

constexpr int kPositive = 1;  // "+OK"

struct Server : MailServer {
  std::string kind;  // "POP3 1", "SMTP"
  // Signs in with an OAuth 2.0 access token (in `password`), or says why it has none.
  bool oauth = false;
  std::string tokenProblem = {};
};

// Keeps the last line of the token logic: why an account has no token.
class LastLine final : public Logger {
 public:
  void WriteLog(std::string_view text, LogColour) override { last = text; }
  void WriteAtCursor(std::string_view) override {}
  std::string last;
};

void NeedToken(const Server& server) {
  if (!server.tokenProblem.empty()) throw Error(server.tokenProblem);
}

struct Row {
  std::string server, step, result;
  bool ok = false;
};

std::string SecurityName(MailSecurity security) {
  switch (security) {
    case MailSecurity::None:
      return "plain";
    case MailSecurity::StartTls:
      return "STARTTLS";
    case MailSecurity::ImplicitTls:
      return "TLS";
    case MailSecurity::Unknown:
      break;
  }
  return "unknown";
}

// A failure's text on one line.
std::string OneLine(std::string text) {
  std::replace(text.begin(), text.end(), '\r', ' ');
  std::replace(text.begin(), text.end(), '\n', ' ');
  return text;
}

MailTimeLimits CheckLimits() {
  MailTimeLimits limits;
  limits.connect = std::chrono::seconds(30);
  limits.reply = std::chrono::seconds(30);
  return limits;
}

// Runs the steps in order; the first that throws names the row's failure.
Row RunSteps(const Server& server,
             const std::vector<std::pair<std::string, std::function<void()>>>& steps,
             MailClient& client, std::string& okText) {
  Row row{server.kind + " " + server.host + ":" + std::to_string(server.port) + " (" +
              SecurityName(server.security) + ")",
          "", "", false};
  for (const auto& [step, action] : steps) {
    try {
      action();
    } catch (const std::exception& e) {
      client.Disconnect();
      row.step = step;
      row.result = OneLine(e.what());
      return row;
    }
  }
  client.Disconnect();
  row.ok = true;
  row.step = "done";
  row.result = okText;
  return row;
}

Row CheckPop3(const Server& server) {
  MailClient pop3(110, CheckLimits());
  pop3.UseServer(server);
  std::string okText;
  const std::vector<std::pair<std::string, std::function<void()>>> steps = {
      {"token", [&] { NeedToken(server); }},  // an account without a token is not connected
      {"connect", [&] { pop3.Connect(); }},
      {"greeting", [&] { pop3.ReadReply({kPositive}); }},
      {"STLS",
       [&] {
         if (server.security != MailSecurity::StartTls) return;
         if (pop3.SendCommand("STLS", {}) != kPositive)
           throw Error("the server does not offer STLS: " + pop3.LastReplyLine());
         pop3.StartTls();
       }},
      {"USER",
       [&] {
         if (!server.oauth) pop3.SendCommand("USER " + server.userName, {kPositive});
       }},
      {server.oauth ? "AUTH" : "PASS",
       [&] {
         if (server.oauth)
           Pop3SignInWithToken(pop3);
         else
           pop3.SendCommand("PASS " + server.password, {kPositive});
       }},
      {"STAT",
       [&] {
         pop3.SendCommand("STAT", {kPositive});
         okText = "ok: " + pop3.LastReplyLine();
         pop3.WriteLine("QUIT");  // nothing was marked for deletion
       }},
  };
  return RunSteps(server, steps, pop3, okText);
}

Row CheckSmtp(const Server& server) {
  MailClient smtp(25, CheckLimits());
  smtp.UseServer(server);
  std::string okText;
  SmtpExtensions extensions;
  const std::vector<std::pair<std::string, std::function<void()>>> steps = {
      {"token", [&] { NeedToken(server); }},
      {"connect", [&] { smtp.Connect(); }},
      {"EHLO", [&] { extensions = SmtpGreet(smtp); }},
      {"AUTH",
       [&] {
         if (server.userName.empty()) {
           okText = "ok: no authentication configured";
           return;
         }
         if (server.oauth) {
           SmtpAuthenticateOAuth(smtp, extensions);
         } else {
           SmtpAuthenticate(smtp, extensions);
         }
         okText = "ok: logged in as " + server.userName + (server.oauth ? " (OAuth 2.0)" : "");
       }},
      {"QUIT", [&] { smtp.Quit(); }},
  };
  return RunSteps(server, steps, smtp, okText);
}

}  // namespace

int Check(const Session& session, const std::string& list, std::ostream& out) {
  const std::string directory = session.ListDirectory(list);
  std::vector<Server> pop3;
  Server smtp;
  {
    // The settings are read under the lock; the network waits happen without it, so that the
    // service's cycle of this list is never held up by a slow server.
    const ListLock lock = session.LockList(list, directory);
    const RegularFileRead read =
        ReadRegularFile(directory + "maillist.ini", IniFile::kMaximumFileSize);
    if (read.outcome != RegularFileRead::Outcome::Read &&
        read.outcome != RegularFileRead::Outcome::Missing)
      throw AdminError("Cannot read " + directory + "maillist.ini; check its owner and mode.");
    const IniFile config = IniFile::FromText(read.content);
    const long long count =
        std::clamp<long long>(config.ReadInteger("General", "Pop3Count", 1), 0, 1000);
    for (long long n = 1; n <= count; ++n) {
      const std::string number = std::to_string(n);
      pop3.push_back(
          {{config.ReadString("General", "Pop3Host" + number, ""),
            PortSetting(config.ReadInteger("General", "Pop3Port" + number, 110)),
            config.ReadString("General", "Name" + number, ""),
            DecipherStoredPassword(config.ReadString("General", "Password" + number, "")),
            SecuritySetting(config.ReadInteger("General", "Pop3Security" + number, 0)),
            config.ReadString("General", "Pop3TlsFingerprint" + number, "")},
           "POP3 " + number});
    }
    smtp = {{config.ReadString("General", "SMTPHOST", ""),
             PortSetting(config.ReadInteger("General", "SMTPPort", 25)),
             config.ReadString("General", "SMTPUser", ""),
             DecipherStoredPassword(config.ReadString("General", "SMTPPassword", "")),
             SecuritySetting(config.ReadInteger("General", "SmtpSecurity", 0)),
             config.ReadString("General", "SmtpTlsFingerprint", "")},
            "SMTP"};
    smtp.oauth =
        ParseAuthMethod(config.ReadString("General", "SmtpAuthMethod", "")) == AuthMethod::OAuth2;
    for (std::size_t i = 0; i < pop3.size(); ++i)
      pop3[i].oauth =
          ParseAuthMethod(config.ReadString("General", "Pop3AuthMethod" + std::to_string(i + 1),
                                            "")) == AuthMethod::OAuth2;
    // Access tokens as the service gets them (refreshed and stored when they are about to
    // expire): under the lock, since a refresh writes oauth.ini.
    CurlHttpClient https;
    LastLine why;
    AccessTokens tokens(https, why, DecipherStoredPassword);
    std::vector<Server*> accounts;
    for (Server& box : pop3) accounts.push_back(&box);
    accounts.push_back(&smtp);
    std::map<std::string, std::string> problems;  // an account's failure is said only once
    for (Server* server : accounts) {
      if (!server->oauth || server->userName.empty()) continue;
      server->password.clear();
      why.last.clear();
      if (const std::optional<std::string> token =
              tokens.Get(directory, config, server->userName)) {
        server->password = *token;
        continue;
      }
      if (!why.last.empty()) problems[server->userName] = why.last;
      server->tokenProblem = problems[server->userName];
    }
  }
  std::vector<Row> rows;
  for (const Server& server : pop3) rows.push_back(CheckPop3(server));
  rows.push_back(CheckSmtp(smtp));

  bool allOk = true;
  Json json = Json::array();
  Table table{{"SERVER", "RESULT", "STEP", "DETAIL"}, {}};
  for (const Row& row : rows) {
    allOk = allOk && row.ok;
    json.push_back(
        {{"server", row.server}, {"ok", row.ok}, {"step", row.step}, {"detail", row.result}});
    table.rows.push_back({row.server, row.ok ? "ok" : "FAILED", row.step, row.result});
  }
  Print(session, out, Json{{"list", list}, {"servers", json}}, table);
  return allOk ? kExitDone : kExitFailed;
}

}  // namespace orvex::admin
