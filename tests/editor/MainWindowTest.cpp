// The main window driven as the operator drives it: the caption and buttons, the questions
// before changes are lost, changing, deleting and saving whole lists, checked against the files.
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "EditorTestSupport.h"
#include "crypto/Passwords.h"
#include "editor/BoundedSpinBox.h"
#include "editor/ChoiceBox.h"
#include "editor/Dialogs.h"
#include "platform/FaultInjection.h"
#include "platform/FileSystem.h"
#include "store/IniFile.h"

using namespace orvex;
using namespace orvex::test;

Q_DECLARE_METATYPE(orvex::BoxAnswer)

namespace {

const QString kNoList = QStringLiteral("ORVEX Configuration editor");
const QString kUnsavedQuestion = QStringLiteral(
    "Some changes of current mailing list configuration are not saved\r\nDo you wish to save "
    "them?");

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
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

  void AListWhoseFilesCannotBeReadIsNotOpened_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>(
        "fault");  // an errno for the read of the file; 0: a directory in its place
    QTest::addColumn<QString>("reason");
    QTest::newRow("subscribers unreadable")
        << QStringLiteral("subscribers.ini") << EIO << QString::fromUtf8(std::strerror(EIO));
    QTest::newRow("a directory for subscribers")
        << QStringLiteral("subscribers.ini") << 0 << QStringLiteral("not a regular file");
    QTest::newRow("settings unreadable")
        << QStringLiteral("maillist.ini") << EACCES << QString::fromUtf8(std::strerror(EACCES));
  }
  void AListWhoseFilesCannotBeReadIsNotOpened() {
    QFETCH(QString, file);
    QFETCH(int, fault);
    QFETCH(QString, reason);
    EditorFixture editor;
    const std::string settings = "[General]\r\nName=L\r\n";
    const std::string members = "ann@example.org=,pw\r\n";
    editor.dir.Write("Data/L/maillist.ini", settings);
    if (fault == 0)
      std::filesystem::create_directory(editor.dir.Path() + "Data/L/subscribers.ini");
    else
      editor.dir.Write("Data/L/subscribers.ini", members);
    // The selection dialog reads maillist.ini once for the list's name; opening reads it again.
    if (fault != 0)
      InjectFileFault({FileOperation::Read, file == QStringLiteral("maillist.ini") ? 2 : 1, 0,
                       fault, file.toStdString()});
    editor.OpenList("L");
    ClearFileFaults();

    QCOMPARE(editor.boxes.asked.size(), std::size_t{1});
    QCOMPARE(editor.boxes.asked[0].kind, BoxKind::Error);
    QCOMPARE(editor.boxes.asked[0].text,
             QStringLiteral("Cannot read ") + QString::fromStdString(editor.dir.Path()) +
                 QStringLiteral("Data/L/") + file + QStringLiteral(": ") + reason +
                 QStringLiteral("\r\nThe list was not opened."));
    // Nothing is shown, so nothing can be saved over the files.
    QVERIFY(!editor.window->PagesShown());
    QVERIFY(editor.window->CurrentListDir().empty());
    QCOMPARE(editor.window->windowTitle(), kNoList);
    QVERIFY(!editor.Find<QPushButton>("SaveSettings")->isEnabled());
    QCOMPARE(editor.ListFile("L", "maillist.ini"), settings);
    if (fault != 0) QCOMPARE(editor.ListFile("L", "subscribers.ini"), members);
  }

  void AnUnreadableListLeavesTheShownListAsItWas() {
    EditorFixture editor;
    editor.dir.Write("Data/L/maillist.ini", "[General]\r\nName=Shown\r\n");
    editor.dir.Write("Data/M/maillist.ini", "[General]\r\nName=Other\r\n");
    editor.dir.Write("Data/M/subscribers.ini", "ann@example.org=,pw\r\n");
    editor.OpenList("L");
    editor.Type("Address", QStringLiteral("edited@example.org"));

    InjectFileFault({FileOperation::Read, 1, 0, EIO, "M/subscribers.ini"});
    editor.OpenList("M");
    ClearFileFaults();
    // Refused before the question about the shown list's changes.
    QCOMPARE(editor.boxes.asked.size(), std::size_t{1});
    QCOMPARE(editor.boxes.asked[0].kind, BoxKind::Error);
    QCOMPARE(editor.window->CurrentListDir(), editor.dir.Path() + "Data/L/");
    QCOMPARE(editor.Find<QLineEdit>("ListName")->text(), QStringLiteral("Shown"));
    QCOMPARE(editor.Find<QLineEdit>("Address")->text(), QStringLiteral("edited@example.org"));
    QVERIFY(!editor.window->ListSaved());
    QCOMPARE(editor.ListFile("M", "subscribers.ini"), std::string("ann@example.org=,pw\r\n"));
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
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
