// The general page driven as the operator drives it: values it shows and gives back unchanged,
// the POP3 servers group, and the fingerprints it refuses.
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTest>

#include "EditorTestSupport.h"
#include "editor/BoundedSpinBox.h"
#include "editor/ChoiceBox.h"
#include "editor/Dialogs.h"

using namespace orvex;
using namespace orvex::test;

class GeneralPageTest : public QObject {
  Q_OBJECT

 private slots:
  void StoredValuesTheOperatorLeavesAloneSurviveASave() {
    EditorFixture editor;
    // Longer than a read gives: written back from what was read, its end would be lost.
    const std::string kLongText = "[Digest message]\r\nText=\"" + std::string(3000, 'x') + "\"\r\n";
    editor.dir.Write(
        "Data/L/maillist.ini",
        "[General]\r\nName=Caf\xE9 "
        "\x81list\r\nAddress=\xC3\xA9@example.org\r\nCheckInterval=500\r\n"
        "SMTPPort=70000\r\nDays=-3\r\nKeepDays=1000\r\nDigest mode=7\r\nNonsubscribers=-5\r\n"
        "LastChecked=07.12.2026 02:33:54\r\nDigestCount=5\r\nPop3Count=1\r\nPop3Host1=p\r\n"
        "Pop3Port1=99999\r\nPop3Host2=old\r\nSmtpSecurity=5\r\nFromRewrite=-2\r\n" +
            std::string("[Digest]\r\nSubject=\xE4\r\nText=\"\xE4\\13\\10\xFF\"\r\n") + kLongText);
    editor.OpenList("L");
    QCOMPARE(editor.Find<BoundedSpinBox>("CheckInterval")->text(), QStringLiteral("500"));
    QCOMPARE(editor.Find<BoundedSpinBox>("SMTPPort")->text(), QStringLiteral("70000"));
    QVERIFY(editor.Find<QRadioButton>("DigestButton2")->isChecked());
    QCOMPARE(editor.Find<QLineEdit>("ListName")->text(), QStringLiteral("Caf\u00E9 \u0081list"));
    // Values without a choice of their own show none.
    QCOMPARE(editor.Find<ChoiceBox>("SMTPSecurity")->currentIndex(), -1);
    QCOMPARE(editor.Find<ChoiceBox>("FromRewrite")->currentIndex(), -1);
    QVERIFY(editor.window->ListSaved());
    editor.Type("Moderator", QStringLiteral("m@example.org"));
    editor.Click("SaveSettings");
    const std::string file = editor.ListFile("L", "maillist.ini");
    for (const char* part :
         {"Name=Caf\xE9 "
          "\x81list\r\nAddress=\xC3\xA9@example.org\r\nCheckInterval=500\r\nSMTPPort=70000\r\n"
          "Days=-3\r\nKeepDays=1000\r\nDigest "
          "mode=3\r\nNonsubscribers=-1\r\nLastChecked=07.12.2026 02:33:54\r\n"
          "DigestCount=5\r\nPop3Count=1\r\nPop3Host1=p\r\nPop3Port1=99999\r\nPop3Host2="
          "old\r\nSmtpSecurity=5\r\nFromRewrite=-2\r\nControlAddress=\r\n"
          "Moderator=m@example.org\r\n",
          // Keys the list did not have yet come with what the service assumes without them.
          "Pop3Security1=0\r\nPop3TlsFingerprint1=\r\nSmtpTlsFingerprint=\r\nMaxRecipients=0\r\n"
          "MaxRecipientsPerDay=0\r\nListHeaders=0\r\nBounceLimit=0\r\n[Digest]",
          "[Digest]\r\nSubject=\xE4\r\nText=\"\xE4\\13\\10\xFF\"\r\n"})
      QVERIFY2(file.find(part) != std::string::npos, file.c_str());
    QVERIFY(file.find(kLongText) != std::string::npos);
  }

