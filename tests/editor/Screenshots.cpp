// Renders each page and dialog of the editor to PNG files for review (not a test):
//   orvex_editor_screenshots <output directory>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTest>

#include "EditorTestSupport.h"
#include "editor/Dialogs.h"

using namespace orvex;
using namespace orvex::test;

namespace {

void Save(QWidget* widget, const QString& directory, const char* name) {
  const QString path = directory + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png");
  if (!widget->grab().save(path)) qFatal("cannot write %s", qPrintable(path));
}

// Grabs the next modal dialog, then answers it with Cancel.
void GrabModal(const QString& directory, const char* name) {
  WhenModalShown([directory, name](QWidget* modal) {
    Save(modal, directory, name);
    qobject_cast<QDialog*>(modal)->reject();
  });
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots");
  QDir().mkpath(out);

  EditorFixture editor([](EditorFixture& before) {
    before.dialUp.entries = std::vector<std::string>{"Home DSL", "Work VPN"};
    before.dir.Write("orvex.ini",
                     "[DialUp]\r\nUse dialup=1\r\nEntry=Work VPN\r\nUser=garden\r\n"
                     "Attempts=3\r\nPause=30\r\n");
  });
  Save(editor.window.get(), out, "main-without-list");

  editor.dir.Write("Data/A/maillist.ini",
                   "[General]\r\nName=Friends of the garden\r\nAddress=garden@example.org\r\n"
                   "ControlAddress=garden-request@example.org\r\nModerator=ann@example.org\r\n"
                   "From=garden-owner@example.org\r\nSMTPHOST=smtp.example.org\r\nSMTPPort=587\r\n"
                   "Pop3Count=2\r\nPop3Host1=pop.example.org\r\nPop3Port1=110\r\nName1=garden\r\n"
                   "Pop3Host2=pop.example.org\r\nPop3Port2=995\r\nName2=garden-request\r\n"
                   "Pop3Security2=2\r\nSmtpSecurity=1\r\nMaxRecipients=50\r\nListHeaders=1\r\n"
                   "BounceLimit=5\r\nFromRewrite=1\r\n"
                   "[Subscribe successfull]\r\nSubject=Welcome to {LISTNAME}\r\n"
                   "Text=\"Hello,\\13\\10you are now subscribed to {LISTNAME}.\\13\\10\"\r\n");
  editor.dir.Write("Data/A/subscribers.ini",
                   "ann@example.org=d,secret\r\nbob@example.org=,pw\r\ncarol@example.org=pb,x\r\n");
  editor.dir.Write("Data/B/maillist.ini", "[General]\r\nName=Second list\r\n");

  GrabModal(out, "dialog-select-list");
  editor.Click("ChangeList");
  editor.OpenList("A");

  auto* pages = editor.Find<QTabWidget>("PageControl1");
  pages->setCurrentIndex(0);
  Save(editor.window.get(), out, "page-general");
  pages->setCurrentIndex(1);
  editor.Find<QComboBox>("ComboBox1")->setCurrentIndex(2);
  Save(editor.window.get(), out, "page-templates");
  editor.Find<QComboBox>("ComboBox1")->setCurrentIndex(0);
  Save(editor.window.get(), out, "page-templates-signature");
  pages->setCurrentIndex(2);
  editor.Find<QTableView>("SSList")->selectRow(0);
  Save(editor.window.get(), out, "page-subscribers");

  pages->setCurrentIndex(0);
  GrabModal(out, "dialog-pop3-new");
  editor.Click("Pop3Add");
  GrabModal(out, "dialog-new-subscriber");
  pages->setCurrentIndex(2);
  editor.Click("SSNew");

  editor.boxes.Queue(BoxAnswer::No);
  editor.Click("NewList");
  pages->setCurrentIndex(0);
  Save(editor.window.get(), out, "main-new-list");
  return 0;
}
