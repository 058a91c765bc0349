// Start-up: interlock, banner, session keys; then passes over all lists until a stop request.
#include "service/Service.h"

#include <cstdio>
#include <optional>

#include "crypto/SessionKeys.h"
#include "oauth/AccessTokens.h"
#include "platform/DialUpBackend.h"
#include "platform/FileSystem.h"
#include "platform/Heartbeat.h"
#include "platform/InstanceLock.h"
#include "platform/StopSignal.h"
#include "platform/Terminal.h"
#include "processing/Inbox.h"
#include "service/ConsoleLog.h"
#include "service/DialUpStage.h"
#include "service/ListCycle.h"
#include "service/SystemdNotify.h"
#include "store/MessageNames.h"
#include "transport/MailClient.h"
#include "transport/Pop3Retrieval.h"
#include "transport/SmtpDelivery.h"
#include "transport/StageSettings.h"

namespace orvex {
namespace {

constexpr auto kSpinnerStep = std::chrono::milliseconds(100);
constexpr int kStepsPerPass = 10;  // a pass at least once a second

}  // namespace

int RunService(const std::string& programDirectory, const std::string& versionText) {
  // Typed from the shell, the program directory is where the program file lies (/usr/bin): no
  // lock file may be made there, and idling over no lists without a word helps nobody.
  if (!DirectoryExists(programDirectory + "Data")) {
    std::fprintf(stderr,
                 "%s holds no Data/ directory, so it is no program directory: start orvex from "
                 "its program directory (the package's is /var/lib/orvex) or create Data/ there\n",
                 programDirectory.c_str());
    return 2;
  }
  std::optional<InstanceLock> lock = InstanceLock::TryAcquire(programDirectory + kServiceLockName);
  if (!lock) return 1;  // another service runs here: leave silently
  if (InstanceLock::IsHeld(programDirectory + kEditorLockName)) {
    std::fputs("Mailing list editor is currently active\nMailing list manager cannot start\n",
               stderr);
    return 2;
  }

  const std::string dataPath = programDirectory + "Data/";
  InstallStopSignalHandlers();
  // Under systemd (Type=notify): readiness, a watchdog fed from every long wait, the status.
  StartSystemdNotification();

  SystemClock clock;
  SystemRandom random;
  ConsoleTerminal terminal;
  ConsoleLog console(terminal, clock);
  MessageNamer namer(clock);
  const Environment env{clock, random, console, namer};

  console.SetTitle("ORVEX [Idle]");
  console.WriteLog("ORVEX maillist manager version " + versionText + " started", LogColour::White);
  MakeSessionKeys(console, random);

  const std::unique_ptr<DialUpBackend> dialUpBackend = MakeNetworkManagerBackend();
  DialUpStage dialUp(programDirectory + "orvex.ini", *dialUpBackend, env);

  // One client for every POP3 mailbox and one for every SMTP relay, kept for the whole run.
  MailClient pop3(110);
  MailClient smtp(25);

  // OAuth 2.0 access tokens, refreshed over HTTPS when they are about to expire; one token
  // serves every connection of a list's cycle.
  CurlHttpClient https;
  AccessTokens accessTokens(https, console, DecipherStoredPassword);
  const auto tokensOf = [&](TAccount& list) -> AccessTokenSource {
    return [&accessTokens, &list](const std::string& account) {
      return accessTokens.Get(list.ListDir(), list.Config(), account);
    };
  };

  CycleStages stages;
  stages.dialUp = [&](TAccount&) { return dialUp.DialUpConnect(); };
  stages.retrieve = [&](TAccount& list) {
    accessTokens.NewCycle(list.ListDir());
    RetrieveMailboxes(list, pop3, env, DecipherStoredPassword, tokensOf(list));
  };
  stages.process = [&](TAccount& list) { ProcessInbox(list, env); };
  stages.deliver = [&](TAccount& list) {
    DeliverOutbox(list, smtp, env, DecipherStoredPassword, tokensOf(list));
  };
  stages.hangUp = [&] { dialUp.HangUp(); };
  stages.progress = [](const std::string& what) {
    NotifyStatus(what);
    Heartbeat();
  };
  ListCycle cycle(env, console, stages);

  NotifyReady();
  NotifyStatus("Idle");
  while (!Terminated()) {
    Heartbeat();
    EnumerateLists(dataPath, [&](const std::string& listDirectory) { cycle.Run(listDirectory); });
    for (int step = 0; step < kStepsPerPass && !Terminated(); ++step) {
      console.SpinnerStep();
      if (WaitForStop(kSpinnerStep)) break;
    }
  }
  console.WriteLog("Stopping on request", LogColour::White);
  NotifyStopping();
  terminal.ShowCursor(true);
  return 0;
}

}  // namespace orvex
