// The main window driven as the operator drives it: clicks, typing and answers to its dialogs
// and questions, checked against the files it writes.
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <filesystem>

#include "EditorTestSupport.h"
#include "crypto/Passwords.h"
#include "editor/BoundedSpinBox.h"
#include "editor/ChoiceBox.h"
#include "editor/Dialogs.h"
#include "platform/FaultInjection.h"
#include "platform/FileSystem.h"
#include "store/IniFile.h"
#include "store/NameValueList.h"

using namespace orvex;
using namespace orvex::test;

Q_DECLARE_METATYPE(orvex::BoxAnswer)

namespace {

const QString kNoList = QStringLiteral("ORVEX Configuration editor");
const QString kUnsavedQuestion = QStringLiteral(
    "Some changes of current mailing list configuration are not saved\r\nDo you wish to save "
    "them?");

// Null texts and a negative security leave the dialog's values; the security is chosen first, so
// that a port given here wins over the one it suggests.
void AnswerPop3Dialog(const QString& host, const QString& port, const QString& user,
                      const QString& password, int security = -1, const QString& fingerprint = {}) {
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

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void CreateFillSaveAndReloadAList() {
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
    QTest::mouseClick(editor.Find<QRadioButton>("NSActionButton2"), Qt::LeftButton, {},
                      QPoint(5, 5));
    QTest::mouseClick(editor.Find<QRadioButton>("DigestButton0"), Qt::LeftButton, {}, QPoint(5, 5));
    // The security choice moves the conventional port 587 to the one of TLS from the start.
    Choose(editor.Find<ChoiceBox>("SMTPSecurity"), 2);
    QCOMPARE(editor.Find<BoundedSpinBox>("SMTPPort")->value(), 465);
    editor.Type(
        "SMTPFingerprint",
        QStringLiteral(" 0123456789abcdef0123456789ABCDEF0123456789abcdef0123456789abcdef"));
    for (auto [spin, text] : {std::pair{"MaxRecipients", "50"},
                              {"MaxRecipientsPerDay", "2000"},
                              {"BounceLimit", "3"}}) {
      auto* box = editor.Find<BoundedSpinBox>(spin);
      box->selectAll();
      QTest::keyClicks(box, text);
    }
    QTest::mouseClick(editor.Find<QCheckBox>("ListHeaders"), Qt::LeftButton, {}, QPoint(5, 5));
    Choose(editor.Find<ChoiceBox>("FromRewrite"), 2);

    // SSL/TLS suggests 995 in place of 110; the fingerprint loses its surrounding blanks.
    AnswerPop3Dialog(
        QStringLiteral(" pop.example.org "), {}, QStringLiteral("garden"),
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

    editor.Click("SaveSettings");
    QVERIFY(editor.boxes.asked.empty());
    QVERIFY(editor.window->ListSaved());
    QVERIFY(!editor.window->ListIsNew());
    QVERIFY(!editor.Find<QPushButton>("SaveSettings")->isEnabled());
    QVERIFY(editor.Find<QPushButton>("DeleteList")->isEnabled());

    const std::string list = "20261207023354123";
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
        "\\13\\10If this message complies with {ListName} terms, post it to {ListAddress}"
        "\\13\\10Original message attached.\"\r\n"
        "[NS-Moderate]\r\n"
        "Subject=Message from non-subscriber posted to the list\r\n"
        "Text=\"Message from {Sender} was sent to {ListName}\\13\\10{Sender} is not "
        "subscribed to {ListName}\\13\\10Original message attached.\\13\\10\"\r\n"
        "[Digest]\r\n"
        "Subject=Digest of {ListName}\r\n"
        "Text=\"This is digest of {Listname}\\13\\10When replying to this message, please "
        "edit the subject to say \\13\\10something more meaningful than simply \"Re: "
        "Digest of {ListName}\"\"\r\n"
        "[Digest message]\r\n"
        "Subject=\r\n"
        "Text=\"\"\r\n"
        "[Subscription request]\r\n"
        "Subject=\r\n"
        "Text=\"\"\r\n"
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
        "quotes!), substituting your password instead of <password>.\"\r\n";
    QCOMPARE(CheckPasswords(editor.ListFile(list, "maillist.ini"), {{"SMTPPassword", "s3cret pw"},
                                                                    {"Password1", "pw one"},
                                                                    {"Password2", "password"}}),
             expected);
    QCOMPARE(editor.ListFile(list, "subscribers.ini"), std::string("Bob@Example.org=,\"a b\"\r\n"));
    QVERIFY((std::filesystem::status(directory + "maillist.ini").permissions() &
             std::filesystem::perms::others_read) == std::filesystem::perms::none);

    // Away to a new list and back: everything comes back from the files.
    editor.Click("NewList");
    editor.boxes.Queue(BoxAnswer::No);
    editor.OpenList(list);
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
    selector->setCurrentIndex(11);
    QCOMPARE(editor.Find<QLineEdit>("Subject")->text(), QStringLiteral("Paused: {LISTNAME}"));
    selector->setCurrentIndex(0);
    QCOMPARE(text->toPlainText(), QStringLiteral("-- \n{LISTNAME}\n"));
  }

  void QuerySaveChangesForNewAndExistingLists_data() {
    QTest::addColumn<bool>("isNew");
    QTest::addColumn<BoxAnswer>("answer");
    QTest::addColumn<bool>("proceeds");
    QTest::addColumn<bool>("pagesShown");
    QTest::addColumn<QString>("listNameAfter");
    QTest::addColumn<bool>("written");
    QTest::newRow("existing, yes saves")
        << false << BoxAnswer::Yes << true << true << "Changed" << true;
    QTest::newRow("existing, no reloads")
        << false << BoxAnswer::No << true << true << "Stored" << false;
    QTest::newRow("existing, cancel stays")
        << false << BoxAnswer::Cancel << false << true << "Changed" << false;
    QTest::newRow("new, yes saves") << true << BoxAnswer::Yes << true << true << "Changed" << true;
    QTest::newRow("new, no discards")
        << true << BoxAnswer::No << true << false << "Changed" << false;
    QTest::newRow("new, cancel stays")
        << true << BoxAnswer::Cancel << false << true << "Changed" << false;
  }
  void QuerySaveChangesForNewAndExistingLists() {
    QFETCH(bool, isNew);
    QFETCH(BoxAnswer, answer);
    QFETCH(bool, proceeds);
    QFETCH(bool, pagesShown);
    QFETCH(QString, listNameAfter);
    QFETCH(bool, written);
    EditorFixture editor;
    const std::string stored = "[General]\r\nName=Stored\r\n";
    editor.dir.Write("Data/L/maillist.ini", stored);
    if (isNew)
      editor.Click("NewList");
    else
      editor.OpenList("L");
    const std::string directory = editor.window->CurrentListDir();
    editor.Type("ListName", QStringLiteral("Changed"));
    QVERIFY(!editor.window->ListSaved());

    editor.boxes.Queue(answer);
    const QueryResult result = editor.window->QuerySaveChanges(Closing::No);
    QCOMPARE(editor.boxes.asked.size(), std::size_t{1});
    QCOMPARE(editor.boxes.asked[0].text, kUnsavedQuestion);
    QCOMPARE(editor.boxes.asked[0].buttons, BoxButtons::YesNoCancel);
    QCOMPARE(result == QueryResult::Proceed, proceeds);
    QCOMPARE(editor.window->ListSaved(), proceeds);
    QCOMPARE(editor.window->PagesShown(), pagesShown);
    QCOMPARE(editor.Find<QLineEdit>("ListName")->text(), listNameAfter);
    const auto file = ReadWholeFile(directory + "maillist.ini");
    if (written)
      QVERIFY(file && file->find("Name=Changed\r\n") != std::string::npos);
    else
      QVERIFY(isNew ? !std::filesystem::exists(directory) : file == stored);
    if (isNew && answer == BoxAnswer::No) QCOMPARE(editor.window->windowTitle(), kNoList);
    // With nothing left unsaved nothing more is asked.
    if (proceeds) {
      QCOMPARE(editor.window->QuerySaveChanges(Closing::No), QueryResult::Proceed);
      QCOMPARE(editor.boxes.asked.size(), std::size_t{1});
    }
  }

  void ChangingToTheShownListAsksNothing() {
    EditorFixture editor;
    editor.dir.Write("Data/L/maillist.ini", "[General]\r\nName=Shown\r\n");
    editor.dir.Write("Data/M/maillist.ini", "[General]\r\nName=Other\r\n");
    editor.OpenList("L");
    editor.Type("Address", QStringLiteral("edited@example.org"));
    editor.OpenList("L");
    QVERIFY(editor.boxes.asked.empty());
    QCOMPARE(editor.Find<QLineEdit>("Address")->text(), QStringLiteral("edited@example.org"));
    QVERIFY(!editor.window->ListSaved());

    // Another list: the question comes, and Cancel keeps the shown one.
    editor.boxes.Queue(BoxAnswer::Cancel);
    editor.OpenList("M");
    QCOMPARE(editor.boxes.asked.size(), std::size_t{1});
    QCOMPARE(editor.Find<QLineEdit>("ListName")->text(), QStringLiteral("Shown"));
  }

  void SelectionDialogWithoutListsCannotSelect() {
    EditorFixture editor;
    WhenModalShown([](QWidget* modal) {
      auto* dialog = qobject_cast<TForm2*>(modal);
      QCOMPARE(dialog->windowTitle(), QStringLiteral("Select a maillist"));
      QCOMPARE(dialog->ListBox1->count(), 0);
      QVERIFY(!dialog->SelectButton->isEnabled());
      QTest::keyClick(dialog, Qt::Key_Escape);
    });
    editor.Click("ChangeList");
    QVERIFY(!editor.window->PagesShown());
    QCOMPARE(editor.window->windowTitle(), kNoList);
  }

  void DeleteAsksAndRemovesTheListOrReportsWhereItFailed() {
    EditorFixture editor;
    editor.dir.Write("Data/L/maillist.ini", "[General]\r\nName=Doomed\r\n");
    editor.dir.Write("Data/L/Inbox/1.msg", "m");
    editor.OpenList("L");
    const std::string directory = editor.window->CurrentListDir();

    editor.boxes.Queue(BoxAnswer::Cancel);
    editor.Click("DeleteList");
    QCOMPARE(
        editor.boxes.asked.at(0).text,
        QStringLiteral(
            "Do you realy want to delete current mailing list?\r\n\r\nNote : all messages not yet "
            "processed will be deleted.\r\nYou will lose information about list subscribers "
            "also."));
    QCOMPARE(editor.boxes.asked.at(0).buttons, BoxButtons::OkCancel);
    QVERIFY(editor.dir.Exists("Data/L/Inbox/1.msg"));

    editor.dir.Write("Data/L/Outbox/read-only.msg", "r");
    std::filesystem::permissions(directory + "Outbox/read-only.msg",
                                 std::filesystem::perms::owner_read);
    editor.boxes.Queue(BoxAnswer::Ok);
    editor.Click("DeleteList");
    QCOMPARE(editor.boxes.asked.at(2).kind, BoxKind::Error);
    QCOMPARE(editor.boxes.asked.at(2).text,
             QStringLiteral("Cannot delete directory ") + QString::fromStdString(directory));
    QVERIFY(editor.window->PagesShown());
    QVERIFY(editor.dir.Exists("Data/L/Outbox/read-only.msg"));

    std::filesystem::permissions(directory + "Outbox/read-only.msg",
                                 std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
    editor.boxes.Queue(BoxAnswer::Ok);
    editor.Click("DeleteList");
    QCOMPARE(editor.boxes.asked.size(), std::size_t{4});
    QVERIFY(!editor.dir.Exists("Data/L"));
    QVERIFY(!editor.window->PagesShown());
    QCOMPARE(editor.window->windowTitle(), kNoList);
    QVERIFY(!editor.Find<QPushButton>("DeleteList")->isEnabled());
  }

  void SubscribersPageAddsRemovesSwitchesAndFinds() {
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

  void TemplatesPageEditsTheSlots() {
    EditorFixture editor;
    editor.dir.Write("Data/L/maillist.ini",
                     "[General]\r\nName=L\r\n"
                     "[Signature]\r\nText=\"  two blanks\\13\\10\"\r\n"
                     "[unSubscribe successfull]\r\nSubject=Bye\r\nText=Gone\r\n"
                     "[Paused]\r\nSubject=P\r\nText=p\r\n[Resumed]\r\nSubject=R\r\nText=r\r\n"
                     "[bounce PAUSE]\r\nSubject=B\r\nText=b\r\n");
    editor.OpenList("L");
    editor.ShowPage(1);
    auto* selector = editor.Find<QComboBox>("ComboBox1");
    auto* subject = editor.Find<QLineEdit>("Subject");
    auto* text = editor.Find<QPlainTextEdit>("Template");
    QCOMPARE(selector->count(), 16);
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
    QVERIFY(editor.window->ListSaved());

    selector->setCurrentIndex(15);
    QCOMPARE(selector->currentText(), QStringLiteral("Paused because mail bounces"));
    QCOMPARE(subject->text(), QStringLiteral("B"));
    QCOMPARE(text->toPlainText(), QStringLiteral("b"));
    selector->setCurrentIndex(14);
    QVERIFY(!subject->isHidden());
    QCOMPARE(subject->text(), QString());

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
    auto menu = editor.window->CreateEditMenu(subject);
    menu->findChild<QAction*>(QStringLiteral("{CONFIRMCODE}"))->trigger();
    QCOMPARE(subject->text(), QStringLiteral("{CONFIRMCODE}"));
    menu->findChild<QAction*>(QStringLiteral("Undo"))->trigger();
    QCOMPARE(subject->text(), QStringLiteral("Px"));
    text->setFocus();
    text->moveCursor(QTextCursor::End);
    editor.window->CreateEditMenu(text)
        ->findChild<QAction*>(QStringLiteral("{LISTADDRESS}"))
        ->trigger();

    editor.Click("SaveSettings");
    const std::string file = editor.ListFile("L", "maillist.ini");
    for (const char* part :
         {"[Signature]\r\nText=\"  two blanks\\13\\10\"\r\nSubject=\r\n",
          "[unSubscribe successfull]\r\nSubject=Bye\r\nText=\"Gone\"\r\n",
          "[Paused]\r\nSubject=Px\r\nText=\"p{LISTADDRESS}\"\r\n",
          "[bounce PAUSE]\r\nSubject=B\r\nText=\"b\"\r\n[Subscribe confirmation]",
          "[Unsubscribe confirmation]\r\nSubject=\r\nText=\"\"\r\n"})
      QVERIFY2(file.find(part) != std::string::npos, part);
  }

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

  void CaptionFollowsTheListNameAndButtonsFollowTheState() {
    EditorFixture editor;
    QCOMPARE(editor.window->windowTitle(), kNoList);
    QVERIFY(!editor.Find<QPushButton>("SaveSettings")->isEnabled());
    QVERIFY(!editor.Find<QPushButton>("DeleteList")->isEnabled());
    QVERIFY(editor.Find<QTabWidget>("PageControl1")->isHidden());
    QCOMPARE(editor.Find<QTabWidget>("PageControl1")->tabText(2), QStringLiteral("S&ubscribers"));
    editor.dir.Write("Data/L/maillist.ini", "[General]\r\nName=Ab\r\nSMTPPort=abc\r\n");
    editor.OpenList("L");
    QCOMPARE(editor.window->windowTitle(), QStringLiteral("ORVEX Configuration Editor : Ab"));
    QCOMPARE(editor.Find<BoundedSpinBox>("SMTPPort")->value(), 25);
    auto* name = editor.Find<QLineEdit>("ListName");
    name->setFocus();
    name->end(false);
    QTest::keyClick(name, Qt::Key_C);
    QCOMPARE(editor.window->windowTitle(), QStringLiteral("ORVEX Configuration Editor : Abc"));
    QTest::keyClick(name, Qt::Key_Backspace);
    QCOMPARE(editor.window->windowTitle(), QStringLiteral("ORVEX Configuration Editor : Ab"));
    QVERIFY(editor.Find<QPushButton>("SaveSettings")->isEnabled());
    QVERIFY(!editor.Find<QPushButton>("DeleteList")->isEnabled());
  }

  void SignInPageKeepsWhatItDoesNotChangeAndWantsASavedList() {
    EditorFixture editor;
    editor.dir.Write("Data/L/maillist.ini",
                     "[General]\r\nName=L\r\nSmtpAuthMethod=OAuth2\r\nOAuthProvider=Microsoft\r\n"
                     "OAuthClientId=abc\r\nOAuthClientSecret=" +
                         EncipherPassword("s1") + "\r\n");
    editor.OpenList("L");
    QCOMPARE(editor.Find<QTabWidget>("PageControl1")->tabText(3), QStringLiteral("S&ign-in"));
    QCOMPARE(editor.Find<ChoiceBox>("SmtpAuthMethod")->currentIndex(), 1);
    QCOMPARE(editor.Find<ChoiceBox>("OAuthProvider")->currentIndex(), 1);
    QCOMPARE(editor.Find<QLineEdit>("OAuthClientSecret")->text(), QStringLiteral("s1"));
    editor.Type("OAuthTenant", QStringLiteral("consumers"));
    QVERIFY(!editor.window->ListSaved());
    // Not saved yet: the sign-in would read the old settings.
    editor.Click("SignIn");
    QCOMPARE(editor.boxes.asked.back().kind, BoxKind::Warning);
    editor.Click("SaveSettings");
    const std::string file = editor.ListFile("L", "maillist.ini");
    QVERIFY2(file.find("SmtpAuthMethod=OAuth2\r\nOAuthProvider=Microsoft\r\nOAuthClientId=abc\r\n"
                       "OAuthClientSecret=") != std::string::npos,
             file.c_str());
    QVERIFY2(file.find("OAuthTenant=consumers\r\n") != std::string::npos, file.c_str());
    QVERIFY2(file.find("OAuthScope") == std::string::npos, file.c_str());
    const IniFile saved = IniFile::FromText(file);
    QCOMPARE(DecipherPassword(saved.ReadString("General", "OAuthClientSecret", "")),
             std::string("s1"));
  }

  void AProviderPresetFillsInTheServersOnceConfirmed() {
    EditorFixture editor;
    editor.dir.Write("Data/L/maillist.ini",
                     "[General]\r\nName=L\r\nAddress=l@outlook.test\r\nPop3Count=2\r\n"
                     "Pop3Host1=a\r\nPop3Host2=b\r\n");
    editor.OpenList("L");
    auto* preset = editor.Find<ChoiceBox>("ProviderPreset");
    preset->SetStoredValue(preset->findText(QStringLiteral("Outlook.com")));
    editor.boxes.Queue(BoxAnswer::Cancel);
    editor.Click("FillInServers");
    QVERIFY(editor.window->ListSaved());  // nothing replaced
    editor.boxes.Queue(BoxAnswer::Ok);
    editor.Click("FillInServers");
    QVERIFY(!editor.window->ListSaved());
    editor.Click("SaveSettings");
    const IniFile saved = IniFile::FromText(editor.ListFile("L", "maillist.ini"));
    const std::pair<const char*, const char*> expected[] = {
        {"SMTPHOST", "smtp-mail.outlook.com"},
        {"SMTPPort", "587"},
        {"SmtpSecurity", "1"},
        {"SMTPUser", "l@outlook.test"},
        {"From", "l@outlook.test"},
        {"SmtpAuthMethod", "oauth2"},
        {"OAuthProvider", "microsoft"},
        {"Pop3Count", "1"},
        {"Pop3Host1", "outlook.office365.com"},
        {"Pop3Port1", "995"},
        {"Pop3Security1", "2"},
        {"Name1", "l@outlook.test"},
        {"Pop3AuthMethod1", "oauth2"},
        {"FromRewrite", "2"},
        {"MaxRecipients", "100"},
        {"MaxRecipientsPerDay", "300"},
    };
    for (const auto& [key, value] : expected)
      QCOMPARE(saved.ReadString("General", key, "?"), std::string(value));
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

  void OneSaveReplacesEachFileOnceAndKeepsWhatItDidNotEdit() {
    EditorFixture editor;
    const std::string old = "[General]\r\nName=L\r\nAddress=old@example.org\r\n";
    editor.dir.Write("Data/L/maillist.ini", old);
    editor.OpenList("L");
    editor.Type("Address", QStringLiteral("new@example.org"));
    editor.Type("ListName", QStringLiteral("Renamed"));

    // The one replacement failing (a full disk, or a kill before its rename) leaves the file
    // all old: no key of the save reached it.
    InjectFileFault({FileOperation::Rename, 1, 1, ENOSPC, "maillist.ini"});
    editor.Click("SaveSettings");
    ClearFileFaults();
    QCOMPARE(editor.boxes.asked.size(), std::size_t{1});
    QCOMPARE(editor.boxes.asked[0].kind, BoxKind::Error);
    QCOMPARE(editor.ListFile("L", "maillist.ini"), old);
    QVERIFY(!editor.window->ListSaved());

    // The service writes LastChecked while the operator edits.
    ReplaceFileAtomically(editor.window->CurrentListDir() + "maillist.ini",
                          old + "LastChecked=07.12.2026 02:40:00\r\n");
    // A second replacement of either file in one save would fail here: there is none.
    InjectFileFault({FileOperation::Write, 2, 0, ENOSPC, "maillist.ini"});
    InjectFileFault({FileOperation::Write, 2, 0, ENOSPC, "subscribers.ini"});
    editor.Click("SaveSettings");
    ClearFileFaults();
    QCOMPARE(editor.boxes.asked.size(), std::size_t{1});
    QVERIFY(editor.window->ListSaved());
    const std::string saved = editor.ListFile("L", "maillist.ini");
    QVERIFY2(saved.rfind("[General]\r\nName=Renamed\r\nAddress=new@example.org\r\n"
                         "LastChecked=07.12.2026 02:40:00\r\n",
                         0) == 0,
             saved.c_str());
    QVERIFY2(saved.find("Name=Renamed") == saved.rfind("Name=Renamed"), saved.c_str());
    QVERIFY(saved.find("FromRewrite=") != std::string::npos);
  }

  void ClosingAsksAndAFailedSaveKeepsTheWindowAndTheChanges() {
    EditorFixture editor;
    editor.dir.Write("Data/L/maillist.ini", "[General]\r\nName=L\r\n");
    editor.OpenList("L");
    editor.Type("Address", QStringLiteral("new@example.org"));

    editor.boxes.Queue(BoxAnswer::Cancel);
    QVERIFY(!editor.window->close());
    QVERIFY(editor.window->isVisible());

    // A directory in the place of subscribers.ini makes the save fail.
    std::filesystem::create_directory(editor.window->CurrentListDir() + "subscribers.ini");
    editor.boxes.Queue(BoxAnswer::Yes);
    QVERIFY(!editor.window->close());
    QCOMPARE(editor.boxes.asked.back().kind, BoxKind::Error);
    QVERIFY(!editor.window->ListSaved());
    QVERIFY(editor.window->isVisible());

    std::filesystem::remove(editor.window->CurrentListDir() + "subscribers.ini");
    editor.boxes.Queue(BoxAnswer::Yes);
    QVERIFY(editor.window->close());
    QCOMPARE(editor.boxes.asked.size(), std::size_t{4});
    QVERIFY(editor.dir.Read("Data/L/maillist.ini").find("Address=new@example.org\r\n") !=
            std::string::npos);
    QVERIFY(editor.window->CurrentListDir().empty());
  }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
