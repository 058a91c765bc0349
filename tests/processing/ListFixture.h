// A list in a temporary program directory with fake clock, random source and log, and helpers
// to drop messages into its Inbox and read what processing left in its directories.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/FaultInjection.h"
#include "platform/FileSystem.h"
#include "platform/StopSignal.h"
#include "processing/Inbox.h"
#include "store/Account.h"
#include "store/MessageNames.h"
#include "support/Fakes.h"
#include "support/TempDirectory.h"

namespace orvex::test {

// The settings most tests share: list, control and moderator addresses, simple templates whose
// placeholders show which variables a notice carried.
inline constexpr std::string_view kBaseSettings =
    "[General]\r\n"
    "Name=Birds\r\n"
    "Address=birds@example.org\r\n"
    "ControlAddress=birds-request@example.org\r\n"
    "Moderator=mod@example.org\r\n"
    "DigestCount=1000\r\n"
    "[Signature]\r\nText=\"--\\13\\10{Listname}\"\r\n"
    "[Subscribe confirmation]\r\nSubject=confirm subscribe-confirm-{ConfirmCode}\r\n"
    "Text=\"code={ConfirmCode} sender={Sender} subject={Subject}\"\r\n"
    "[Subscribe successfull]\r\nSubject=welcome\r\n"
    "Text=\"pw={Password} address={Address} sender={Sender}\"\r\n"
    "[Unsubscribe successfull]\r\nSubject=bye\r\nText=\"pw={Password} sender={Sender}\"\r\n"
    "[Digest on]\r\nSubject=digest on\r\nText=\"on {Address}\"\r\n"
    "[Digest off]\r\nSubject=digest off\r\nText=\"off {Address}\"\r\n"
    "[Paused]\r\nSubject=paused\r\nText=\"paused {Address}\"\r\n"
    "[Resumed]\r\nSubject=resumed\r\nText=\"resumed {Address}\"\r\n"
    "[Nonsubscriber]\r\nSubject=not allowed\r\n"
    "Text=\"address={Address} sender={Sender} subject={Subject}\"\r\n"
    "[Moderate]\r\nSubject=moderate {Sender}\r\nText=\"post from {Sender}\"\r\n"
    "[NS-Moderate]\r\nSubject=ns-moderate {Sender}\r\nText=\"non-subscriber {Sender}\"\r\n"
    "[Subscription request]\r\nSubject=request {Sender}\r\nText=\"wants in: {Address}\"\r\n"
    "[Digest]\r\nSubject=Digest of {Listname} last {Subject}\r\nText=\"Preamble {Listname}\"\r\n"
    "[Digest message]\r\nText=\"* {Subject} from {Sender}\\13\\10{Text}\"\r\n";

// A message as a sender writes it, lines ended by CR LF.
inline std::string Mail(std::string_view from, std::string_view to, std::string_view subject,
                        std::string_view body = "Hello\r\n", std::string_view extra = "") {
  std::string text = "From: " + std::string(from) + "\r\nTo: " + std::string(to) +
                     "\r\nSubject: " + std::string(subject) + "\r\n" + std::string(extra) +
                     "Date: Mon, 07 Dec 2026 01:00:00 +0100\r\n\r\n" + std::string(body);
  return text;
}

class ListFixture : public ::testing::Test {
 protected:
  ListFixture() : namer(clock), env{clock, random, log, namer} {
    ResetStopRequest();
    ClearFileFaults();
    listDir = tmp.MakeList("birds");
    WriteSettings(std::string(kBaseSettings));
  }
  ~ListFixture() override {
    ResetStopRequest();
    ClearFileFaults();
  }

  // Replaces maillist.ini; `extraGeneral` lines are added to section General.
  void WriteSettings(std::string text, std::string_view extraGeneral = "") {
    EndCycle();  // the list object reads maillist.ini when it is loaded
    if (!extraGeneral.empty()) {
      const auto pos = text.find("[General]\r\n") + 11;
      text.insert(pos, std::string(extraGeneral));
    }
    tmp.Write("Data/birds/maillist.ini", text);
  }
  void Settings(std::string_view extraGeneral) {
    WriteSettings(std::string(kBaseSettings), extraGeneral);
  }
  void Subscribe(std::string_view address, std::string_view value = ",secret") {
    account().Subscribers().SetValue(address, value);
  }

  TAccount& account() {
    if (!account_) {
      account_ = std::make_unique<TAccount>();
      account_->Load(listDir);
    }
    return *account_;
  }
  // Saves and drops the list object, as the end of a list cycle does.
  void EndCycle() {
    if (account_) account_->Save();
    account_.reset();
  }

  void Deliver(std::string_view text) {
    ++delivered_;
    char name[32];
    std::snprintf(name, sizeof name, "%014d.msg", delivered_);
    tmp.Write("Data/birds/Inbox/" + std::string(name), text);
  }
  void Run() { ProcessInbox(account(), env); }
  // Delivers one message and runs one inbox pass.
  void Process(std::string_view text) {
    Deliver(text);
    Run();
  }

  // The files of a list subdirectory with the given extension, in name order.
  std::vector<std::string> Files(std::string_view directory, std::string_view extension) const {
    std::vector<std::string> names;
    for (const auto& entry : ListDirectory(listDir + std::string(directory)))
      if (!entry.isDirectory && entry.name.size() > extension.size() &&
          entry.name.ends_with(extension))
        names.push_back(entry.name);
    std::sort(names.begin(), names.end());
    return names;
  }
  std::vector<std::string> Contents(std::string_view directory, std::string_view extension) const {
    std::vector<std::string> texts;
    for (const auto& name : Files(directory, extension))
      texts.push_back(*ReadWholeFile(listDir + std::string(directory) + "/" + name));
    return texts;
  }
  // The only file of that kind; fails the test when there is not exactly one.
  std::string Only(std::string_view directory, std::string_view extension) const {
    const auto texts = Contents(directory, extension);
    EXPECT_EQ(texts.size(), 1u) << directory << "/*" << extension;
    return texts.empty() ? std::string() : texts.front();
  }
  std::size_t Count(std::string_view directory, std::string_view extension) const {
    return Files(directory, extension).size();
  }

  TempDirectory tmp;
  std::string listDir;
  FakeClock clock;
  FakeRandom random;
  RecordingLogger log;
  MessageNamer namer;
  Environment env;

 private:
  std::unique_ptr<TAccount> account_;
  int delivered_ = 0;
};

// The header value of a field in a message text (first occurrence), or empty.
inline std::string HeaderOf(std::string_view text, std::string_view name) {
  for (const std::string& line : SplitLines(text)) {
    if (line.empty()) break;
    if (line.size() > name.size() && line[name.size()] == ':' &&
        EqualsIgnoreCase(std::string_view(line).substr(0, name.size()), name)) {
      std::string_view value = std::string_view(line).substr(name.size() + 1);
      while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
      return std::string(value);
    }
  }
  return {};
}

inline bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

}  // namespace orvex::test
