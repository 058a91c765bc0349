// Driving the editor in tests.
#include "EditorTestSupport.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "editor/Dialogs.h"

namespace orvex::test {

BoxAnswer ScriptedBoxes::Show(QWidget*, BoxKind kind, const QString& text, BoxButtons buttons) {
  asked.push_back({kind, text, buttons});
  if (answers_.empty()) return BoxAnswer::Cancel;
  const BoxAnswer answer = answers_.front();
  answers_.pop_front();
  return answer;
}

void WhenModalShown(std::function<void(QWidget*)> act) {
  auto deadline = std::make_shared<QDeadlineTimer>(5000);
  auto poll = std::make_shared<std::function<void()>>();
  *poll = [act = std::move(act), deadline, poll]() mutable {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal != nullptr && modal->isVisible()) {
      act(modal);
      *poll = nullptr;  // break the self-reference
      return;
    }
    if (deadline->hasExpired()) {
      qWarning("no modal dialog appeared");
      *poll = nullptr;
      return;
    }
    QTimer::singleShot(5, *poll);
  };
  QTimer::singleShot(0, *poll);
}

EditorFixture::EditorFixture() {
  window = std::make_unique<TOrvexEditorForm>(dir.Path(), boxes, clock);
  window->show();
}

EditorFixture::~EditorFixture() = default;

void EditorFixture::Click(const char* name) const {
  auto* button = Find<QPushButton>(name);
  if (button == nullptr) qFatal("no button %s", name);
  QTest::mouseClick(button, Qt::LeftButton);
}

void EditorFixture::Type(const char* name, const QString& text) const {
  auto* edit = Find<QLineEdit>(name);
  if (edit == nullptr) qFatal("no text box %s", name);
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
