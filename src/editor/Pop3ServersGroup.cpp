// The POP3 servers group: the table and its buttons, the server dialog, and the Pop3... keys.
#include "editor/Pop3ServersGroup.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>

#include "crypto/Passwords.h"
#include "editor/BoundedSpinBox.h"
#include "editor/ChoiceBox.h"
#include "editor/Dialogs.h"
#include "editor/MessageBoxes.h"
#include "editor/Pop3ServerModel.h"
#include "editor/SecurityChoices.h"
#include "platform/Error.h"
#include "platform/Text.h"
#include "store/IniFile.h"

namespace orvex {
namespace {

// More mailboxes than any list has; a damaged count cannot make the load run without end.
constexpr long long kMaximumPop3Count = 1000;

// What the server's fields keep: no blanks (codes 1 to 32) at either end.
std::string Trimmed(std::string_view text) {
  return std::string(Trim(text, Blanks::ControlsButNul));
}

}  // namespace

Pop3ServersGroup::Pop3ServersGroup(MessageBoxes& boxes, const ActionRunner& run, QWidget* parent)
    : QGroupBox(QStringLiteral("POP3 Servers"), parent), boxes_(boxes) {
  setObjectName(QStringLiteral("POP3Group"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 4, 6, 4);
  POP3 = ReportView("POP3", this);
  model_ = new Pop3ServerModel(this);
  POP3->setModel(model_);
  POP3->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  POP3->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Expanding);
  layout->addWidget(POP3);
  auto* buttons = new QHBoxLayout;
  auto* add = NamedButton(QStringLiteral("Add"), "Pop3Add", this);
  edit_ = NamedButton(QStringLiteral("Edit"), "Pop3Edit", this);
  delete_ = NamedButton(QStringLiteral("Delete"), "Pop3Delete", this);
  buttons->addWidget(add);
  buttons->addWidget(edit_);
  buttons->addWidget(delete_);
  layout->addLayout(buttons);

  connect(add, &QPushButton::clicked, this, [this, run] { run([this] { AddServer(); }); });
  connect(edit_, &QPushButton::clicked, this, [this, run] { run([this] { EditServer(); }); });
  connect(delete_, &QPushButton::clicked, this, [this, run] { run([this] { DeleteServer(); }); });
  connect(POP3, &QTableView::doubleClicked, this, [this, run] {
    if (SelectedRow() >= 0) run([this] { EditServer(); });
  });
  connect(POP3->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &Pop3ServersGroup::UpdateButtons);
  connect(model_, &QAbstractItemModel::modelReset, this, &Pop3ServersGroup::UpdateButtons);
  connect(model_, &QAbstractItemModel::rowsRemoved, this, &Pop3ServersGroup::UpdateButtons);
  UpdateButtons();
}

void Pop3ServersGroup::SetDialog(TForm3* dialog) {
  dialog_ = dialog;
  dialog_->SetAcceptCheck([this] {
    if (IsCertificateFingerprint(Trimmed(EncodeText(dialog_->Fingerprint->text())))) return true;
    boxes_.Show(dialog_, BoxKind::Error, FingerprintRefusal(QStringLiteral("this POP3 server")),
                BoxButtons::Ok);
    return false;
  });
}

void Pop3ServersGroup::Load(const IniFile& source) {
  std::vector<Pop3Server> servers;
  const long long count =
      std::min(source.ReadInteger(kGeneralSection, "Pop3Count", 0), kMaximumPop3Count);
  for (long long n = 1; n <= count; ++n) {
    const std::string number = std::to_string(n);
    const auto text = [&](const char* key, const char* def) {
      return source.ReadString(kGeneralSection, key + number, def);
    };
    servers.push_back({text("Pop3Host", ""), text("Pop3Port", "110"), text("Name", ""),
                       Trimmed(DecipherPassword(text("Password", ""))),
                       source.ReadInteger(kGeneralSection, "Pop3Security" + number, 0),
                       text("Pop3TlsFingerprint", ""), text("Pop3AuthMethod", "")});
  }
  model_->SetServers(std::move(servers));
  UpdateButtons();
}

void Pop3ServersGroup::CheckFingerprints() const {
  const auto& servers = model_->Servers();
  for (std::size_t i = 0; i < servers.size(); ++i)
    if (!IsCertificateFingerprint(Trimmed(servers[i].tlsFingerprint)))
      throw Error(
          FingerprintRefusal(
              QStringLiteral("POP3 server %1 (%2)").arg(i + 1).arg(DecodeText(servers[i].host)))
              .toStdString());
}

void Pop3ServersGroup::Save(IniFile& ini) const {
  const auto& servers = model_->Servers();
  ini.WriteInteger(kGeneralSection, "Pop3Count", static_cast<long long>(servers.size()));
  for (std::size_t i = 0; i < servers.size(); ++i) {
    const std::string number = std::to_string(i + 1);
    const auto text = [&](const char* key, const std::string& value) {
      ini.WriteString(kGeneralSection, key + number, value);
    };
    text("Pop3Host", servers[i].host);
    text("Pop3Port", servers[i].port);
    text("Name", servers[i].user);
    text("Password", EncipherPassword(servers[i].password));
    ini.WriteInteger(kGeneralSection, "Pop3Security" + number, servers[i].security);
    text("Pop3TlsFingerprint", Trimmed(servers[i].tlsFingerprint));
    // A server without one of its own must not keep the method of a server deleted before it.
    if (servers[i].authMethod.empty())
      ini.DeleteKey(kGeneralSection, "Pop3AuthMethod" + number);
    else
      text("Pop3AuthMethod", servers[i].authMethod);
  }
}

void Pop3ServersGroup::SetServers(std::vector<Pop3Server> servers) {
  model_->SetServers(std::move(servers));
  UpdateButtons();
  emit Changed();
}

int Pop3ServersGroup::SelectedRow() const {
  const auto rows = POP3->selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.front().row();
}

void Pop3ServersGroup::UpdateButtons() {
  const bool selected = SelectedRow() >= 0;
  edit_->setEnabled(selected);
  delete_->setEnabled(selected);
}

void Pop3ServersGroup::AddServer() {
  dialog_->setWindowTitle(QStringLiteral("New POP3 server"));
  dialog_->Port->SetStoredValue(110);
  dialog_->Host->setText(QStringLiteral("host"));
  dialog_->User->setText(QStringLiteral("user"));
  dialog_->Password->setText(QStringLiteral("password"));
  dialog_->Security->SetStoredValue(0);
  dialog_->Fingerprint->clear();
  dialog_->AuthMethod->SetStoredValue(0);
  if (dialog_->exec() != QDialog::Accepted) return;
  model_->Append(
      {Trimmed(EncodeText(dialog_->Host->text())), std::to_string(dialog_->Port->StoredValue()),
       Trimmed(EncodeText(dialog_->User->text())), Trimmed(EncodeText(dialog_->Password->text())),
       dialog_->Security->StoredValue(), Trimmed(EncodeText(dialog_->Fingerprint->text())),
       dialog_->AuthMethod->StoredValue() == 1 ? "oauth2" : ""});
  emit Changed();
}

void Pop3ServersGroup::EditServer() {
  const int row = SelectedRow();
  if (row < 0) return;
  const Pop3Server& server = model_->Servers()[static_cast<std::size_t>(row)];
  dialog_->setWindowTitle(QStringLiteral("Edit POP3 server parameters"));
  bool whole = false;
  const long long port = QString::fromStdString(server.port).toLongLong(&whole);
  dialog_->Port->SetStoredValue(whole ? port : 110);
  // A value the operator leaves alone keeps its bytes.
  auto show = [](QLineEdit* edit, const std::string& bytes) {
    edit->setText(DecodeText(bytes));
    return FieldText(bytes, edit->text());
  };
  const FieldText host = show(dialog_->Host, server.host);
  const FieldText user = show(dialog_->User, server.user);
  const FieldText password = show(dialog_->Password, server.password);
  const FieldText fingerprint = show(dialog_->Fingerprint, server.tlsFingerprint);
  dialog_->Security->SetStoredValue(server.security);
  const long long method = AuthMethodChoice(server.authMethod);
  dialog_->AuthMethod->SetStoredValue(method);
  if (dialog_->exec() != QDialog::Accepted) return;
  const long long chosen = dialog_->AuthMethod->StoredValue();
  model_->Replace(
      row,
      {Trimmed(host.BytesFor(dialog_->Host->text())), std::to_string(dialog_->Port->StoredValue()),
       Trimmed(user.BytesFor(dialog_->User->text())),
       Trimmed(password.BytesFor(dialog_->Password->text())), dialog_->Security->StoredValue(),
       Trimmed(fingerprint.BytesFor(dialog_->Fingerprint->text())),
       chosen == method ? server.authMethod : AuthMethodText(chosen, server.authMethod)});
  emit Changed();
}

void Pop3ServersGroup::DeleteServer() {
  const int row = SelectedRow();
  if (row < 0) return;
  if (boxes_.Show(window(), BoxKind::Confirmation, QStringLiteral("Delete selected host?"),
                  BoxButtons::OkCancel) != BoxAnswer::Ok)
    return;
  model_->Remove(row);
  emit Changed();
}

}  // namespace orvex
