// The "Sign in..." dialog run against stand-in programs: it shows what the program prints,
// reports the end by exit status, and ends a program still running when it is closed.
#include <sys/stat.h>
#include <sys/types.h>

#include <QDialog>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <cerrno>
#include <csignal>

#include "EditorTestSupport.h"
#include "editor/OAuthPage.h"

using namespace orvex;
using namespace orvex::test;

namespace {

// What the dialog showed, and the stand-in's process ID when it printed one.
struct Shown {
  QString text;
  pid_t pid = 0;
};

// Runs the dialog over `program`; once its output holds `awaited`, closes it with the Close
// button or, when `escape`, with the Escape key.
Shown RunDialog(const TempDirectory& dir, const QString& program, const QString& awaited,
                bool escape = false) {
  Shown shown;
  WhenModalShown([&](QWidget* modal) {
    auto* output = modal->findChild<QPlainTextEdit*>(QStringLiteral("SignInOutput"));
    if (output == nullptr) qFatal("the sign-in dialog did not open");
    // On a timeout the text shown so far tells the test what went wrong.
    (void)QTest::qWaitFor([&] { return output->toPlainText().contains(awaited); }, 10000);
    shown.text = output->toPlainText();
    const qsizetype at = shown.text.indexOf(QStringLiteral("pid "));
    if (at >= 0) shown.pid = shown.text.mid(at + 4).section(QLatin1Char('\n'), 0, 0).toInt();
    if (escape)
      QTest::keyClick(modal, Qt::Key_Escape);
    else
      modal->findChild<QPushButton*>()->click();
  });
  QWidget parent;
  RunSignInDialog(&parent, dir.Path(), "birds", program);
  return shown;
}

// Writes an executable shell script as the stand-in for orvex-admin.
QString StandIn(const TempDirectory& dir, const std::string& body) {
  dir.Write("orvex-admin", "#!/bin/sh\n" + body);
  const std::string path = dir.Path() + "orvex-admin";
  if (::chmod(path.c_str(), 0700) != 0) qFatal("chmod failed");
  return QString::fromStdString(path);
}

bool ProcessGone(pid_t pid) {
  return ::kill(pid, 0) == -1 && errno == ESRCH;
}

}  // namespace

class SignInDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void ShowsTheOutputAndReportsTheExitStatus_data() {
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("printed");  // beside the address, also what went to stderr
    QTest::addColumn<QString>("verdict");
    const QString failed = QStringLiteral("The sign-in did not succeed.");
    QTest::newRow("success") << QStringLiteral("echo 'Signed in.'\nexit 0\n")
                             << QStringLiteral("Signed in.") << QStringLiteral("Done.");
    QTest::newRow("failure") << QStringLiteral("echo 'no token' >&2\nexit 1\n")
                             << QStringLiteral("no token") << failed;
    QTest::newRow("killed") << QStringLiteral("kill -KILL $$\n") << QString() << failed;
  }
  void ShowsTheOutputAndReportsTheExitStatus() {
    QFETCH(QString, script);
    QFETCH(QString, printed);
    QFETCH(QString, verdict);
    TempDirectory dir;
    const QString program =
        StandIn(dir,
                "echo \"Open this address in your browser: http://127.0.0.1:1/authorize\"\n"
                "echo \"arguments: $*\"\n" +
                    script.toStdString());
    const Shown shown = RunDialog(dir, program, verdict);
    QVERIFY2(shown.text.contains(
                 QStringLiteral("Open this address in your browser: http://127.0.0.1:1/authorize")),
             qPrintable(shown.text));
    QVERIFY2(shown.text.contains(QStringLiteral("arguments: --dir ") +
                                 QString::fromStdString(dir.Path()) +
                                 QStringLiteral(" oauth login birds --flow browser")),
             qPrintable(shown.text));
    QVERIFY2(shown.text.contains(printed), qPrintable(shown.text));
    // The verdict comes last, and only one of the two.
    QVERIFY2(shown.text.endsWith(verdict), qPrintable(shown.text));
    QCOMPARE(shown.text.count(QStringLiteral("Done.")) +
                 shown.text.count(QStringLiteral("did not succeed")),
             1);
  }

  void ClosingEndsTheRunningProgram_data() {
    QTest::addColumn<QString>("script");
    QTest::addColumn<bool>("escape");
    QTest::newRow("Close") << QString() << false;
    QTest::newRow("Escape") << QString() << true;
    // A program that ignores the request to end is killed.
    QTest::newRow("ignores SIGTERM") << QStringLiteral("trap '' TERM\n") << false;
  }
  void ClosingEndsTheRunningProgram() {
    QFETCH(QString, script);
    QFETCH(bool, escape);
    TempDirectory dir;
    // The shell becomes the waiting program, so the printed ID is the one the dialog runs.
    const QString program = StandIn(dir, script.toStdString() +
                                             "echo \"waiting for the browser, pid $$\"\n"
                                             "exec sleep 600\n");
    const Shown shown = RunDialog(dir, program, QStringLiteral("pid "), escape);
    QVERIFY2(shown.pid > 0, qPrintable(shown.text));
    const bool gone = ProcessGone(shown.pid);
    if (!gone) ::kill(shown.pid, SIGKILL);  // the stand-in this test started, by its ID
    QVERIFY2(gone, qPrintable(QString::number(shown.pid)));
  }

  void AProgramThatCannotRunIsReported() {
    TempDirectory dir;
    const QString missing = QString::fromStdString(dir.Path() + "no-such-program");
    const Shown shown = RunDialog(dir, missing, QStringLiteral("Cannot run"));
    QVERIFY2(shown.text.startsWith(QStringLiteral("Cannot run ") + missing),
             qPrintable(shown.text));
    QVERIFY2(!shown.text.contains(QStringLiteral("Done.")), qPrintable(shown.text));
  }
};

QTEST_MAIN(SignInDialogTest)
#include "SignInDialogTest.moc"
