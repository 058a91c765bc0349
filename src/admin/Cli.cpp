// Command-line parsing with CLI11: every level answers --help; parse errors exit with 2.
#include "admin/Cli.h"

#include <CLI/CLI.hpp>
#include <functional>
#include <optional>
#include <string>

#include "admin/AdminError.h"
#include "admin/Check.h"
#include "admin/Commands.h"
#include "admin/OAuthCommands.h"
#include "admin/Session.h"

namespace orvex::admin {
namespace {

// "--digest on|off" as an optional switch.
std::optional<bool> OnOff(const std::string& text) {
  if (text.empty()) return std::nullopt;
  return text == "on";
}

}  // namespace

int RunAdmin(int argc, const char* const* argv, const std::string& programFileDirectory,
             std::istream& in, std::ostream& out, std::ostream& err) {
  CLI::App app{"orvex-admin: runs Orvex mailing lists from a shell, also while the service runs."};
  app.require_subcommand(1);
  std::string dir;
  bool json = false;
  int wait = 60;
  app.add_option("--dir", dir,
                 "program directory (default: the program file's directory when it holds Data/, "
                 "else /var/lib/orvex)");
  app.add_flag("--json", json, "output for scripts");
  app.add_option("--wait", wait, "seconds to wait for a list in its cycle (default 60)")
      ->check(CLI::Range(0, 86400));
  app.fallthrough();

  std::function<int(const Session&)> action;
  std::function<int()> plainAction;

  std::string list, address, key, file;
  std::optional<std::string> value, to;
  bool passwordStdin = false, yes = false, welcome = false, digestFlag = false, pausedFlag = false;
  std::string digestSwitch, pausedSwitch;
  CreateOptions create;
  std::optional<std::string> statusList;
  bool readImport = false;
  std::string importText;

  app.add_subcommand("lists", "every list: members, next due, queues, last cycle")->callback([&] {
    action = [&](const Session& s) { return Lists(s, out); };
  });
  auto* status = app.add_subcommand("status", "the service and each list's last cycle");
  status->add_option("LIST", statusList, "one list only");
  status->callback([&] { action = [&](const Session& s) { return Status(s, statusList, out); }; });

  auto* listCommand = app.add_subcommand("list", "create, show, change or delete one list");
  listCommand->require_subcommand(1);
  auto* listCreate = listCommand->add_subcommand("create", "a new list from the built-in settings");
  listCreate->add_option("DIR-NAME", create.directoryName, "the list's directory under Data/")
      ->required();
  listCreate->add_option("--name", create.name, "display name")->required();
  listCreate->add_option("--address", create.address, "list address")->required();
  listCreate->add_option("--control", create.control, "control (command) address")->required();
  listCreate->add_option("--moderator", create.moderator, "moderator's address")->required();
  listCreate->add_option("--from", create.from, "envelope sender (default: the list address)");
  listCreate->add_option("--provider", create.provider,
                         "fill in the servers of gmail, outlook, microsoft365, yahoo, icloud, "
                         "fastmail or gmx, with the list address as the account");
  listCreate->callback(
      [&] { action = [&](const Session& s) { return ListCreate(s, create, out); }; });

  auto* listShow = listCommand->add_subcommand("show", "every key with its value");
  listShow->add_option("LIST", list)->required();
  listShow->callback([&] { action = [&](const Session& s) { return ListShow(s, list, out); }; });

  auto* listSet = listCommand->add_subcommand(
      "set",
      "one key, checked against its type and range (notices: \"Section/Subject\", "
      "\"Section/Text\")");
  listSet->add_option("LIST", list)->required();
  listSet->add_option("KEY", key)->required();
  listSet->add_option("VALUE", value);
  listSet->add_flag("--password-stdin", passwordStdin,
                    "read the value (one line) from standard input; the only way for passwords");
  listSet->callback([&] {
    action = [&](const Session& s) { return ListSet(s, list, key, value, passwordStdin, in, out); };
  });

  auto* listDelete = listCommand->add_subcommand("delete", "the list with its members and mail");
  listDelete->add_option("LIST", list)->required();
  listDelete->add_flag("--yes", yes, "confirm");
  listDelete->callback(
      [&] { action = [&](const Session& s) { return ListDelete(s, list, yes, out); }; });

  auto* members = app.add_subcommand("members", "a list's members; import and export");
  members->add_option("LIST", list);
  auto* importCommand = members->add_subcommand(
      "import", "one address a line, or \"address,flags\" (d digest, p paused, b posting off)");
  importCommand->add_option("LIST", list)->required();
  importCommand->add_option("FILE", file, "the file, or - for standard input")->required();
  importCommand->add_flag("--welcome", welcome,
                          "send each new member the \"Subscribe successfull\" notice");
  importCommand->callback([&] {
    readImport = true;
    action = [&](const Session& s) { return MembersImport(s, list, importText, welcome, out); };
  });
  auto* exportCommand = members->add_subcommand("export", "in the form import reads");
  exportCommand->add_option("LIST", list)->required();
  exportCommand->callback(
      [&] { action = [&](const Session& s) { return MembersExport(s, list, out); }; });
  members->callback([&] {
    if (action) return;  // import or export
    if (list.empty()) throw CLI::RequiredError("LIST");
    action = [&](const Session& s) { return Members(s, list, out); };
  });

  auto* member = app.add_subcommand("member", "add, remove or change one member");
  member->require_subcommand(1);
  auto* memberAdd = member->add_subcommand("add", "a member, at once (no confirmation)");
  memberAdd->add_option("LIST", list)->required();
  memberAdd->add_option("ADDRESS", address)->required();
  memberAdd->add_flag("--digest", digestFlag, "receives digests");
  memberAdd->add_flag("--paused", pausedFlag, "receives nothing for now");
  memberAdd->add_flag("--welcome", welcome, "send the \"Subscribe successfull\" notice");
  memberAdd->callback([&] {
    action = [&](const Session& s) {
      MemberFlags flags{digestFlag, pausedFlag};
      return MemberAdd(s, list, address, flags, welcome, out);
    };
  });
  auto* memberRemove = member->add_subcommand("remove", "a member");
  memberRemove->add_option("LIST", list)->required();
  memberRemove->add_option("ADDRESS", address)->required();
  memberRemove->callback(
      [&] { action = [&](const Session& s) { return MemberRemove(s, list, address, out); }; });
  auto* memberSet = member->add_subcommand("set", "digest and pause of a member");
  memberSet->add_option("LIST", list)->required();
  memberSet->add_option("ADDRESS", address)->required();
  memberSet->add_option("--digest", digestSwitch)->check(CLI::IsMember({"on", "off"}));
  memberSet->add_option("--paused", pausedSwitch)->check(CLI::IsMember({"on", "off"}));
  memberSet->callback([&] {
    action = [&](const Session& s) {
      return MemberSet(s, list, address, MemberFlags{OnOff(digestSwitch), OnOff(pausedSwitch)},
                       out);
    };
  });

  auto* failed = app.add_subcommand("failed", "files in Failed/ with when and why");
  failed->add_option("LIST", list);
  auto* retry = failed->add_subcommand("retry", "a file back to Inbox/ or Outbox/");
  retry->add_option("LIST", list)->required();
  retry->add_option("FILE", file)->required();
  retry->add_option("--to", to, "inbox or outbox, for a file whose origin was not recorded");
  retry->callback(
      [&] { action = [&](const Session& s) { return FailedRetry(s, list, file, to, out); }; });
  failed->callback([&] {
    if (action) return;
    if (list.empty()) throw CLI::RequiredError("LIST");
    action = [&](const Session& s) { return Failed(s, list, out); };
  });

  std::string token;
  std::optional<std::string> reason;
  auto* held = app.add_subcommand("held", "messages waiting for the moderator; approve or reject");
  held->add_option("LIST", list);
  auto* heldApprove = held->add_subcommand("approve", "distribute a held post, or subscribe");
  heldApprove->add_option("LIST", list)->required();
  heldApprove->add_option("TOKEN", token)->required();
  heldApprove->callback([&] {
    action = [&](const Session& s) { return HeldDecide(s, list, token, true, std::nullopt, out); };
  });
  auto* heldReject = held->add_subcommand("reject", "drop a held message");
  heldReject->add_option("LIST", list)->required();
  heldReject->add_option("TOKEN", token)->required();
  heldReject->add_option("--reason", reason,
                         "sent to the poster with the \"Post rejected\" notice");
  heldReject->callback([&] {
    action = [&](const Session& s) { return HeldDecide(s, list, token, false, reason, out); };
  });
  held->callback([&] {
    if (action) return;
    if (list.empty()) throw CLI::RequiredError("LIST");
    action = [&](const Session& s) { return Held(s, list, out); };
  });

  auto* check = app.add_subcommand(
      "check", "every POP3 mailbox and the relay: connect, TLS, log in; sends and deletes nothing");
  check->add_option("LIST", list)->required();
  check->callback([&] { action = [&](const Session& s) { return Check(s, list, out); }; });

  auto* oauth = app.add_subcommand("oauth", "OAuth 2.0 sign-in of a list's accounts");
  oauth->require_subcommand(1);
  OAuthLoginOptions login;
  auto* oauthLogin = oauth->add_subcommand(
      "login", "signs an account in (device flow, or browser flow with a listener on 127.0.0.1)");
  oauthLogin->add_option("LIST", login.list)->required();
  oauthLogin->add_option("--account", login.account,
                         "the user name (needed when the list has several OAuth 2.0 accounts)");
  oauthLogin
      ->add_option("--flow", login.flow,
                   "device or browser (default: browser for google, device for microsoft)")
      ->check(CLI::IsMember({"device", "browser"}));
  oauthLogin
      ->add_option("--port", login.port,
                   "the browser flow's port on 127.0.0.1 (for an SSH tunnel; default: any)")
      ->check(CLI::Range(1, 65535));
  oauthLogin->callback(
      [&] { action = [&](const Session& s) { return OAuthLogin(s, login, out, err); }; });
  auto* oauthStatus = oauth->add_subcommand("status", "each account's sign-in and token expiry");
  oauthStatus->add_option("LIST", list)->required();
  oauthStatus->callback(
      [&] { action = [&](const Session& s) { return OAuthStatus(s, list, out); }; });

  app.add_subcommand("passwd", "enciphers a password read from standard input")->callback([&] {
    plainAction = [&] { return Passwd(json, in, out); };
  });

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e, out, err);
    return status == 0 ? kExitDone : kExitUsage;
  }
  try {
    if (plainAction) return plainAction();
    const std::string programDirectory = dir.empty() ? DefaultProgramDirectory(programFileDirectory)
                                                     : (dir.back() == '/' ? dir : dir + "/");
    // The import file is the caller's: read with the caller's rights.
    if (readImport) importText = ReadImportFile(file, in);
    // Before anything in the directory is touched.
    ActAsOwnerOf(programDirectory);
    const Session session(programDirectory, json, wait);
    return action(session);
  } catch (const AdminError& e) {
    out.flush();
    err << "orvex-admin: " << e.what() << '\n';
    return e.Status();
  } catch (const std::exception& e) {
    out.flush();
    err << "orvex-admin: " << e.what() << '\n';
    return kExitFailed;
  }
}

}  // namespace orvex::admin
