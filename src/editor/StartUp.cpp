// The editor refuses to run beside the service, and a second editor hands over to the first.
#include "editor/StartUp.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMessageBox>

#include "editor/MessageBoxes.h"
#include "editor/OrvexEditorForm.h"
#include "platform/DateTime.h"
#include "platform/DialUpBackend.h"
#include "platform/InstanceLock.h"
#include "platform/ProgramDirectory.h"

namespace orvex {
namespace {

constexpr char kShowRequest[] = "show\n";
constexpr int kHandoverMilliseconds = 2000;

}  // namespace

QString HandoverName(const std::string& lockPath) {
  const QByteArray digest =
      QCryptographicHash::hash(QByteArray::fromStdString(lockPath), QCryptographicHash::Sha1);
  return QStringLiteral("orvex-editor-") + QString::fromLatin1(digest.toHex().left(16));
}

bool AskRunningEditorToShow(const QString& name) {
  QLocalSocket socket;
  socket.connectToServer(name);
  if (!socket.waitForConnected(kHandoverMilliseconds)) return false;
  socket.write(kShowRequest);
  const bool sent = socket.waitForBytesWritten(kHandoverMilliseconds);
  socket.disconnectFromServer();
  return sent;
}

HandoverServer::HandoverServer(const QString& name, std::function<void()> show, QObject* parent)
    : QObject(parent), server_(new QLocalServer(this)), show_(std::move(show)) {
  // Only the holder of the editor lock gets here, so a socket left by a crashed editor is stale.
  QLocalServer::removeServer(name);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  server_->listen(name);
  connect(server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
      connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
        // Whatever a second editor sends, it wants the window; read a bounded amount only.
        socket->read(64);
        show_();
        socket->disconnectFromServer();
      });
      connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    }
  });
}

HandoverServer::~HandoverServer() = default;

bool HandoverServer::Listening() const {
  return server_->isListening();
}

StartCheck CheckStart(const std::string& programDirectory) {
  if (InstanceLock::IsHeld(programDirectory + kServiceLockName))
    return {StartDecision::RefuseBesideService, {}};
  auto lock = InstanceLock::TryAcquire(programDirectory + kEditorLockName);
  if (!lock) return {StartDecision::HandOver, {}};
  return {StartDecision::Run, std::move(lock)};
}

int RunEditor(int argc, char** argv) {
  QApplication application(argc, argv);
  UseUserLocaleForDatesAndCharacters();
  const std::string programDirectory = ProgramDirectory(argc > 0 ? argv[0] : "");

  StartCheck check = CheckStart(programDirectory);
  if (check.decision == StartDecision::RefuseBesideService) {
    QString text = QString::fromLatin1(kServiceRunningText);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("ORVEX"), text, QMessageBox::Ok);
    box.exec();
    return 0;
  }
  const QString handover = HandoverName(programDirectory + kEditorLockName);
  if (check.decision == StartDecision::HandOver) {
    AskRunningEditorToShow(handover);
    return 0;
  }

  ScreenMessageBoxes boxes;
  SystemClock clock;
  const auto dialUp = MakeNetworkManagerBackend();
  TOrvexEditorForm window(programDirectory, boxes, clock, *dialUp);
  HandoverServer server(handover, [&window] { window.BringToFront(); });
  window.show();
  return application.exec();
}

}  // namespace orvex
