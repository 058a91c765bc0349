// Driving the editor in tests.
#include "EditorTestSupport.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include "crypto/Passwords.h"
#include "editor/BoundedSpinBox.h"
#include "editor/ChoiceBox.h"
#include "editor/Dialogs.h"
#include "platform/Error.h"
#include "store/NameValueList.h"

namespace orvex::test {

BoxAnswer ScriptedBoxes::Show(QWidget*, BoxKind kind, const QString& text, BoxButtons buttons) {
  asked.push_back({kind, text, buttons});
  if (answers_.empty()) return BoxAnswer::Cancel;
  const BoxAnswer answer = answers_.front();
  answers_.pop_front();
  return answer;
}

std::string CheckPasswords(const std::string& file,
                           const std::vector<std::pair<std::string, std::string>>& expected) {
  std::vector<std::string> lines = SplitLines(file);
  for (const auto& [key, plain] : expected) {
    bool found = false;
    for (auto& line : lines) {
      if (line.rfind(key + "=", 0) != 0) continue;
      const std::string stored = line.substr(key.size() + 1);
      if (DecipherPassword(stored) != plain ||
          (!plain.empty() && stored.find(plain) != std::string::npos))
        qWarning("%s is stored as %s", key.c_str(), stored.c_str());
      if (DecipherPassword(stored) != plain) return "password " + key + " does not decipher";
      line = key + "=<enciphered>";
      found = true;
    }
    if (!found) return "no " + key;
  }
  return JoinLines(lines);
}

void Choose(QComboBox* box, int index) {
  box->setFocus();
  QTest::keyClick(box, Qt::Key_Home);
  for (int i = 0; i < index; ++i) QTest::keyClick(box, Qt::Key_Down);
  if (box->currentIndex() != index)
    qFatal("cannot choose %d in %s", index, qPrintable(box->objectName()));
}

LocalDateTime SteppingClock::Now() const {
  const LocalDateTime now = clock_.Now();
  clock_.AdvanceMilliseconds(1);
  return now;
}

namespace {

// Answers not yet given; a test that ends with one has opened fewer dialogs than it expected.
int pendingAnswers = 0;
// Moves on with every fixture so that an answer left over never acts in a later test.
int generation = 0;

}  // namespace

void WhenModalShown(std::function<void(QWidget*)> act) {
  ++pendingAnswers;
  auto deadline = std::make_shared<QDeadlineTimer>(5000);
  auto poll = std::make_shared<std::function<void()>>();
  const int mine = generation;
  *poll = [act = std::move(act), deadline, poll, mine]() mutable {
    if (mine != generation) {
      *poll = nullptr;
      return;
    }
    QWidget* modal = QApplication::activeModalWidget();
    if (modal != nullptr && modal->isVisible()) {
      --pendingAnswers;
      act(modal);
      *poll = nullptr;  // break the self-reference
      return;
    }
    if (deadline->hasExpired()) {
      *poll = nullptr;
      return;
    }
    QTimer::singleShot(5, *poll);
  };
  QTimer::singleShot(0, *poll);
}

void AnswerPop3Dialog(const QString& host, const QString& port, const QString& user,
                      const QString& password, int security, const QString& fingerprint) {
  WhenModalShown([=](QWidget* modal) {
    auto* dialog = qobject_cast<TForm3*>(modal);
    if (dialog == nullptr) qFatal("the POP3 server dialog did not open");
    if (security >= 0) Choose(dialog->Security, security);
    if (!fingerprint.isNull()) {
      dialog->Fingerprint->selectAll();
      QTest::keyClicks(dialog->Fingerprint, fingerprint);
    }
    for (auto [edit, text] :
         {std::pair{dialog->Host, host}, {dialog->User, user}, {dialog->Password, password}}) {
      if (text.isNull()) continue;
      edit->selectAll();
      QTest::keyClicks(edit, text);
    }
    if (!port.isNull()) {
      dialog->Port->selectAll();
      QTest::keyClicks(dialog->Port, port);
    }
    QTest::mouseClick(dialog->OkButton, Qt::LeftButton);
  });
}

void AnswerNewSubscriber(const QString& address, const QString& password) {
  WhenModalShown([=](QWidget* modal) {
    auto* dialog = qobject_cast<TForm4*>(modal);
    if (dialog == nullptr) qFatal("the new subscriber dialog did not open");
    dialog->Address->setText(address);
    dialog->Password->setText(password);
    QTest::mouseClick(dialog->OkButton, Qt::LeftButton);
  });
}

EditorFixture::EditorFixture(const std::function<void(EditorFixture&)>& before) {
  if (before) before(*this);
  window = std::make_unique<TOrvexEditorForm>(dir.Path(), boxes, clock, dialUp);
  window->show();
}

EditorFixture::~EditorFixture() {
  ++generation;
  if (pendingAnswers != 0) {
    pendingAnswers = 0;
    QTest::qFail("a dialog the test meant to answer never opened", __FILE__, __LINE__);
  }
}

void EditorFixture::ShowPage(int index) const {
  Find<QTabWidget>("PageControl1")->setCurrentIndex(index);
}

void EditorFixture::BringPageOf(QWidget* widget) const {
  auto* pages = Find<QTabWidget>("PageControl1");
  for (int i = 0; i < pages->count(); ++i)
    if (pages->widget(i)->isAncestorOf(widget)) pages->setCurrentIndex(i);
}

void EditorFixture::Click(const char* name) const {
  auto* button = Find<QPushButton>(name);
  if (button == nullptr) qFatal("no button %s", name);
  BringPageOf(button);
  if (!button->isVisible()) qFatal("button %s is not on the screen", name);
  QTest::mouseClick(button, Qt::LeftButton);
}

void EditorFixture::Type(const char* name, const QString& text) const {
  auto* edit = Find<QLineEdit>(name);
  if (edit == nullptr) qFatal("no text box %s", name);
  BringPageOf(edit);
  edit->setFocus();
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_Delete);
  QTest::keyClicks(edit, text);
}

void EditorFixture::OpenList(const std::string& directory) const {
  WhenModalShown([directory](QWidget* modal) {
    auto* dialog = qobject_cast<TForm2*>(modal);
    if (dialog == nullptr) qFatal("the list selection dialog did not open");
    // The box shows names; the dialog keeps directories position for position.
    for (int row = 0; row < dialog->ListBox1->count(); ++row) {
      dialog->ListBox1->setCurrentRow(row);
      if (dialog->ChosenDirectory() == directory) break;
    }
    QTest::mouseClick(dialog->SelectButton, Qt::LeftButton);
  });
  Click("ChangeList");
}

std::string EditorFixture::ListFile(const std::string& directory, const std::string& file) const {
  return dir.Read("Data/" + directory + "/" + file);
}

}  // namespace orvex::test
