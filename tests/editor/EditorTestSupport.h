// Helpers for driving the editor's real widgets: scripted answers to its message boxes, answers
// to its modal dialogs, and a window over a temporary program directory.
#pragma once

#include <QComboBox>
#include <QString>
#include <QWidget>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "editor/MessageBoxes.h"
#include "editor/OrvexEditorForm.h"
#include "support/FakeDialUpBackend.h"
#include "support/Fakes.h"
#include "support/TempDirectory.h"

namespace orvex::test {

// Answers each box with the next queued answer and records what was asked. A box nobody
// expected is answered Cancel and recorded, so a test sees it.
class ScriptedBoxes final : public MessageBoxes {
 public:
  struct Asked {
    BoxKind kind;
    QString text;
    BoxButtons buttons;
  };
  BoxAnswer Show(QWidget* parent, BoxKind kind, const QString& text, BoxButtons buttons) override;
  void Queue(BoxAnswer answer) { answers_.push_back(answer); }
  bool AllAnswered() const { return answers_.empty(); }
  std::vector<Asked> asked;

 private:
  std::deque<BoxAnswer> answers_;
};

// Checks that every stored password deciphers to the expected text and is not stored plainly,
// then puts "<enciphered>" in its place so that the rest can be compared byte for byte; the text
// of the first fault otherwise.
std::string CheckPasswords(const std::string& file,
                           const std::vector<std::pair<std::string, std::string>>& expected);

// Picks choice `index` of a drop-down list with the keyboard, as the operator would.
void Choose(QComboBox* box, int index);

// Runs `act` on the next modal dialog once it is on the screen (waits at most five seconds).
void WhenModalShown(std::function<void(QWidget*)> act);

// Answers the next POP3 server dialog with OK. Null texts and a negative security leave the
// dialog's values; the security is chosen first, so that a port given here wins over the one it
// suggests.
void AnswerPop3Dialog(const QString& host, const QString& port, const QString& user,
                      const QString& password, int security = -1, const QString& fingerprint = {});

// Answers the next new subscriber dialog with OK.
void AnswerNewSubscriber(const QString& address, const QString& password);

// Starts at 2026-12-07 02:33:54.123 and moves on by one millisecond at each reading.
class SteppingClock final : public Clock {
 public:
  LocalDateTime Now() const override;

 private:
  mutable FakeClock clock_;
};

// The editor lists the phonebook only.
using FakeDialUp = FakeDialUpBackend;

// A running editor over a fresh program directory. `before` runs before the window starts, so
// that it can lay out orvex.ini and the phonebook the window finds at start.
struct EditorFixture {
  explicit EditorFixture(const std::function<void(EditorFixture&)>& before = {});
  ~EditorFixture();

  template <typename T>
  T* Find(const char* name) const {
    return window->findChild<T*>(QLatin1String(name));
  }
  // Brings a page of the window to the front (0 general, 1 templates, 2 subscribers).
  void ShowPage(int index) const;
  // The operator switches to the page of a control before using it.
  void BringPageOf(QWidget* widget) const;
  // Clicks a button of the window by its object name.
  void Click(const char* name) const;
  // Types into a text box (replacing its text), as the operator would.
  void Type(const char* name, const QString& text) const;
  // Opens the list in Data/<directory> through "Change current list".
  void OpenList(const std::string& directory) const;
  std::string ListFile(const std::string& directory, const std::string& file) const;

  TempDirectory dir;
  ScriptedBoxes boxes;
  SteppingClock clock;
  FakeDialUp dialUp;
  std::unique_ptr<TOrvexEditorForm> window;
};

}  // namespace orvex::test