  void Pop3ServersAreEditedDeletedAndRenumbered() {
    EditorFixture editor;
    editor.dir.Write(
        "Data/L/maillist.ini",
        "[General]\r\nName=L\r\nPop3Count=3\r\nPop3Host1=one\r\nPop3Port1=110\r\nName1=u1\r\n"
        "Pop3Host2=two\r\nPop3Port2=111\r\nName2=u2\r\nPop3AuthMethod2=oauth2\r\n"
        "Pop3Host3=three\r\nPop3Port3=x\r\nPop3AuthMethod1=OAuth2\r\n");
    editor.OpenList("L");
    auto* view = editor.Find<QTableView>("POP3");
    QVERIFY(!editor.Find<QPushButton>("Pop3Edit")->isEnabled());
    view->selectRow(1);
    editor.boxes.Queue(BoxAnswer::Cancel);
    editor.Click("Pop3Delete");
    QCOMPARE(editor.boxes.asked.back().text, QStringLiteral("Delete selected host?"));
    QCOMPARE(view->model()->rowCount(), 3);
    editor.boxes.Queue(BoxAnswer::Ok);
    editor.Click("Pop3Delete");
    QCOMPARE(view->model()->rowCount(), 2);
    QVERIFY(!editor.window->ListSaved());

    // The former third row: its port is not a number, so the dialog starts at 110.
    view->selectRow(1);
    WhenModalShown([](QWidget* modal) {
      auto* dialog = qobject_cast<TForm3*>(modal);
      QCOMPARE(dialog->windowTitle(), QStringLiteral("Edit POP3 server parameters"));
      QCOMPARE(dialog->Host->text(), QStringLiteral("three"));
      QCOMPARE(dialog->Port->value(), 110);
      QCOMPARE(dialog->focusWidget(), dialog->Host);
      // The deleted second server's OAuth 2.0 sign-in did not pass to this one.
      QCOMPARE(dialog->AuthMethod->currentIndex(), 0);
      dialog->User->setText(QStringLiteral(" u3 "));
      QTest::mouseClick(dialog->OkButton, Qt::LeftButton);
    });
    const QPoint cell = view->visualRect(view->model()->index(1, 0)).center();
    // A double click follows a first click.
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, cell);
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, cell);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, cell);
    editor.Click("SaveSettings");
    const std::string file = editor.ListFile("L", "maillist.ini");
    QVERIFY2(
        file.find("Pop3Count=2\r\nPop3Host1=one\r\nPop3Port1=110\r\nName1=u1\r\nPop3Host2=three\r\n"
                  "Pop3Port2=110\r\nName2=u3\r\nPop3Host3=three\r\nPop3Port3=x\r\n"
                  "Pop3AuthMethod1=OAuth2\r\nAddress=\r\n") != std::string::npos,
        file.c_str());
  }

  void AFingerprintNotOfTheSha256FormIsRefused() {
    EditorFixture editor;
    const std::string stored =
        "[General]\r\nName=L\r\nPop3Count=1\r\nPop3Host1=pop.x\r\nPop3TlsFingerprint1=ab\r\n";
    editor.dir.Write("Data/L/maillist.ini", stored);
    editor.OpenList("L");
    const QString sha1 = QStringLiteral("da39a3ee5e6b4b0d3255bfef95601890afd80709");

    // On save: refused with the server named, before anything is written.
    editor.Type("SMTPFingerprint", sha1);
    editor.Click("SaveSettings");
    QCOMPARE(editor.boxes.asked.size(), std::size_t{1});
    QCOMPARE(editor.boxes.asked[0].kind, BoxKind::Error);
    QVERIFY2(editor.boxes.asked[0].text.startsWith(
                 QStringLiteral("The certificate fingerprint of the SMTP server is not valid.")),
             qPrintable(editor.boxes.asked[0].text));
    editor.Type("SMTPFingerprint", QString());
    editor.Click("SaveSettings");
    QVERIFY(editor.boxes.asked.at(1).text.startsWith(
        QStringLiteral("The certificate fingerprint of POP3 server 1 (pop.x) is not valid.")));
    QCOMPARE(editor.ListFile("L", "maillist.ini"), stored);
    QVERIFY(!editor.window->ListSaved());

    // On OK in the POP3 dialog: the dialog stays open until the fingerprint is mended.
    editor.Find<QTableView>("POP3")->selectRow(0);
    WhenModalShown([&](QWidget* modal) {
      auto* dialog = qobject_cast<TForm3*>(modal);
      QCOMPARE(dialog->Fingerprint->text(), QStringLiteral("ab"));
      QTest::mouseClick(dialog->OkButton, Qt::LeftButton);
      QVERIFY(dialog->isVisible());
      QCOMPARE(editor.boxes.asked.size(), std::size_t{3});
      QVERIFY(editor.boxes.asked[2].text.startsWith(
          QStringLiteral("The certificate fingerprint of this POP3 server is not valid.")));
      dialog->Fingerprint->setText(QString(64, QLatin1Char('F')));
      QTest::mouseClick(dialog->OkButton, Qt::LeftButton);
    });
    editor.Click("Pop3Edit");
    QCOMPARE(editor.boxes.asked.size(), std::size_t{3});
    editor.Click("SaveSettings");
    QVERIFY(editor.window->ListSaved());
    QVERIFY(editor.ListFile("L", "maillist.ini")
                .find("Pop3TlsFingerprint1=" + std::string(64, 'F') + "\r\n") != std::string::npos);
  }
};

QTEST_MAIN(GeneralPageTest)
#include "GeneralPageTest.moc"
