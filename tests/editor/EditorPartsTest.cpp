// The editor's parts below the window: subscriber lines, POP3 rows, byte-preserving text, spin
// boxes that keep stored values, list directories and the start-up interlock.
#include <QAbstractItemModelTester>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <filesystem>
#include <optional>

#include "EditorTestSupport.h"
#include "editor/BoundedSpinBox.h"
#include "editor/ListFiles.h"
#include "editor/Pop3ServerModel.h"
#include "editor/SecurityChoices.h"
#include "editor/SettingsText.h"
#include "editor/StartUp.h"
#include "editor/SubscriberModel.h"
#include "platform/Error.h"
#include "platform/InstanceLock.h"

using namespace orvex;
using namespace orvex::test;

Q_DECLARE_METATYPE(std::string)

namespace {

SubscriberModel* ModelOf(const std::string& text, QObject* parent) {
  auto* model = new SubscriberModel(parent);
  NameValueList lines;
  lines.LoadFromText(text);
  model->SetLines(std::move(lines));
  return model;
}

bool Marked(const SubscriberModel& model, int row, int column) {
  return !model.data(model.index(row, column), Qt::DecorationRole).isNull();
}

}  // namespace

class EditorPartsTest : public QObject {
  Q_OBJECT

 private slots:
  void FlagButtonsSwitchOneLetterAndKeepTheRest_data() {
    QTest::addColumn<std::string>("line");
    QTest::addColumn<char>("letter");
    QTest::addColumn<std::string>("after");
    QTest::newRow("digest on") << std::string("a@x=,abcdefghij") << 'd'
                               << std::string("a@x=d,abcdefghij");
    QTest::newRow("digest off") << std::string("a@x=d,abcdefghij") << 'd'
                                << std::string("a@x=,abcdefghij");
    QTest::newRow("appended after p") << std::string("a@x=p,pw") << 'd' << std::string("a@x=pd,pw");
    QTest::newRow("every occurrence removed")
        << std::string("a@x=dpd,pw") << 'd' << std::string("a@x=p,pw");
    QTest::newRow("only flag off leaves two quotes")
        << std::string("a@x=d") << 'd' << std::string("a@x=\"\"");
    QTest::newRow("quoted password stays whole")
        << std::string("a@x=,\"a b,\"\"c\"") << 'b' << std::string("a@x=b,\"a b,\"\"c\"");
    QTest::newRow("further items kept")
        << std::string("a@x=b,pw,extra") << 'p' << std::string("a@x=bp,pw,extra");
  }
  void FlagButtonsSwitchOneLetterAndKeepTheRest() {
    QFETCH(std::string, line);
    QFETCH(char, letter);
    QFETCH(std::string, after);
    QObject owner;
    SubscriberModel* model = ModelOf(line + "\r\n", &owner);
    QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model->ToggleFlag(0, letter);
    QCOMPARE(model->Lines().Lines().at(0), after);
  }

  void DuplicateAddressesShareTheFirstLinesFlags() {
    QObject owner;
    SubscriberModel* model = ModelOf("Ann@x=d,one\r\nann@X=,two\r\n", &owner);
    QVERIFY(Marked(*model, 1, SubscriberModel::kDigest));
    model->ToggleFlag(1, 'p');
    QCOMPARE(model->Lines().Lines(), (std::vector<std::string>{"Ann@x=dp,one", "ann@X=,two"}));
  }

  void LinesWithoutItemsHaveNoFlagsAndStayAsTheyAre() {
    QObject owner;
    const std::vector<std::string> lines = {"no equals sign", "", "empty@x=", "a@x=,pw"};
    SubscriberModel* model = ModelOf("no equals sign\r\n\r\nempty@x=\r\na@x=,pw\r\n", &owner);
    for (int row = 0; row < 3; ++row) {
      QVERIFY(!model->Flags(row).has_value());
      model->ToggleFlag(row, 'd');
      for (int column : {1, 2, 3}) QVERIFY(!Marked(*model, row, column));
    }
    QCOMPARE(model->Flags(3), std::optional<std::string>(""));
    QCOMPARE(model->Lines().Lines(), lines);
  }

