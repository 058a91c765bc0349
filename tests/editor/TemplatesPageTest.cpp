// The templates page driven as the operator drives it: one notice slot shown at a time, edits
// kept per slot, the context menu, and the sections written.
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTest>

#include "EditorTestSupport.h"
#include "editor/TemplatesPage.h"

using namespace orvex;
using namespace orvex::test;

namespace {

const std::string kNotices =
    "[General]\r\nName=L\r\n"
    "[Signature]\r\nText=\"  two blanks\\13\\10\"\r\n"
    "[unSubscribe successfull]\r\nSubject=Bye\r\nText=Gone\r\n"
    "[Paused]\r\nSubject=P\r\nText=p\r\n[Resumed]\r\nSubject=R\r\nText=r\r\n"
    "[bounce PAUSE]\r\nSubject=B\r\nText=b\r\n";

// A window on the templates page of list L, which holds kNotices.
struct TemplatesFixture {
  TemplatesFixture() {
    editor.dir.Write("Data/L/maillist.ini", kNotices);
    editor.OpenList("L");
    editor.ShowPage(1);
  }

  EditorFixture editor;
  QComboBox* selector = editor.Find<QComboBox>("ComboBox1");
  QLineEdit* subject = editor.Find<QLineEdit>("Subject");
  QPlainTextEdit* text = editor.Find<QPlainTextEdit>("Template");
};

}  // namespace

class TemplatesPageTest : public QObject {
  Q_OBJECT

 private slots:
  void TheSelectorShowsOneSlotAtATime() {
    TemplatesFixture page;
    auto* selector = page.selector;
    auto* subject = page.subject;
    auto* text = page.text;
    QCOMPARE(selector->count(), 17);
    QCOMPARE(selector->currentIndex(), -1);
    QVERIFY(text->isHidden() && subject->isHidden());

    for (int index : {0, 10}) {
      selector->setCurrentIndex(index);
      QVERIFY(subject->isHidden());
      QVERIFY(!text->isHidden());
    }
    selector->setCurrentIndex(0);
    QCOMPARE(text->toPlainText(), QStringLiteral("  two blanks\n"));
    selector->setCurrentIndex(3);
    QVERIFY(!subject->isHidden());
    QCOMPARE(subject->text(), QStringLiteral("Bye"));
    QCOMPARE(text->toPlainText(), QStringLiteral("Gone"));
    QVERIFY(page.editor.window->ListSaved());

    selector->setCurrentIndex(15);
    QCOMPARE(selector->currentText(), QStringLiteral("Paused because mail bounces"));
    QCOMPARE(subject->text(), QStringLiteral("B"));
    QCOMPARE(text->toPlainText(), QStringLiteral("b"));
    // A notice the file lacks shows the text the service sends in its place.
    selector->setCurrentIndex(14);
    QVERIFY(!subject->isHidden());
    QCOMPARE(subject->text(), QStringLiteral("{ListName}  unsubscribe-confirm-{ConfirmCode}"));
    selector->setCurrentIndex(16);
    QCOMPARE(selector->currentText(), QStringLiteral("Post rejected by the moderator"));
    QCOMPARE(subject->text(), QStringLiteral("Your post to {ListName} was not accepted"));
    QVERIFY(text->toPlainText().endsWith(QStringLiteral("reason: {Reason}")));
  }

  void EditsStayWithTheirSlotAndReachTheFile() {
    TemplatesFixture page;
    auto& editor = page.editor;
    auto* selector = page.selector;
    auto* subject = page.subject;
    auto* text = page.text;
    selector->setCurrentIndex(11);
    subject->setFocus();
    subject->end(false);
    QTest::keyClick(subject, Qt::Key_X);
    QVERIFY(!editor.window->ListSaved());
    selector->setCurrentIndex(12);
    QCOMPARE(subject->text(), QStringLiteral("R"));
    selector->setCurrentIndex(11);
    QCOMPARE(subject->text(), QStringLiteral("Px"));

    // The context menu inserts a placeholder over the selection; undo takes it back.
    subject->selectAll();
    auto menu = CreateEditMenu(subject);
    menu->findChild<QAction*>(QStringLiteral("{CONFIRMCODE}"))->trigger();
    QCOMPARE(subject->text(), QStringLiteral("{CONFIRMCODE}"));
    menu->findChild<QAction*>(QStringLiteral("Undo"))->trigger();
    QCOMPARE(subject->text(), QStringLiteral("Px"));
    text->setFocus();
    text->moveCursor(QTextCursor::End);
    CreateEditMenu(text)->findChild<QAction*>(QStringLiteral("{LISTADDRESS}"))->trigger();
    for (const char* placeholder : {"{APPROVELINK}", "{REJECTLINK}", "{TOKEN}", "{REASON}"})
      QVERIFY2(menu->findChild<QAction*>(QLatin1String(placeholder)) != nullptr, placeholder);

    editor.Click("SaveSettings");
    const std::string file = editor.ListFile("L", "maillist.ini");
    for (const char* part :
         {"[Signature]\r\nText=\"  two blanks\\13\\10\"\r\nSubject=\r\n",
          "[unSubscribe successfull]\r\nSubject=Bye\r\nText=\"Gone\"\r\n",
          "[Paused]\r\nSubject=Px\r\nText=\"p{LISTADDRESS}\"\r\n",
          "[bounce PAUSE]\r\nSubject=B\r\nText=\"b\"\r\n[Subscribe confirmation]",
          "[Unsubscribe confirmation]\r\nSubject={ListName}  unsubscribe-confirm-{ConfirmCode}\r\n",
          "[Post rejected]\r\nSubject=Your post to {ListName} was not accepted\r\n"})
      QVERIFY2(file.find(part) != std::string::npos, part);
  }
};

QTEST_MAIN(TemplatesPageTest)
#include "TemplatesPageTest.moc"
