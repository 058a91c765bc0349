// The dial-up group driven as the operator drives it, checked against the orvex.ini it writes.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>

#include "EditorTestSupport.h"
#include "crypto/Passwords.h"
#include "editor/BoundedSpinBox.h"

using namespace orvex;
using namespace orvex::test;

Q_DECLARE_METATYPE(orvex::BoxAnswer)
Q_DECLARE_METATYPE(std::optional<std::vector<std::string>>)
Q_DECLARE_METATYPE(std::string)

namespace {

const QString kDialUpQuestion =
    QStringLiteral("Dial-up configuration not saved\r\nDo you wish to save it?");

void TypeNumber(BoundedSpinBox* box, const char* text) {
  box->setFocus();
  box->selectAll();
  QTest::keyClicks(box, text);
}

bool SaveAndRevertEnabled(const EditorFixture& editor) {
  const bool save = editor.Find<QPushButton>("DialUpSave")->isEnabled();
  const bool revert = editor.Find<QPushButton>("DialUpRevert")->isEnabled();
  if (save != revert) qFatal("Save and Revert disagree");
  return save;
}

}  // namespace

class DialUpGroupTest : public QObject {
  Q_OBJECT

 private slots:
  void LoadsEditsRevertsAndSavesWithoutAList() {
    EditorFixture editor([](EditorFixture& before) {
      before.dialUp.entries = std::vector<std::string>{"Home", "Work VPN"};
      before.dir.Write("orvex.ini",
                       "[Dialup]\r\nUse dialup=1\r\nEntry=work vpn\r\nUser=ann\r\n"
                       "Password=" +
                           EncipherPassword("pw") +
                           "\r\nAttempts=0\r\nPause=45\r\n[Other]\r\nKey=kept\r\n");
    });
    QCOMPARE(editor.dialUp.listings, 1);
    auto* entry = editor.Find<QComboBox>("DialUp");
    auto* use = editor.Find<QCheckBox>("UseDialUp");
    auto* attempts = editor.Find<BoundedSpinBox>("Attempts");
    QCOMPARE(entry->count(), 2);
    QCOMPARE(entry->currentText(), QStringLiteral("Work VPN"));  // chosen without regard to case
    QVERIFY(use->isChecked());
    QVERIFY(editor.Find<QWidget>("DialUpFields")->isVisible());
    QCOMPARE(editor.Find<QLineEdit>("DialUpUser")->text(), QStringLiteral("ann"));
    QCOMPARE(editor.Find<QLineEdit>("DialUpPass")->text(), QStringLiteral("pw"));
    QCOMPARE(attempts->value(), 0);
    QCOMPARE(editor.Find<BoundedSpinBox>("Pause")->value(), 45);
    QVERIFY(editor.window->DialUpSaved());
    QVERIFY(!SaveAndRevertEnabled(editor));

    // Revert reads the file again.
    editor.Type("DialUpUser", QStringLiteral("bob"));
    QVERIFY(!editor.window->DialUpSaved());
    QVERIFY(SaveAndRevertEnabled(editor));
    editor.Click("DialUpRevert");
    QCOMPARE(editor.Find<QLineEdit>("DialUpUser")->text(), QStringLiteral("ann"));
    QVERIFY(editor.window->DialUpSaved());
    QVERIFY(!SaveAndRevertEnabled(editor));

    // Every kind of field marks the group changed.
    Choose(entry, 0);
    QVERIFY(!editor.window->DialUpSaved());
    editor.Click("DialUpRevert");
    TypeNumber(attempts, "7");
    QVERIFY(!editor.window->DialUpSaved());

    editor.Type("DialUpUser", QStringLiteral("bob"));
    editor.Type("DialUpPass", QStringLiteral("new pw"));
    Choose(entry, 0);
    // Cleared, the check box hides the fields; their values are still saved.
    QTest::mouseClick(use, Qt::LeftButton, {}, QPoint(5, 5));
    QVERIFY(editor.Find<QWidget>("DialUpFields")->isHidden());
    editor.Click("DialUpSave");
    QVERIFY(editor.boxes.asked.empty());
    QVERIFY(editor.window->DialUpSaved());
    QVERIFY(!SaveAndRevertEnabled(editor));
    QVERIFY(!editor.window->PagesShown());
    QCOMPARE(CheckPasswords(editor.dir.Read("orvex.ini"), {{"Password", "new pw"}}),
             std::string("[Dialup]\r\nUse dialup=0\r\nEntry=Home\r\nUser=bob\r\n"
                         "Password=<enciphered>\r\nAttempts=7\r\nPause=45\r\n[Other]\r\n"
                         "Key=kept\r\n"));
    QVERIFY((std::filesystem::status(editor.dir.Path() + "orvex.ini").permissions() &
             std::filesystem::perms::others_read) == std::filesystem::perms::none);
  }