  void MarksFollowTheFlagLetters() {
    QObject owner;
    SubscriberModel* model = ModelOf("a@x=pb,pw\r\n", &owner);
    QCOMPARE(model->data(model->index(0, 0), Qt::DisplayRole).toString(), QStringLiteral("a@x"));
    QVERIFY(!Marked(*model, 0, SubscriberModel::kDigest));
    QVERIFY(Marked(*model, 0, SubscriberModel::kPaused));
    QVERIFY(Marked(*model, 0, SubscriberModel::kBlocked));
  }

  void NewSubscriberPasswordIsWrittenByTheCommaListRule_data() {
    QTest::addColumn<std::string>("password");
    QTest::addColumn<std::string>("line");
    QTest::newRow("plain") << std::string("secret") << std::string("new@x=,secret");
    QTest::newRow("empty") << std::string("") << std::string("new@x=,");
    QTest::newRow("blank inside") << std::string("two words")
                                  << std::string("new@x=,\"two words\"");
    QTest::newRow("comma and quote") << std::string("a,\"b") << std::string("new@x=,\"a,\"\"b\"");
  }
  void NewSubscriberPasswordIsWrittenByTheCommaListRule() {
    QFETCH(std::string, password);
    QFETCH(std::string, line);
    QObject owner;
    SubscriberModel* model = ModelOf("", &owner);
    QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(model->Add("new@x", password), 0);
    QCOMPARE(model->Lines().Lines().at(0), line);
    QCOMPARE(CommaItem(model->Lines().ValueAt(0), 1), password);
    QCOMPARE(model->Flags(0), std::optional<std::string>(""));
  }

