// The subscribers page driven as the operator drives it, checked against subscribers.ini.
#include <QPushButton>
#include <QTableView>
#include <QTest>

#include "EditorTestSupport.h"

using namespace orvex;
using namespace orvex::test;

class SubscribersPageTest : public QObject {
  Q_OBJECT

 private slots:
  void AddsRemovesSwitchesAndFinds() {
    EditorFixture editor;
    editor.dir.Write("Data/L/maillist.ini", "[General]\r\nName=L\r\n");
    editor.dir.Write("Data/L/subscribers.ini",
                     "ann@example.org=p,pw1\r\nno item line\r\nbob@example.org=,\"p "
                     "w\"\r\nANNA@example.org=d\r\n");
    editor.OpenList("L");
    editor.ShowPage(2);
    auto* view = editor.Find<QTableView>("SSList");
    auto* digest = editor.Find<QPushButton>("SSDigest");
    auto* pause = editor.Find<QPushButton>("SSPause");
    auto* disable = editor.Find<QPushButton>("SSDisable");
    auto* remove = editor.Find<QPushButton>("SSDelete");
    QVERIFY(!remove->isEnabled() && !digest->isEnabled());

    // An address that differs only in letter case selects the subscriber and adds nothing.
    AnswerNewSubscriber(QStringLiteral("BOB@example.org"), QStringLiteral("x"));
    editor.Click("SSNew");
    QCOMPARE(view->model()->rowCount(), 4);
    QCOMPARE(view->selectionModel()->selectedRows().at(0).row(), 2);
    QVERIFY(editor.window->ListSaved());

    view->selectRow(0);
    QCOMPARE(pause->text(), QStringLiteral("Resume"));
    QCOMPARE(digest->text(), QStringLiteral("Digest on"));
    editor.Click("SSDigest");
    QCOMPARE(digest->text(), QStringLiteral("Digest off"));
    editor.Click("SSPause");
    QCOMPARE(pause->text(), QStringLiteral("Pause"));
    editor.Click("SSDisable");
    QCOMPARE(disable->text(), QStringLiteral("Enable"));
    QVERIFY(!editor.window->ListSaved());

    view->selectRow(1);  // no items: nothing to switch, but it can be deleted
    QVERIFY(!digest->isEnabled() && !pause->isEnabled() && !disable->isEnabled());
    QVERIFY(remove->isEnabled());

    view->selectRow(3);
    editor.boxes.Queue(BoxAnswer::Ok);
    editor.Click("SSDelete");
    QCOMPARE(editor.boxes.asked.back().text, QStringLiteral("Delete selected subscriber?"));
    QCOMPARE(view->model()->rowCount(), 3);

    // Find goes on from the focused row and does not wrap.
    view->setCurrentIndex(view->model()->index(0, 0));
    editor.Type("Find", QStringLiteral("EXAMPLE"));
    editor.Click("FindButton");
    QCOMPARE(view->currentIndex().row(), 2);
    editor.Click("FindButton");
    QCOMPARE(view->currentIndex().row(), 2);

    editor.Click("SaveSettings");
    QCOMPARE(editor.ListFile("L", "subscribers.ini"),
             std::string("ann@example.org=db,pw1\r\nno item line\r\nbob@example.org=,\"p w\"\r\n"));
  }
};

QTEST_MAIN(SubscribersPageTest)
#include "SubscribersPageTest.moc"
