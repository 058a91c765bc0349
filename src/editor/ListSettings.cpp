// Moving a whole list between the window and its files, and the actions of the pages: POP3
// servers, notice templates and subscribers.
#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <algorithm>

#include "crypto/Passwords.h"
#include "editor/BoundedSpinBox.h"
#include "editor/ChoiceBox.h"
#include "editor/Dialogs.h"
#include "editor/MessageBoxes.h"
#include "editor/OAuthPage.h"
#include "editor/OrvexEditorForm.h"
#include "editor/Pop3ServerModel.h"
#include "editor/SubscriberModel.h"
#include "editor/TlsSettings.h"
#include "platform/Error.h"
#include "platform/FileSystem.h"
#include "store/IniFile.h"
#include "store/ProviderPresets.h"
#include "store/Settings.h"

namespace orvex {
namespace {

constexpr const char* kGeneral = "General";
// More mailboxes than any list has; a damaged count cannot make the load run without end.
constexpr long long kMaximumPop3Count = 1000;

void ChooseButton(QButtonGroup* group, long long index) {
  // An index below the buttons chooses none, one above them the last.
  const auto buttons = group->buttons();
  group->setExclusive(false);
  for (QAbstractButton* button : buttons) button->setChecked(false);
  group->setExclusive(true);
  if (index < 0) return;
  group->button(static_cast<int>(std::min<long long>(index, buttons.size() - 1)))->setChecked(true);
}

}  // namespace

void TOrvexEditorForm::FillText(TextField& field, std::string bytes) {
  field.edit->setText(DecodeText(bytes));
  field.stored = FieldText(std::move(bytes), field.edit->text());
}

std::string TOrvexEditorForm::TextOf(const TextField& field) const {
  return field.stored.BytesFor(field.edit->text());
}

void TOrvexEditorForm::ApplyKeepRule() {
  const bool shown = Keep->isChecked();
  KeepDays->setVisible(shown);
  keepDaysLabel_->setVisible(shown);
  NotSaved();
}

void TOrvexEditorForm::LoadListSettings(const IniFile& source) {
  filling_ = true;
  FillText(listName_, source.ReadString(kGeneral, "Name", ""));
  FillText(address_, source.ReadString(kGeneral, "Address", ""));
  FillText(control_, source.ReadString(kGeneral, "ControlAddress", ""));
  FillText(moderator_, source.ReadString(kGeneral, "Moderator", ""));
  FillText(from_, source.ReadString(kGeneral, "From", ""));
  FillText(smtpHost_, source.ReadString(kGeneral, "SMTPHOST", ""));
  FillText(smtpUser_, source.ReadString(kGeneral, "SMTPUser", ""));
  FillText(smtpPass_, DecipherPassword(source.ReadString(kGeneral, "SMTPPassword", "")));
  Confirm->setChecked(source.ReadBool(kGeneral, "Confirm subscription", true));
  ConfirmInterval->SetStoredValue(source.ReadInteger(kGeneral, "Days", 7));
  Moderated->setChecked(source.ReadBool(kGeneral, "Moderated", false));
  Author->setChecked(source.ReadBool(kGeneral, "Send to originator", false));
  ChooseButton(nsAction_, source.ReadInteger(kGeneral, "Nonsubscribers", 0));
  ChooseButton(digest_, source.ReadInteger(kGeneral, "Digest mode", 1) - 1);
  SMTPPort->SetStoredValue(source.ReadInteger(kGeneral, "SMTPPort", 25));
  CheckInterval->SetStoredValue(source.ReadInteger(kGeneral, "CheckInterval", 10));
  KeepDays->SetStoredValue(source.ReadInteger(kGeneral, "KeepDays", 10));
  Keep->setChecked(source.ReadBool(kGeneral, "Keep", false));
  ModSS->setChecked(source.ReadBool(kGeneral, "Moderate subscription", false));
  // Lists older than these keys show what the service assumes without them.
  SMTPSecurity->SetStoredValue(source.ReadInteger(kGeneral, "SmtpSecurity", 0));
  FillText(smtpFingerprint_, source.ReadString(kGeneral, "SmtpTlsFingerprint", ""));
  MaxRecipients->SetStoredValue(source.ReadInteger(kGeneral, "MaxRecipients", 0));
  MaxRecipientsPerDay->SetStoredValue(source.ReadInteger(kGeneral, "MaxRecipientsPerDay", 0));
  ListHeaders->setChecked(source.ReadBool(kGeneral, "ListHeaders", false));
  BounceLimit->SetStoredValue(source.ReadInteger(kGeneral, "BounceLimit", 0));
  FromRewrite->SetStoredValue(source.ReadInteger(kGeneral, "FromRewrite", 0));
  oauthPage_->Load(source);
  ApplyKeepRule();

  std::vector<Pop3Server> servers;
  const long long count = std::min(source.ReadInteger(kGeneral, "Pop3Count", 0), kMaximumPop3Count);
  for (long long n = 1; n <= count; ++n) {
    const std::string number = std::to_string(n);
    servers.push_back(
        {source.ReadString(kGeneral, "Pop3Host" + number, ""),
         source.ReadString(kGeneral, "Pop3Port" + number, "110"),
         source.ReadString(kGeneral, "Name" + number, ""),
         TrimBlanks(DecipherPassword(source.ReadString(kGeneral, "Password" + number, ""))),
         source.ReadInteger(kGeneral, "Pop3Security" + number, 0),
         source.ReadString(kGeneral, "Pop3TlsFingerprint" + number, ""),
         source.ReadString(kGeneral, "Pop3AuthMethod" + number, "")});
  }
  pop3Model_->SetServers(std::move(servers));

  for (int i = 0; i < kNoticeSlotCount; ++i) {
    const NoticeSlotInfo& info = kNoticeSlots[static_cast<std::size_t>(i)];
    NoticeSlot& slot = slots_[static_cast<std::size_t>(i)];
    const auto cut = [&](const char* key) {
      return source.ReadString(info.readSection, key, "").size() >= IniFile::kMaximumValueLength;
    };
    slot.text = NoticeValue(ReadNoticeTextForEditor(source, info.readSection), cut("Text"));
    slot.subject = info.hasSubject ? NoticeValue(source.ReadString(info.readSection, "Subject", ""),
                                                 cut("Subject"))
                                   : NoticeValue();
  }

  NameValueList lines;
  if (!currentListDir_.empty()) lines.LoadFromFile(currentListDir_ + "subscribers.ini");
  subscribers_->SetLines(std::move(lines));

  ShowPages(true);
  listSaved_ = true;
  filling_ = false;
  UpdateActions();
}

void TOrvexEditorForm::CheckFingerprints() const {
  if (!IsCertificateFingerprint(TrimBlanks(TextOf(smtpFingerprint_))))
    throw Error(FingerprintRefusal(QStringLiteral("the SMTP server")).toStdString());
  const auto& servers = pop3Model_->Servers();
  for (std::size_t i = 0; i < servers.size(); ++i)
    if (!IsCertificateFingerprint(TrimBlanks(servers[i].tlsFingerprint)))
      throw Error(
          FingerprintRefusal(
              QStringLiteral("POP3 server %1 (%2)").arg(i + 1).arg(DecodeText(servers[i].host)))
              .toStdString());
}

void TOrvexEditorForm::SaveListSettings() {
  // Refused before anything is written. The changes gather in memory and reach the file in one
  // replacement at Save(), so a kill or a full disk leaves the list all old or all new.
  CheckFingerprints();
  CreateDirectoryOnce(currentListDir_);
  IniFile ini(currentListDir_ + "maillist.ini");
  ini.WriteString(kGeneral, "Name", TextOf(listName_));
  ini.WriteString(kGeneral, "Address", TextOf(address_));
  ini.WriteString(kGeneral, "ControlAddress", TextOf(control_));
  ini.WriteString(kGeneral, "Moderator", TextOf(moderator_));
  ini.WriteString(kGeneral, "From", TextOf(from_));
  ini.WriteString(kGeneral, "SMTPHOST", TextOf(smtpHost_));
  ini.WriteString(kGeneral, "SMTPUser", TextOf(smtpUser_));
  ini.WriteString(kGeneral, "SMTPPassword", EncipherPassword(TextOf(smtpPass_)));
  ini.WriteBool(kGeneral, "Confirm subscription", Confirm->isChecked());
  ini.WriteInteger(kGeneral, "Days", ConfirmInterval->StoredValue());
  ini.WriteBool(kGeneral, "Moderated", Moderated->isChecked());
  ini.WriteBool(kGeneral, "Send to originator", Author->isChecked());
  ini.WriteInteger(kGeneral, "Nonsubscribers", nsAction_->checkedId());
  ini.WriteInteger(kGeneral, "Digest mode", digest_->checkedId() + 1);
  ini.WriteInteger(kGeneral, "SMTPPort", SMTPPort->StoredValue());
  ini.WriteInteger(kGeneral, "CheckInterval", CheckInterval->StoredValue());
  ini.WriteInteger(kGeneral, "KeepDays", KeepDays->StoredValue());
  ini.WriteBool(kGeneral, "Keep", Keep->isChecked());
  ini.WriteBool(kGeneral, "Moderate Subscription", ModSS->isChecked());
  const auto& servers = pop3Model_->Servers();
  ini.WriteInteger(kGeneral, "Pop3Count", static_cast<long long>(servers.size()));
  for (std::size_t i = 0; i < servers.size(); ++i) {
    const std::string number = std::to_string(i + 1);
    ini.WriteString(kGeneral, "Pop3Host" + number, servers[i].host);
    ini.WriteString(kGeneral, "Pop3Port" + number, servers[i].port);
    ini.WriteString(kGeneral, "Name" + number, servers[i].user);
    ini.WriteString(kGeneral, "Password" + number, EncipherPassword(servers[i].password));
    ini.WriteInteger(kGeneral, "Pop3Security" + number, servers[i].security);
    ini.WriteString(kGeneral, "Pop3TlsFingerprint" + number, TrimBlanks(servers[i].tlsFingerprint));
    // A server without one of its own must not keep the method of a server deleted before it.
    if (servers[i].authMethod.empty())
      ini.DeleteKey(kGeneral, "Pop3AuthMethod" + number);
    else
      ini.WriteString(kGeneral, "Pop3AuthMethod" + number, servers[i].authMethod);
  }
  ini.WriteInteger(kGeneral, "SmtpSecurity", SMTPSecurity->StoredValue());
  ini.WriteString(kGeneral, "SmtpTlsFingerprint", TrimBlanks(TextOf(smtpFingerprint_)));
  ini.WriteInteger(kGeneral, "MaxRecipients", MaxRecipients->StoredValue());
  ini.WriteInteger(kGeneral, "MaxRecipientsPerDay", MaxRecipientsPerDay->StoredValue());
  ini.WriteBool(kGeneral, "ListHeaders", ListHeaders->isChecked());
  ini.WriteInteger(kGeneral, "BounceLimit", BounceLimit->StoredValue());
  ini.WriteInteger(kGeneral, "FromRewrite", FromRewrite->StoredValue());
  oauthPage_->Save(ini);
  for (int index : kNoticeWriteOrder) {
    const NoticeSlotInfo& info = kNoticeSlots[static_cast<std::size_t>(index)];
    const NoticeSlot& slot = slots_[static_cast<std::size_t>(index)];
    if (!slot.subject.KeepStored())
      ini.WriteString(info.writeSection, "Subject",
                      info.hasSubject ? slot.subject.Bytes() : std::string());
    if (!slot.text.KeepStored())
      WriteNoticeTextForEditor(ini, info.writeSection, slot.text.Bytes());
  }
  ini.Save();
  ReplaceFileAtomically(currentListDir_ + "subscribers.ini", subscribers_->Lines().Text(),
                        FileMode::Private);
  listSaved_ = true;
  filling_ = false;
  listIsNew_ = false;
  UpdateActions();
}

// POP3 servers.

void TOrvexEditorForm::SignInList() {
  if (currentListDir_.empty() || listIsNew_ || !listSaved_) {
    boxes_.Show(this, BoxKind::Warning,
                QStringLiteral("Save the list first: the sign-in reads its saved settings."),
                BoxButtons::Ok);
    return;
  }
  std::string list = currentListDir_;
  while (!list.empty() && list.back() == '/') list.pop_back();
  list = list.substr(list.rfind('/') + 1);
  RunSignInDialog(this, programDirectory_, list);
}

void TOrvexEditorForm::FillInProviderServers(int index) {
  const ProviderPreset& preset = ProviderPresets()[static_cast<std::size_t>(index)];
  const QString title = QString::fromLatin1(preset.title);
  if (boxes_.Show(this, BoxKind::Confirmation,
                  QStringLiteral("Replace the SMTP and POP3 servers with those of %1?").arg(title),
                  BoxButtons::OkCancel) != BoxAnswer::Ok)
    return;
  // The provider's relay takes mail only from the account: the list address.
  const std::string account = TrimBlanks(TextOf(address_));
  const bool oauth = std::string_view(preset.authMethod) == "oauth2";
  smtpHost_.edit->setText(QString::fromLatin1(preset.smtpHost));
  SMTPPort->SetStoredValue(preset.smtpPort);
  SMTPSecurity->SetStoredValue(preset.smtpSecurity);
  smtpUser_.edit->setText(DecodeText(account));
  from_.edit->setText(DecodeText(account));
  FromRewrite->SetStoredValue(preset.fromRewrite);
  MaxRecipients->SetStoredValue(preset.maxRecipients);
  MaxRecipientsPerDay->SetStoredValue(preset.maxRecipientsPerDay);
  std::vector<Pop3Server> servers;
  if (*preset.pop3Host != '\0')
    servers.push_back({preset.pop3Host, std::to_string(preset.pop3Port), account, "",
                       preset.pop3Security, "", oauth ? "oauth2" : ""});
  pop3Model_->SetServers(std::move(servers));
  oauthPage_->SmtpAuthMethod->SetStoredValue(oauth ? 1 : 0);
  if (std::string_view(preset.oauthProvider) == "google")
    oauthPage_->Provider->SetStoredValue(0);
  else if (std::string_view(preset.oauthProvider) == "microsoft")
    oauthPage_->Provider->SetStoredValue(1);
  NotSaved();
}

int TOrvexEditorForm::SelectedPop3Row() const {
  const auto rows = POP3->selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.front().row();
}

void TOrvexEditorForm::UpdatePop3Buttons() {
  const bool selected = SelectedPop3Row() >= 0;
  pop3Edit_->setEnabled(selected);
  pop3Delete_->setEnabled(selected);
}

void TOrvexEditorForm::AddPop3Server() {
  form3_->setWindowTitle(QStringLiteral("New POP3 server"));
  form3_->Port->SetStoredValue(110);
  form3_->Host->setText(QStringLiteral("host"));
  form3_->User->setText(QStringLiteral("user"));
  form3_->Password->setText(QStringLiteral("password"));
  form3_->Security->SetStoredValue(0);
  form3_->Fingerprint->clear();
  form3_->AuthMethod->SetStoredValue(0);
  if (form3_->exec() != QDialog::Accepted) return;
  pop3Model_->Append(
      {TrimBlanks(EncodeText(form3_->Host->text())), std::to_string(form3_->Port->StoredValue()),
       TrimBlanks(EncodeText(form3_->User->text())),
       TrimBlanks(EncodeText(form3_->Password->text())), form3_->Security->StoredValue(),
       TrimBlanks(EncodeText(form3_->Fingerprint->text())),
       form3_->AuthMethod->StoredValue() == 1 ? "oauth2" : ""});
  NotSaved();
}

void TOrvexEditorForm::EditPop3Server() {
  const int row = SelectedPop3Row();
  if (row < 0) return;
  const Pop3Server& server = pop3Model_->Servers()[static_cast<std::size_t>(row)];
  form3_->setWindowTitle(QStringLiteral("Edit POP3 server parameters"));
  bool whole = false;
  const long long port = QString::fromStdString(server.port).toLongLong(&whole);
  form3_->Port->SetStoredValue(whole ? port : 110);
  // A value the operator leaves alone keeps its bytes.
  auto show = [](QLineEdit* edit, const std::string& bytes) {
    edit->setText(DecodeText(bytes));
    return FieldText(bytes, edit->text());
  };
  const FieldText host = show(form3_->Host, server.host);
  const FieldText user = show(form3_->User, server.user);
  const FieldText password = show(form3_->Password, server.password);
  const FieldText fingerprint = show(form3_->Fingerprint, server.tlsFingerprint);
  form3_->Security->SetStoredValue(server.security);
  const long long method = AuthMethodChoice(server.authMethod);
  form3_->AuthMethod->SetStoredValue(method);
  if (form3_->exec() != QDialog::Accepted) return;
  const long long chosen = form3_->AuthMethod->StoredValue();
  pop3Model_->Replace(
      row,
      {TrimBlanks(host.BytesFor(form3_->Host->text())), std::to_string(form3_->Port->StoredValue()),
       TrimBlanks(user.BytesFor(form3_->User->text())),
       TrimBlanks(password.BytesFor(form3_->Password->text())), form3_->Security->StoredValue(),
       TrimBlanks(fingerprint.BytesFor(form3_->Fingerprint->text())),
       chosen == method ? server.authMethod : AuthMethodText(chosen, server.authMethod)});
  NotSaved();
}

void TOrvexEditorForm::DeletePop3Server() {
  const int row = SelectedPop3Row();
  if (row < 0) return;
  if (boxes_.Show(this, BoxKind::Confirmation, QStringLiteral("Delete selected host?"),
                  BoxButtons::OkCancel) != BoxAnswer::Ok)
    return;
  pop3Model_->Remove(row);
  NotSaved();
}

// Templates.

void TOrvexEditorForm::ShowChosenSlot() {
  filling_ = true;
  const int index = ComboBox1->currentIndex();
  if (index < 0 || index >= kNoticeSlotCount) {
    subjectLabel_->hide();
    Subject->hide();
    Template->hide();
    Template->clear();
    filling_ = false;
    return;
  }
  NoticeSlot& slot = slots_[static_cast<std::size_t>(index)];
  const bool hasSubject = kNoticeSlots[static_cast<std::size_t>(index)].hasSubject;
  subjectLabel_->setVisible(hasSubject);
  Subject->setVisible(hasSubject);
  Template->show();
  Template->setPlainText(slot.text.Current());
  slot.text.SetBaseline(Template->toPlainText());
  if (hasSubject) {
    Subject->setText(slot.subject.Current());
    slot.subject.SetBaseline(Subject->text());
  }
  filling_ = false;
}

void TOrvexEditorForm::TemplateFieldChanged() {
  if (filling_) return;
  const int index = ComboBox1->currentIndex();
  if (index < 0 || index >= kNoticeSlotCount) return;
  NoticeSlot& slot = slots_[static_cast<std::size_t>(index)];
  slot.text.SetEdited(Template->toPlainText());
  if (kNoticeSlots[static_cast<std::size_t>(index)].hasSubject)
    slot.subject.SetEdited(Subject->text());
  listSaved_ = false;
  UpdateActions();
}

std::unique_ptr<QMenu> TOrvexEditorForm::CreateEditMenu(QWidget* field) {
  auto menu = std::make_unique<QMenu>();
  auto* line = qobject_cast<QLineEdit*>(field);
  auto* text = qobject_cast<QPlainTextEdit*>(field);
  if (line == nullptr && text == nullptr) return menu;
  auto add = [&](const QString& caption, const char* name, auto&& action) {
    QAction* item = menu->addAction(caption);
    item->setObjectName(QLatin1String(name));
    connect(item, &QAction::triggered, field, action);
  };
  add(QStringLiteral("&Undo"), "Undo", [line, text] { line ? line->undo() : text->undo(); });
  menu->addSeparator();
  add(QStringLiteral("Cu&t"), "Cut", [line, text] { line ? line->cut() : text->cut(); });
  add(QStringLiteral("&Copy"), "Copy", [line, text] { line ? line->copy() : text->copy(); });
  add(QStringLiteral("&Paste"), "Paste", [line, text] { line ? line->paste() : text->paste(); });
  menu->addSeparator();
  static const char* const kPlaceholders[] = {"{LISTNAME}",  "{LISTADDRESS}", "{CONTROLADDRESS}",
                                              "{MODERATOR}", "{CONFIRMCODE}", "{PASSWORD}",
                                              "{ADDRESS}"};
  for (const char* placeholder : kPlaceholders) {
    const QString value = QLatin1String(placeholder);
    // Inserting replaces the selection, like typing, and goes through the field's own change.
    add(QStringLiteral("Insert ") + value, placeholder,
        [line, text, value] { line ? line->insert(value) : text->insertPlainText(value); });
  }
  return menu;
}

// Subscribers.

int TOrvexEditorForm::SelectedSubscriberRow() const {
  const auto rows = SSList->selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.front().row();
}

void TOrvexEditorForm::SubscriberSelectionChanged() {
  const int row = SelectedSubscriberRow();
  ssDelete_->setEnabled(row >= 0);
  const auto flags = row >= 0 ? subscribers_->Flags(row) : std::nullopt;
  // A line without items has no flags to switch.
  for (QPushButton* button : {ssDigest_, ssPause_, ssDisable_})
    button->setEnabled(flags.has_value());
  const std::string letters = flags.value_or(std::string());
  auto has = [&](char letter) { return letters.find(letter) != std::string::npos; };
  ssDigest_->setText(has('d') ? QStringLiteral("Digest off") : QStringLiteral("Digest on"));
  ssPause_->setText(has('p') ? QStringLiteral("Resume") : QStringLiteral("Pause"));
  ssDisable_->setText(has('b') ? QStringLiteral("Enable") : QStringLiteral("Disable"));
}

void TOrvexEditorForm::NewSubscriber() {
  if (form4_->exec() != QDialog::Accepted) return;
  const std::string address = EncodeText(form4_->Address->text());
  const int existing = subscribers_->RowOf(address);
  if (existing >= 0) {
    SSList->selectRow(existing);
    SubscriberSelectionChanged();
    return;
  }
  subscribers_->Add(address, TrimBlanks(EncodeText(form4_->Password->text())));
  listSaved_ = false;
  SubscriberSelectionChanged();
}

void TOrvexEditorForm::DeleteSubscriber() {
  const int row = SelectedSubscriberRow();
  if (row < 0) return;
  if (boxes_.Show(this, BoxKind::Confirmation, QStringLiteral("Delete selected subscriber?"),
                  BoxButtons::OkCancel) != BoxAnswer::Ok)
    return;
  subscribers_->Remove(row);
  SubscriberSelectionChanged();
  NotSaved();
}

void TOrvexEditorForm::ToggleSubscriberFlag(char letter) {
  const int row = SelectedSubscriberRow();
  if (row < 0) return;
  subscribers_->ToggleFlag(row, letter);
  SubscriberSelectionChanged();
  NotSaved();
}

void TOrvexEditorForm::FindSubscriber() {
  const QModelIndex focused = SSList->currentIndex();
  const int row = subscribers_->Find(Find->text(), focused.isValid() ? focused.row() + 1 : 0);
  if (row < 0) return;
  const QModelIndex match = subscribers_->index(row, SubscriberModel::kAddress);
  SSList->setCurrentIndex(match);
  SSList->selectRow(row);
  SSList->scrollTo(match, QAbstractItemView::EnsureVisible);
}

}  // namespace orvex