  void FindComparesInCapitalsFromTheStartRowWithoutWrapping_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("row");
    QTest::newRow("capitals find small letters") << QStringLiteral("BOB") << 0 << 1;
    QTest::newRow("small letters find capitals") << QStringLiteral("carol@") << 0 << 2;
    QTest::newRow("next match after start") << QStringLiteral("example") << 1 << 1;
    QTest::newRow("no wrap to the first row") << QStringLiteral("ann") << 1 << -1;
    QTest::newRow("empty text matches nothing") << QString() << 0 << -1;
    QTest::newRow("only a to z change case") << QStringLiteral("\u00C9") << 0 << -1;
  }
  void FindComparesInCapitalsFromTheStartRowWithoutWrapping() {
    QFETCH(QString, text);
    QFETCH(int, start);
    QFETCH(int, row);
    QObject owner;
    SubscriberModel* model = ModelOf(
        "ann@example.org=,1\r\nbob@Example.org=,2\r\nCAROL@EXAMPLE.ORG=,3\r\n"
        "\xC3\xA9mile@x=,4\r\n",
        &owner);
    QCOMPARE(model->Find(text, start), row);
  }

  void Pop3RowsShowAMaskInsteadOfThePasswordAndTheSecurityByName() {
    Pop3ServerModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.SetServers({{"pop.x", "110", "u", "pa ss", 1, ""}, {"pop.w", "110", "u", "", 7, ""}});
    model.Append({"pop.y", "995", "v", "", 0, ""});
    model.Replace(2, {"pop.z", "995", "w", "k", 2, ""});
    auto security = [&](int row) {
      return model.data(model.index(row, Pop3ServerModel::kSecurity), Qt::DisplayRole).toString();
    };
    QCOMPARE(model.headerData(Pop3ServerModel::kSecurity, Qt::Horizontal, Qt::DisplayRole),
             QVariant(QStringLiteral("Security")));
    QCOMPARE(security(0), QStringLiteral("STARTTLS"));
    QCOMPARE(security(1), QStringLiteral("7"));  // a value with no name shows as stored
    QCOMPARE(security(2), QStringLiteral("SSL/TLS"));
    model.Remove(1);
    QCOMPARE(model.data(model.index(0, Pop3ServerModel::kPassword), Qt::DisplayRole).toString(),
             QStringLiteral("*****"));
    QCOMPARE(model.data(model.index(1, Pop3ServerModel::kHost), Qt::DisplayRole).toString(),
             QStringLiteral("pop.z"));
    QCOMPARE(model.data(model.index(1, Pop3ServerModel::kPassword), Qt::DisplayRole).toString(),
             QStringLiteral("*"));
    model.Remove(0);
    QCOMPARE(model.rowCount(), 1);
  }

  void CertificateFingerprintsMustBeSha256_data() {
    QTest::addColumn<std::string>("text");
    QTest::addColumn<bool>("accepted");
    const std::string hex = "0123456789abcdefABCDEF0123456789abcdef0123456789abcdef0123456789";
    const std::string pairs =
        "01:23:45:67:89:ab:cd:ef:AB:CD:EF:01:23:45:67:89:01:23:45:67:89:ab:cd:ef:AB:CD:EF:01:23:45:"
        "67:89";
    QTest::newRow("empty: none") << std::string() << true;
    QTest::newRow("64 digits, mixed case") << hex << true;
    QTest::newRow("32 pairs with colons") << pairs << true;
    QTest::newRow("63 digits") << hex.substr(1) << false;
    QTest::newRow("65 digits") << hex + "0" << false;
    QTest::newRow("SHA-1 length, pairs") << pairs.substr(0, 59) << false;
    QTest::newRow("not hexadecimal") << "g" + hex.substr(1) << false;
    QTest::newRow("colon out of place") << "0:" + pairs.substr(0, 1) + pairs.substr(3) << false;
    QTest::newRow("dash for colon") << std::string(pairs).replace(2, 1, "-") << false;
    QTest::newRow("64 long with a colon") << pairs.substr(0, 3) + hex.substr(0, 61) << false;
  }
  void CertificateFingerprintsMustBeSha256() {
    QFETCH(std::string, text);
    QFETCH(bool, accepted);
    QCOMPARE(IsCertificateFingerprint(text), accepted);
  }

  void TheSecurityChoiceSuggestsOnlyConventionalPorts_data() {
    QTest::addColumn<bool>("smtp");
    QTest::addColumn<int>("choice");
    QTest::addColumn<int>("current");
    QTest::addColumn<int>("suggested");  // 0: the port stays
    QTest::newRow("smtp none") << true << 0 << 587 << 25;
    QTest::newRow("smtp starttls") << true << 1 << 25 << 587;
    QTest::newRow("smtp tls") << true << 2 << 587 << 465;
    QTest::newRow("smtp own port stays") << true << 2 << 2525 << 0;
    QTest::newRow("smtp, pop3 port stays") << true << 1 << 110 << 0;
    QTest::newRow("pop3 tls") << false << 2 << 110 << 995;
    QTest::newRow("pop3 stls") << false << 1 << 995 << 110;
    QTest::newRow("pop3 none") << false << 0 << 995 << 110;
    QTest::newRow("pop3 own port stays") << false << 2 << 1110 << 0;
    QTest::newRow("no choice") << false << -1 << 110 << 0;
  }
  void TheSecurityChoiceSuggestsOnlyConventionalPorts() {
    QFETCH(bool, smtp);
    QFETCH(int, choice);
    QFETCH(int, current);
    QFETCH(int, suggested);
    QCOMPARE(
        SuggestedPort(smtp ? MailService::Smtp : MailService::Pop3, choice, current).value_or(0),
        suggested);
  }

  void UneditedTextKeepsItsBytes_data() {
    QTest::addColumn<std::string>("stored");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<std::string>("written");
    QTest::newRow("utf-8 untouched")
        << std::string("Gr\xC3\xBC\xC3\x9F") << QString() << std::string("Gr\xC3\xBC\xC3\x9F");
    QTest::newRow("8-bit untouched")
        << std::string("Gr\xFC\xDF \x81") << QString() << std::string("Gr\xFC\xDF \x81");
    QTest::newRow("8-bit edited stays 8-bit")
        << std::string("Gr\xFC\xDF") << QStringLiteral("Gr\u00FC\u00DFe")
        << std::string(
               "Gr\xFC\xDF"
               "e");
    QTest::newRow("8-bit edited beyond a byte")
        << std::string("\xFC") << QStringLiteral("\u20AC") << std::string("\xE2\x82\xAC");
    QTest::newRow("utf-8 edited") << std::string("a") << QStringLiteral("\u00E9")
                                  << std::string("\xC3\xA9");
  }
  void UneditedTextKeepsItsBytes() {
    QFETCH(std::string, stored);
    QFETCH(QString, typed);
    QFETCH(std::string, written);
    QLineEdit edit;
    edit.setText(DecodeText(stored));
    const FieldText field(stored, edit.text());
    if (!typed.isNull()) edit.setText(typed);
    QCOMPARE(field.BytesFor(edit.text()), written);
  }

  void SpinBoxKeepsAStoredValueOutsideItsRangeUntilEdited() {
    BoundedSpinBox spin(0, 100);
    spin.SetStoredValue(500);
    QCOMPARE(spin.value(), 500);
    QCOMPARE(spin.text(), QStringLiteral("500"));
    QCOMPARE(spin.StoredValue(), 500LL);
    spin.SetStoredValue(5000000000LL);  // beyond what the box can hold, still given back
    QCOMPARE(spin.StoredValue(), 5000000000LL);

    spin.SetStoredValue(500);
    spin.stepBy(-1);  // the arrows bring it back to the range first
    QCOMPARE(spin.StoredValue(), 100LL);
    spin.stepBy(-1);
    QCOMPARE(spin.StoredValue(), 99LL);
    spin.stepBy(5);
    QCOMPARE(spin.StoredValue(), 100LL);

    spin.SetStoredValue(7);
    spin.setFocus();
    spin.selectAll();
    QTest::keyClicks(&spin, "250");  // beyond the range: refused as typed
    QVERIFY(spin.StoredValue() <= 100);
    spin.selectAll();
    QTest::keyClicks(&spin, "42");
    QCOMPARE(spin.StoredValue(), 42LL);
  }

  void PortBoxesTakeEveryTcpPort_data() {
    QTest::addColumn<int>("port");
    for (int port : {1, 25, 465, 587, 995, 65535}) QTest::addRow("%d", port) << port;
  }
  void PortBoxesTakeEveryTcpPort() {
    QFETCH(int, port);
    BoundedSpinBox spin(1, 65535);
    spin.selectAll();
    QTest::keyClicks(&spin, QString::number(port));
    QCOMPARE(spin.StoredValue(), static_cast<long long>(port));
  }

  void DeleteTreeRemovesEverythingButStopsAtAReadOnlyFile() {
    TempDirectory dir;
    dir.Write("Data/L/maillist.ini", "x");
    dir.Write("Data/L/Inbox/a.msg", "m");
    dir.Write("Data/L/Outbox/.hidden", "h");
    QVERIFY(DeleteTree(dir.Path() + "Data/L/"));
    QVERIFY(!dir.Exists("Data/L"));

    dir.Write("Data/R/Inbox/a.msg", "m");
    dir.Write("Data/R/locked.ini", "x");
    std::filesystem::permissions(dir.Path() + "Data/R/locked.ini",
                                 std::filesystem::perms::owner_read);
    QVERIFY(!DeleteTree(dir.Path() + "Data/R/"));
    QVERIFY(dir.Exists("Data/R/locked.ini"));
  }

  void DeleteTreeRemovesLinksWithoutFollowingThem() {
    TempDirectory dir;
    dir.Write("Keep/precious.txt", "p");
    dir.Write("Data/L/maillist.ini", "x");
    std::filesystem::create_directory_symlink(dir.Path() + "Keep", dir.Path() + "Data/L/link");
    QVERIFY(DeleteTree(dir.Path() + "Data/L/"));
    QVERIFY(!dir.Exists("Data/L"));
    QCOMPARE(dir.Read("Keep/precious.txt"), std::string("p"));
  }

  void FindListsOffersOnlyNamedVisibleLists() {
    TempDirectory dir;
    dir.Write("Data/one/maillist.ini", "[General]\r\nName=Same\r\n");
    dir.Write("Data/two/maillist.ini", "[general]\r\nname=Same\r\n");
    dir.Write("Data/unnamed/maillist.ini", "[General]\r\nName=\r\n");
    dir.Write("Data/nofile/subscribers.ini", "");
    dir.Write("Data/.hidden/maillist.ini", "[General]\r\nName=Hidden\r\n");
    dir.Write("Data/plain-file", "[General]\r\nName=File\r\n");
    auto lists = FindLists(dir.Path());
    std::vector<std::string> directories;
    for (const auto& list : lists) {
      QCOMPARE(list.name, std::string("Same"));
      directories.push_back(list.directory);
    }
    std::sort(directories.begin(), directories.end());
    QCOMPARE(directories, (std::vector<std::string>{"one", "two"}));
  }

  void NewListDirectoryIsTheTimeStampAndAvoidsExistingOnes() {
    TempDirectory dir;
    class FixedClock final : public Clock {
     public:
      explicit FixedClock(LocalDateTime t) : t_(t) {}
      LocalDateTime Now() const override { return t_; }

     private:
      LocalDateTime t_;
    };
    class SteppingClock final : public Clock {
     public:
      LocalDateTime Now() const override {
        LocalDateTime t{2026, 12, 7, 2, 33, 54, 123 + calls_, 60};
        ++calls_;
        return t;
      }
      mutable int calls_ = 0;
    } clock;
    QCOMPARE(NewListDirectory(dir.Path(), clock), dir.Path() + "Data/20261207023354123/");
    dir.MakeList("20261207023354124");
    QCOMPARE(NewListDirectory(dir.Path(), clock), dir.Path() + "Data/20261207023354125/");

    // A clock that stands still on a taken name: a counter, not an endless loop.
    FixedClock stopped({2026, 12, 7, 2, 33, 54, 123, 60});
    dir.MakeList("20261207023354123");
    dir.MakeList("20261207023354123-2");
    QCOMPARE(NewListDirectory(dir.Path(), stopped), dir.Path() + "Data/20261207023354123-3/");
    // And when even the counter's names are taken: a clear error, not an endless search.
    for (int counter = 3; counter < 1000; ++counter)
      std::filesystem::create_directory(dir.Path() + "Data/20261207023354123-" +
                                        std::to_string(counter));
    try {
      NewListDirectory(dir.Path(), stopped);
      QFAIL("a name was found although every one is taken");
    } catch (const Error& error) {
      QCOMPARE(std::string(error.what()),
               "No free name for a new list directory in " + dir.Path() + "Data/");
    }
  }

  void InterlockRefusesBesideTheServiceAndHandsOverToAFirstEditor() {
    TempDirectory dir;
    {
      auto service = InstanceLock::TryAcquire(dir.Path() + kServiceLockName);
      QVERIFY(service.has_value());
      QCOMPARE(CheckStart(dir.Path()).decision, StartDecision::RefuseBesideService);
    }
    StartCheck first = CheckStart(dir.Path());
    QCOMPARE(first.decision, StartDecision::Run);
    QCOMPARE(CheckStart(dir.Path()).decision, StartDecision::HandOver);
    QCOMPARE(QString::fromLatin1(kServiceRunningText),
             QStringLiteral(
                 "Mailing list manager is currently active\r\nMailing list editor cannot start"));
  }

  void SecondEditorBringsTheFirstWindowToTheFront() {
    TempDirectory dir;
    EditorFixture editor;
    editor.window->showMinimized();
    QVERIFY(editor.window->isMinimized());
    const QString name = HandoverName(dir.Path() + kEditorLockName);
    QVERIFY(name != HandoverName(editor.dir.Path() + kEditorLockName));
    HandoverServer server(name, [&] { editor.window->BringToFront(); });
    QVERIFY(server.Listening());
    QVERIFY(AskRunningEditorToShow(name));
    QTRY_VERIFY_WITH_TIMEOUT(!editor.window->isMinimized(), 5000);
    QVERIFY(editor.window->isVisible());
  }
};

QTEST_MAIN(EditorPartsTest)
#include "EditorPartsTest.moc"
