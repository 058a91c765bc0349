// A new list from its first click to its files and back: every field of the three pages reaches
// maillist.ini and subscribers.ini, in the order a new list's keys have always been written, and
// comes back from them.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTest>
#include <filesystem>

#include "EditorTestSupport.h"
#include "editor/BoundedSpinBox.h"
#include "editor/ChoiceBox.h"
#include "editor/Dialogs.h"

using namespace orvex;
using namespace orvex::test;

namespace {

// The new list's directory: the stepping clock's first reading.
const std::string kList = "20261207023354123";

const char* const kDefaultNotices =
    "[Subscribe confirmation]\r\n"
    "Subject={listName}  subscribe-confirm-{ConfirmCode}\r\n"
    "Text=\"To confirm your subscription to {ListName} you have to send a message\\13\\10to "
    "{ControlAddress} with "
    "subject including \\13\\10 \"subscribe-confirm-{ConfirmCode}\".\\13\\10Simply selecting "
    "\"Reply\" in mail "
    "client works well in most cases.\\13\\10Your confirmation code is {ConfirmCode}\"\r\n"
    "[Subscribe successfull]\r\n"
    "Subject=You have successfully subscribed to {Listname}\r\n"
    "Text=\"Cogratulations !\\13\\10You can post to {Listname} by sending messates to "
    "{ListAddress}.\\13\\10\\13\\10"
    "To control your personal options, send messages to {ControlAddress}\\13\\10with command in "
    "subject line."
    "\\13\\10\\13\\10Valid commands :\\13\\10\\13\\10unsubscribe {Password}\\13\\10  Unsubscribe "
    "from {ListName}"
    "\\13\\10\\13\\10digest-on {Password}\\13\\10  Set digest mode on. You will receive digests, "
    "not individual "
    "messages\\13\\10\\13\\10digest-off {Password}\\13\\10  Receive individual messages, not "
    "digests.\\13\\10\\13\\10"
    "pause {Password}\\13\\10  Stop delivering mail. Useful if you plan on taking a\\13\\10  short "
    "vacation."
    "\\13\\10\\13\\10resume {Password}\\13\\10  Resume delivering mail.\\13\\10\\13\\10Your "
    "password is "
    "{Password}\"\r\n"
    "[unSubscribe successfull]\r\n"
    "Subject=You have successfully unsubscribed from {Listname}\r\n"
    "Text=\"Your subscribtion to {ListName} has been canceled according to your request.\\13\\10If "
    "you decide to "
    "re-join us later, just send a message with a single word\\13\\10\"subscribe\" (no quotes!) in "
    "the subject "
    "line to {controladdress}\"\r\n"
    "[Digest on]\r\n"
    "Subject={Listname} : Digest mode turned on\r\n"
    "Text=\"Digest mode of  {Listname} is turned on\\13\\10You can turn it off by sending a "
    "message to "
    "{controladdress}\\13\\10with subject \"digest-off <password>\" (no quotes!), substituting "
    "your password "
    "instead of <password>.\"\r\n"
    "[Digest off]\r\n"
    "Subject={Listname} : Digest mode turned off\r\n"
    "Text=\"Digest mode of  {Listname} is turned off\\13\\10You can turn it on by sending a "
    "message to "
    "{controladdress}\\13\\10with subject \"digest-on <password>\" (no quotes!), substituting your "
    "password "
    "instead of <password>.\"\r\n";

// Creates a new list and fills every field of the three pages as the operator would.
void FillEveryField(EditorFixture& editor) {
  editor.Click("NewList");
  editor.Type("ListName", QStringLiteral("Garden"));
  editor.Type("Address", QStringLiteral("garden@example.org"));
  editor.Type("Control", QStringLiteral("garden-request@example.org"));
  editor.Type("Moderator", QStringLiteral("ann@example.org"));
  editor.Type("From", QStringLiteral("owner@example.org"));
  editor.Type("SMTPHost", QStringLiteral("mail.example.org"));
  editor.Type("SMTPUser", QStringLiteral("gardener"));
  editor.Type("SMTPPass", QStringLiteral("s3cret pw"));
  for (const char* box : {"Confirm", "ModSS", "Moderated", "Author"})
    QTest::mouseClick(editor.Find<QCheckBox>(box), Qt::LeftButton, {}, QPoint(5, 5));
  for (auto [spin, text] :
       {std::pair{"ConfirmInterval", "14"}, {"CheckInterval", "30"}, {"SMTPPort", "587"}}) {
    auto* box = editor.Find<BoundedSpinBox>(spin);
    box->selectAll();
    QTest::keyClicks(box, text);
  }
  QTest::mouseClick(editor.Find<QRadioButton>("NSActionButton2"), Qt::LeftButton, {}, QPoint(5, 5));
  QTest::mouseClick(editor.Find<QRadioButton>("DigestButton0"), Qt::LeftButton, {}, QPoint(5, 5));
  // The security choice moves the conventional port 587 to the one of TLS from the start.
  Choose(editor.Find<ChoiceBox>("SMTPSecurity"), 2);
  QCOMPARE(editor.Find<BoundedSpinBox>("SMTPPort")->value(), 465);
  editor.Type("SMTPFingerprint",
              QStringLiteral(" 0123456789abcdef0123456789ABCDEF0123456789abcdef0123456789abcdef"));
  for (auto [spin, text] :
       {std::pair{"MaxRecipients", "50"}, {"MaxRecipientsPerDay", "2000"}, {"BounceLimit", "3"}}) {
    auto* box = editor.Find<BoundedSpinBox>(spin);
    box->selectAll();
    QTest::keyClicks(box, text);
  }
  QTest::mouseClick(editor.Find<QCheckBox>("ListHeaders"), Qt::LeftButton, {}, QPoint(5, 5));
  Choose(editor.Find<ChoiceBox>("FromRewrite"), 2);

  // SSL/TLS suggests 995 in place of 110; the fingerprint loses its surrounding blanks.
  AnswerPop3Dialog(QStringLiteral(" pop.example.org "), {}, QStringLiteral("garden"),
                   QStringLiteral("  pw one  "), 2,
                   QStringLiteral(" AB:CD:EF:01:23:45:67:89:ab:cd:ef:01:23:45:67:89:AB:CD:EF:01:23:"
                                  "45:67:89:ab:cd:ef:01:23:45:67:89 "));
  editor.Click("Pop3Add");
  AnswerPop3Dialog({}, {}, {}, {});
  editor.Click("Pop3Add");
  QCOMPARE(editor.window->Pop3Dialog()->windowTitle(), QStringLiteral("New POP3 server"));

  editor.ShowPage(1);
  auto* selector = editor.Find<QComboBox>("ComboBox1");
  selector->setCurrentIndex(11);
  editor.Type("Subject", QStringLiteral("Paused: {LISTNAME}"));
  selector->setCurrentIndex(0);
  auto* text = editor.Find<QPlainTextEdit>("Template");
  text->setFocus();
  text->selectAll();
  QTest::keyClicks(text, "-- ");
  QTest::keyClick(text, Qt::Key_Return);
  QTest::keyClicks(text, "{LISTNAME}");
  QTest::keyClick(text, Qt::Key_Return);

  AnswerNewSubscriber(QStringLiteral("Bob@Example.org"), QStringLiteral(" a b "));
  editor.Click("SSNew");
}

}  // namespace