  void TheEntryIsChosenFromThePhonebookOnly_data() {
    QTest::addColumn<std::optional<std::vector<std::string>>>("phonebook");
    QTest::addColumn<int>("chosen");
    QTest::addColumn<std::string>("savedEntry");
    using Entries = std::optional<std::vector<std::string>>;
    QTest::newRow("listed") << Entries({"Home", "Gone"}) << 1 << std::string("Gone");
    QTest::newRow("no longer listed") << Entries({"Home"}) << -1 << std::string();
    QTest::newRow("empty phonebook") << Entries(std::vector<std::string>{}) << -1 << std::string();
    // Nothing could be chosen, so the stored entry is not erased.
    QTest::newRow("listing failed") << Entries() << -1 << std::string("Gone");
  }
  void TheEntryIsChosenFromThePhonebookOnly() {
    QFETCH(std::optional<std::vector<std::string>>, phonebook);
    QFETCH(int, chosen);
    QFETCH(std::string, savedEntry);
    EditorFixture editor([&](EditorFixture& before) {
      before.dialUp.entries = phonebook;
      before.dir.Write("orvex.ini", "[DialUp]\r\nEntry=Gone\r\n");
    });
    QCOMPARE(editor.Find<QComboBox>("DialUp")->currentIndex(), chosen);
    editor.Find<QCheckBox>("UseDialUp")->click();
    TypeNumber(editor.Find<BoundedSpinBox>("Pause"), "31");
    editor.Click("DialUpSave");
    QVERIFY(editor.boxes.asked.empty());
    // The keys the file lacked follow in the order they are written.
    QCOMPARE(
        CheckPasswords(editor.dir.Read("orvex.ini"), {{"Password", ""}}),
        "[DialUp]\r\nEntry=" + savedEntry +
            "\r\nUse dialup=1\r\nUser=\r\nPassword=<enciphered>\r\nAttempts=1\r\nPause=31\r\n");
  }

  void ClosingAsksAboutTheDialUpSettingsFirst_data() {
    QTest::addColumn<BoxAnswer>("dialUpAnswer");
    QTest::addColumn<BoxAnswer>("listAnswer");
    QTest::addColumn<bool>("closes");
    QTest::addColumn<int>("questions");
    QTest::addColumn<bool>("dialUpWritten");
    QTest::newRow("yes saves") << BoxAnswer::Yes << BoxAnswer::No << true << 2 << true;
    QTest::newRow("no saves nothing") << BoxAnswer::No << BoxAnswer::No << true << 2 << false;
    QTest::newRow("cancel stays") << BoxAnswer::Cancel << BoxAnswer::No << false << 1 << false;
    // A yes already given is not undone by a later cancel.
    QTest::newRow("yes, then cancel for the list")
        << BoxAnswer::Yes << BoxAnswer::Cancel << false << 2 << true;
  }
  void ClosingAsksAboutTheDialUpSettingsFirst() {
    QFETCH(BoxAnswer, dialUpAnswer);
    QFETCH(BoxAnswer, listAnswer);
    QFETCH(bool, closes);
    QFETCH(int, questions);
    QFETCH(bool, dialUpWritten);
    EditorFixture editor;
    editor.Type("DialUpUser", QStringLiteral("someone"));
    // Only closing asks about the dial-up settings: starting a new list does not.
    editor.Click("NewList");
    QVERIFY(editor.boxes.asked.empty());
    QVERIFY(!editor.window->ListSaved());

    editor.boxes.Queue(dialUpAnswer);
    editor.boxes.Queue(listAnswer);
    QCOMPARE(editor.window->close(), closes);
    QCOMPARE(editor.boxes.asked.size(), std::size_t(questions));
    QCOMPARE(editor.boxes.asked[0].text, kDialUpQuestion);
    QCOMPARE(editor.boxes.asked[0].kind, BoxKind::Warning);
    QCOMPARE(editor.boxes.asked[0].buttons, BoxButtons::YesNoCancel);
    QCOMPARE(editor.window->DialUpSaved(), dialUpWritten);
    if (dialUpWritten)
      QVERIFY(editor.dir.Read("orvex.ini").find("User=someone\r\n") != std::string::npos);
    else
      QVERIFY(!editor.dir.Exists("orvex.ini"));
  }

  void AFailedSaveIsReportedAndStaysUnsaved() {
    EditorFixture editor;
    // A directory in the place of orvex.ini cannot be written.
    std::filesystem::create_directory(editor.dir.Path() + "orvex.ini");
    editor.Type("DialUpUser", QStringLiteral("someone"));
    editor.Click("DialUpSave");
    QCOMPARE(editor.boxes.asked.size(), std::size_t{1});
    QCOMPARE(editor.boxes.asked[0].kind, BoxKind::Error);
    QCOMPARE(editor.boxes.asked[0].text,
             QString::fromStdString("Unable to write to " + editor.dir.Path() +
                                    "orvex.ini: " + std::strerror(EISDIR)));
    QVERIFY(!editor.window->DialUpSaved());
    QVERIFY(SaveAndRevertEnabled(editor));
  }
};

QTEST_MAIN(DialUpGroupTest)
#include "DialUpGroupTest.moc"
