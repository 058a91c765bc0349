// Start-up of the editor: the interlock with the service and with a running editor, and the
// hand-over that brings the running editor's window to the front.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/InstanceLock.h"

class QLocalServer;

namespace orvex {

// The local socket name of the editor that holds `lockPath`; editors of other program
// directories never meet.
QString HandoverName(const std::string& lockPath);

// Asks the editor listening under `name` to bring its window to the front; false when no one
// answered.
bool AskRunningEditorToShow(const QString& name);

// Listens under `name` and calls `show` for each request of a second editor.
class HandoverServer final : public QObject {
  Q_OBJECT

 public:
  HandoverServer(const QString& name, std::function<void()> show, QObject* parent = nullptr);
  ~HandoverServer() override;
  bool Listening() const;

 private:
  QLocalServer* server_;
  std::function<void()> show_;
};

// The box shown when the service runs: caption "ORVEX", this text, an OK button.
inline constexpr const char* kServiceRunningText =
    "Mailing list manager is currently active\r\nMailing list editor cannot start";

enum class StartDecision { RefuseBesideService, HandOver, Run };
struct StartCheck {
  StartDecision decision;
  std::optional<InstanceLock> lock;  // held for the whole run when the decision is Run
};
// The interlock: never beside the service, never beside a second editor.
StartCheck CheckStart(const std::string& programDirectory);

// The whole program: returns its exit code.
int RunEditor(int argc, char** argv);

}  // namespace orvex