class NewListTest : public QObject {
  Q_OBJECT

 private slots:
  void ANewListIsUnsavedAndWritesNothingYet() {
    EditorFixture editor;
    editor.Click("NewList");
    QVERIFY(editor.boxes.asked.empty());
    QCOMPARE(editor.window->windowTitle(),
             QStringLiteral("ORVEX Configuration Editor : New mailing list"));
    QVERIFY(editor.window->ListIsNew());
    QVERIFY(!editor.Find<QPushButton>("DeleteList")->isEnabled());
    QVERIFY(editor.Find<QPushButton>("SaveSettings")->isEnabled());
    QVERIFY(editor.Find<QPlainTextEdit>("Template")->isHidden());
    const std::string directory = editor.window->CurrentListDir();
    QCOMPARE(directory, editor.dir.Path() + "Data/20261207023354123/");
    QVERIFY(!std::filesystem::exists(directory));
  }

  void EveryFieldReachesTheFilesInItsOrder() {
    EditorFixture editor;
    FillEveryField(editor);
    if (QTest::currentTestFailed()) return;

    editor.Click("SaveSettings");
    QVERIFY(editor.boxes.asked.empty());
    QVERIFY(editor.window->ListSaved());
    QVERIFY(!editor.window->ListIsNew());
    QVERIFY(!editor.Find<QPushButton>("SaveSettings")->isEnabled());
    QVERIFY(editor.Find<QPushButton>("DeleteList")->isEnabled());

    const std::string expected =
        std::string(
            "[General]\r\n"
            "Name=Garden\r\n"
            "Address=garden@example.org\r\n"
            "ControlAddress=garden-request@example.org\r\n"
            "Moderator=ann@example.org\r\n"
            "From=owner@example.org\r\n"
            "SMTPHOST=mail.example.org\r\n"
            "SMTPUser=gardener\r\n"
            "SMTPPassword=<enciphered>\r\n"
            "Confirm subscription=0\r\n"
            "Days=14\r\n"
            "Moderated=0\r\n"
            "Send to originator=1\r\n"
            "Nonsubscribers=2\r\n"
            "Digest mode=1\r\n"
            "SMTPPort=465\r\n"
            "CheckInterval=30\r\n"
            "KeepDays=10\r\n"
            "Keep=0\r\n"
            "Moderate Subscription=1\r\n"
            "Pop3Count=2\r\n"
            "Pop3Host1=pop.example.org\r\n"
            "Pop3Port1=995\r\n"
            "Name1=garden\r\n"
            "Password1=<enciphered>\r\n"
            "Pop3Security1=2\r\n"
            "Pop3TlsFingerprint1=AB:CD:EF:01:23:45:67:89:ab:cd:ef:01:23:45:67:89:AB:CD:EF:01:23:"
            "45:67:89:ab:cd:ef:01:23:45:67:89\r\n"
            "Pop3Host2=host\r\n"
            "Pop3Port2=110\r\n"
            "Name2=user\r\n"
            "Password2=<enciphered>\r\n"
            "Pop3Security2=0\r\n"
            "Pop3TlsFingerprint2=\r\n"
            "SmtpSecurity=2\r\n"
            "SmtpTlsFingerprint="
            "0123456789abcdef0123456789ABCDEF0123456789abcdef0123456789abcdef\r\n"
            "MaxRecipients=50\r\n"
            "MaxRecipientsPerDay=2000\r\n"
            "ListHeaders=0\r\n"
            "BounceLimit=3\r\n"
            "FromRewrite=2\r\n"
            "[Signature]\r\n"
            "Subject=\r\n"
            "Text=\"-- \\13\\10{LISTNAME}\\13\\10\"\r\n") +
        kDefaultNotices +
        "[Paused]\r\n"
        "Subject=Paused: {LISTNAME}\r\n"
        "Text=\" From now you will not receive messages from {LISTNAME}\\13\\10To resume "
        "your subscribtion, use RESUME command\"\r\n"
        "[Resumed]\r\n"
        "Subject=Your subscribtion to {LISTNAME} resumed\r\n"
        "Text=\"Your subscribtion to {LISTNAME} resumed\\13\\10You will start receiving "
        "messages soon\"\r\n"
        "[Nonsubscriber]\r\n"
        "Subject=You are not allowed to post messages to {Listname}\r\n"
        "Text=\"To post messages to {ListName} you have to subscribe.\\13\\10To do so, just "
        "send a message with a single word\\13\\10\"subscribe\" (no quotes!) in the "
        "subject line to {controladdress}\"\r\n"
        "[Moderate]\r\n"
        "Subject=Message from  {ListName} subscriber\r\n"
        "Text=\"As you are the moderator of {ListName}, this message was brought to you."
        "\\13\\10If this message complies with {ListName} terms, approve it and it goes to "
        "{ListAddress}:\\13\\10  {ApproveLink}\\13\\10Otherwise reject it:\\13\\10  {RejectLink}"
        "\\13\\10(Or answer this message with the subject \"approve {Token}\" or \"reject "
        "{Token}\";\\13\\10with a rejection, the first line you write is sent to the sender as "
        "the reason.)\\13\\10Original message attached.\"\r\n"
        "[NS-Moderate]\r\n"
        "Subject=Message from non-subscriber posted to the list\r\n"
        "Text=\"Message from {Sender} was sent to {ListName}\\13\\10{Sender} is not "
        "subscribed to {ListName}\\13\\10To post it to the list, approve it:\\13\\10  "
        "{ApproveLink}\\13\\10Otherwise reject it:\\13\\10  {RejectLink}\\13\\10(Or answer this "
        "message with the subject \"approve {Token}\" or \"reject {Token}\";\\13\\10with a "
        "rejection, the first line you write is sent to the sender as the reason.)\\13\\10"
        "Original message attached.\\13\\10\"\r\n"
        "[Digest]\r\n"
        "Subject=Digest of {ListName}\r\n"
        "Text=\"This is digest of {Listname}\\13\\10When replying to this message, please "
        "edit the subject to say \\13\\10something more meaningful than simply \"Re: "
        "Digest of {ListName}\"\"\r\n"
        "[Digest message]\r\n"
        "Subject=\r\n"
        "Text=\"\"\r\n"
        "[Subscription request]\r\n"
        "Subject=Subscription request for {ListName}\r\n"
        "Text=\"{Address} asks to subscribe to {ListName}.\\13\\10To let {Address} in, approve "
        "the request:\\13\\10  {ApproveLink}\\13\\10Otherwise reject it:\\13\\10  {RejectLink}"
        "\\13\\10(Or answer this message with the subject \"approve {Token}\" or \"reject "
        "{Token}\".)\\13\\10The request is attached.\"\r\n"
        "[Unsubscribe confirmation]\r\n"
        "Subject={ListName}  unsubscribe-confirm-{ConfirmCode}\r\n"
        "Text=\"Someone, probably you, asked to unsubscribe this address from {ListName}.\\13\\10"
        "To confirm, send a message to {ControlAddress} with subject including \\13\\10 "
        "\"unsubscribe-confirm-{ConfirmCode}\".\\13\\10Simply selecting \"Reply\" in mail client "
        "works well in most cases.\\13\\10If you want to stay subscribed, just ignore this "
        "message.\\13\\10Your confirmation code is {ConfirmCode}\"\r\n"
        "[Bounce pause]\r\n"
        "Subject=Your subscription to {ListName} paused\r\n"
        "Text=\"Mail from {ListName} to your address has been returned as undeliverable\\13\\10"
        "too many times, so it is not sent to you any more.\\13\\10To resume your subscription, "
        "send a message to {ControlAddress}\\13\\10with subject \"resume <password>\" (no "
        "quotes!), substituting your password instead of <password>.\"\r\n"
        "[Post rejected]\r\n"
        "Subject=Your post to {ListName} was not accepted\r\n"
        "Text=\"Your post to {ListName} with the subject \"{Subject}\" was not accepted by the "
        "moderator.\\13\\10The moderator's reason: {Reason}\"\r\n";
    QCOMPARE(CheckPasswords(editor.ListFile(kList, "maillist.ini"), {{"SMTPPassword", "s3cret pw"},
                                                                     {"Password1", "pw one"},
                                                                     {"Password2", "password"}}),
             expected);
    QCOMPARE(editor.ListFile(kList, "subscribers.ini"),
             std::string("Bob@Example.org=,\"a b\"\r\n"));
    QVERIFY(
        (std::filesystem::status(editor.window->CurrentListDir() + "maillist.ini").permissions() &
         std::filesystem::perms::others_read) == std::filesystem::perms::none);
  }

  void ASavedListComesBackWholeFromItsFiles() {
    EditorFixture editor;
    FillEveryField(editor);
    if (QTest::currentTestFailed()) return;
    editor.Click("SaveSettings");
    QVERIFY(editor.window->ListSaved());

    // Away to a new list and back: everything comes back from the files.
    editor.Click("NewList");
    editor.boxes.Queue(BoxAnswer::No);
    editor.OpenList(kList);
    QCOMPARE(editor.boxes.asked.size(), std::size_t{1});
    QCOMPARE(editor.window->windowTitle(), QStringLiteral("ORVEX Configuration Editor : Garden"));
    QVERIFY(editor.window->ListSaved());
    QCOMPARE(editor.Find<QLineEdit>("SMTPPass")->text(), QStringLiteral("s3cret pw"));
    QCOMPARE(editor.Find<BoundedSpinBox>("SMTPPort")->value(), 465);
    QCOMPARE(editor.Find<ChoiceBox>("SMTPSecurity")->currentText(), QStringLiteral("SSL/TLS"));
    QCOMPARE(editor.Find<ChoiceBox>("FromRewrite")->currentIndex(), 2);
    QVERIFY(!editor.Find<QCheckBox>("ListHeaders")->isChecked());
    QCOMPARE(editor.Find<BoundedSpinBox>("BounceLimit")->value(), 3);
    QCOMPARE(editor.Find<BoundedSpinBox>("MaxRecipientsPerDay")->value(), 2000);
    QVERIFY(editor.Find<QCheckBox>("ModSS")->isChecked());
    QVERIFY(editor.Find<QRadioButton>("NSActionButton2")->isChecked());
    auto* pop3 = editor.Find<QTableView>("POP3");
    QCOMPARE(pop3->model()->rowCount(), 2);
    QCOMPARE(pop3->model()->index(0, 3).data().toString(), QStringLiteral("******"));
    QCOMPARE(pop3->model()->index(0, 4).data().toString(), QStringLiteral("SSL/TLS"));
    QCOMPARE(editor.Find<QTableView>("SSList")->model()->rowCount(), 1);
    auto* selector = editor.Find<QComboBox>("ComboBox1");
    selector->setCurrentIndex(11);
    QCOMPARE(editor.Find<QLineEdit>("Subject")->text(), QStringLiteral("Paused: {LISTNAME}"));
    selector->setCurrentIndex(0);
    QCOMPARE(editor.Find<QPlainTextEdit>("Template")->toPlainText(),
             QStringLiteral("-- \n{LISTNAME}\n"));
  }
};

QTEST_MAIN(NewListTest)
#include "NewListTest.moc"
