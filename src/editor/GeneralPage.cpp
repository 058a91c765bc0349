// The general page: its layout, the marking of changes, and its keys of section General.
#include "editor/GeneralPage.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "crypto/Passwords.h"
#include "editor/BoundedSpinBox.h"
#include "editor/ChoiceBox.h"
#include "editor/Pop3ServersGroup.h"
#include "editor/SecurityChoices.h"
#include "editor/SettingsText.h"
#include "platform/Error.h"
#include "platform/Text.h"
#include "store/IniFile.h"
#include "store/ProviderPresets.h"

namespace orvex {

GeneralPage::GeneralPage(MessageBoxes& boxes, const ActionRunner& run, QWidget* parent)
    : QWidget(parent) {
  setObjectName(QStringLiteral("GeneralPage"));
  auto* columns = new QHBoxLayout(this);
  columns->setContentsMargins(6, 6, 6, 6);
  // The names and addresses get the wider column; the server fields hold short texts.
  columns->addWidget(CreateLeftColumn());
  auto* right = new QVBoxLayout;
  right->setContentsMargins(0, 0, 0, 0);
  right->addWidget(CreateSmtpGroup());
  pop3_ = new Pop3ServersGroup(boxes, run, this);
  right->addWidget(pop3_, 1);
  columns->addLayout(right, 1);
  ConnectChanges();
}

void GeneralPage::SetPop3Dialog(TForm3* dialog) {
  pop3_->SetDialog(dialog);
}

// Names and addresses, policies, non-subscribers' posts and the digest type.
QWidget* GeneralPage::CreateLeftColumn() {
  auto* column = new QWidget(this);
  column->setFixedWidth(244);
  auto* left = new QVBoxLayout(column);
  left->setContentsMargins(0, 0, 0, 0);
  left->addLayout(CreateNameFields(column));
  left->addLayout(CreatePolicies(column));
  left->addWidget(RadioGroup(QStringLiteral(" Non-subscibers posts "), "NSAction",
                             {QStringLiteral("Send a warning"), QStringLiteral("Send to moderator"),
                              QStringLiteral("Post the message to the list")},
                             nsAction_, column));
  left->addWidget(RadioGroup(QStringLiteral(" Digest type "), "Digest",
                             {QStringLiteral("text/plain"), QStringLiteral("multipart/alternative"),
                              QStringLiteral("multipart/digest")},
                             digest_, column));
  left->addStretch();
  return column;
}

QLayout* GeneralPage::CreateNameFields(QWidget* parent) {
  auto* names = new QFormLayout;
  names->setVerticalSpacing(3);
  listName_.edit = NamedEdit("ListName", parent);
  address_.edit = NamedEdit("Address", parent);
  control_.edit = NamedEdit("Control", parent);
  moderator_.edit = NamedEdit("Moderator", parent);
  names->addRow(QStringLiteral("List name"), listName_.edit);
  names->addRow(QStringLiteral("List address"), address_.edit);
  names->addRow(QStringLiteral("Control address"), control_.edit);
  names->addRow(QStringLiteral("Moderator"), moderator_.edit);
  return names;
}

QLayout* GeneralPage::CreatePolicies(QWidget* parent) {
  auto* policies = new QGridLayout;
  policies->setVerticalSpacing(2);
  Confirm = NamedCheck(QStringLiteral("Confirm subscription"), "Confirm", parent);
  ConfirmInterval = NamedSpin(0, 100, "ConfirmInterval", parent);
  ModSS = NamedCheck(QStringLiteral("Moderated subscription"), "ModSS", parent);
  Moderated = NamedCheck(QStringLiteral("Moderated list"), "Moderated", parent);
  Author = NamedCheck(QStringLiteral("Post to author"), "Author", parent);
  CheckInterval = NamedSpin(0, 100, "CheckInterval", parent);
  Keep = NamedCheck(QStringLiteral("Keep sent messages"), "Keep", parent);
  Keep->hide();  // kept in the file for the editor only, never shown
  KeepDays = NamedSpin(0, 100, "KeepDays", parent);
  keepDaysLabel_ = new QLabel(QStringLiteral("days"), parent);
  keepDaysLabel_->setObjectName(QStringLiteral("KeepDaysLabel"));
  policies->addWidget(Confirm, 0, 0, 1, 2);
  policies->addWidget(new QLabel(QStringLiteral("Wait for confirmation(days)"), parent), 1, 0);
  policies->addWidget(ConfirmInterval, 1, 1);
  policies->addWidget(ModSS, 2, 0, 1, 2);
  policies->addWidget(Moderated, 3, 0, 1, 2);
  policies->addWidget(Author, 4, 0, 1, 2);
  policies->addWidget(new QLabel(QStringLiteral("Checking interval (min)"), parent), 5, 0);
  policies->addWidget(CheckInterval, 5, 1);
  auto* keepRow = new QHBoxLayout;
  keepRow->addWidget(Keep);
  keepRow->addWidget(KeepDays);
  keepRow->addWidget(keepDaysLabel_);
  keepRow->addStretch();
  policies->addLayout(keepRow, 6, 0, 1, 2);
  // The headers, bounce handling and From rewriting of list mail.
  ListHeaders = NamedCheck(QStringLiteral("Add list headers"), "ListHeaders", parent);
  BounceLimit = NamedSpin(0, 100, "BounceLimit", parent);
  BounceLimit->setToolTip(QStringLiteral("0: members are never paused for bounces"));
  FromRewrite = new ChoiceBox(
      {QStringLiteral("Never"), QStringLiteral("If DMARC requires it"), QStringLiteral("Always")},
      parent);
  FromRewrite->setObjectName(QStringLiteral("FromRewrite"));
  policies->addWidget(ListHeaders, 7, 0, 1, 2);
  policies->addWidget(new QLabel(QStringLiteral("Bounces before pause"), parent), 8, 0);
  policies->addWidget(BounceLimit, 8, 1);
  // The choice's texts are longer than a number box: give it the whole row beside its label.
  auto* rewriteRow = new QHBoxLayout;
  rewriteRow->addWidget(new QLabel(QStringLiteral("Rewrite From"), parent));
  rewriteRow->addWidget(FromRewrite, 1);
  policies->addLayout(rewriteRow, 9, 0, 1, 2);
  return policies;
}

QGroupBox* GeneralPage::CreateSmtpGroup() {
  auto* smtp = new QGroupBox(QStringLiteral(" SMTP Server "), this);
  smtp->setObjectName(QStringLiteral("SMTPGroup"));
  auto* smtpForm = new QFormLayout(smtp);
  smtpForm->setVerticalSpacing(3);
  smtpForm->setContentsMargins(6, 4, 6, 4);
  smtpHost_.edit = NamedEdit("SMTPHost", smtp);
  // Every port a provider uses (25, 465, 587, ...) must be possible.
  SMTPPort = NamedSpin(1, 65535, "SMTPPort", smtp);
  SMTPSecurity = new ChoiceBox(SecurityChoices(), smtp);
  SMTPSecurity->setObjectName(QStringLiteral("SMTPSecurity"));
  smtpFingerprint_.edit = NamedEdit("SMTPFingerprint", smtp);
  smtpFingerprint_.edit->setPlaceholderText(QStringLiteral("SHA-256, optional"));
  from_.edit = NamedEdit("From", smtp);
  smtpUser_.edit = NamedEdit("SMTPUser", smtp);
  smtpPass_.edit = NamedEdit("SMTPPass", smtp);
  smtpPass_.edit->setEchoMode(QLineEdit::Password);
  smtpPass_.edit->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
  // At most this many recipients in one transaction, and in one day; 0 sets no limit.
  MaxRecipients = NamedSpin(0, 100000, "MaxRecipients", smtp);
  MaxRecipientsPerDay = NamedSpin(0, 10000000, "MaxRecipientsPerDay", smtp);
  for (BoundedSpinBox* spin : {MaxRecipients, MaxRecipientsPerDay})
    spin->setToolTip(QStringLiteral("0: no limit"));
  const std::pair<const char*, QWidget*> rows[] = {{"Host", smtpHost_.edit},
                                                   {"Port", SMTPPort},
                                                   {"Security", SMTPSecurity},
                                                   {"Fingerprint", smtpFingerprint_.edit},
                                                   {"From address", from_.edit},
                                                   {"User ID", smtpUser_.edit},
                                                   {"Password", smtpPass_.edit},
                                                   {"Recipients/mail", MaxRecipients},
                                                   {"Recipients/day", MaxRecipientsPerDay}};
  for (const auto& [label, field] : rows) {
    field->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    smtpForm->addRow(QLatin1String(label), field);
  }
  return smtp;
}

// Every change on this page marks the list changed; loading clears the mark at its end.
void GeneralPage::ConnectChanges() {
  for (TextField* field : {&listName_, &address_, &control_, &moderator_, &from_, &smtpHost_,
                           &smtpUser_, &smtpPass_, &smtpFingerprint_})
    connect(field->edit, &QLineEdit::textChanged, this, &GeneralPage::Changed);
  for (QCheckBox* box : {Confirm, ModSS, Moderated, Author, ListHeaders})
    connect(box, &QCheckBox::clicked, this, &GeneralPage::Changed);
  connect(FromRewrite, &ChoiceBox::Chosen, this, &GeneralPage::Changed);
  connect(SMTPSecurity, &ChoiceBox::Chosen, this, [this](int choice) {
    if (auto port = SuggestedPort(MailService::Smtp, choice, SMTPPort->StoredValue()))
      SMTPPort->setValue(*port);
    emit Changed();
  });
  connect(Keep, &QCheckBox::clicked, this, [this] {
    ApplyKeepRule();
    emit Changed();
  });
  for (BoundedSpinBox* spin : {ConfirmInterval, CheckInterval, KeepDays, SMTPPort, MaxRecipients,
                               MaxRecipientsPerDay, BounceLimit})
    connect(spin, &QSpinBox::valueChanged, this, &GeneralPage::Changed);
  for (QButtonGroup* group : {nsAction_, digest_})
    connect(group, &QButtonGroup::buttonClicked, this, &GeneralPage::Changed);
  connect(pop3_, &Pop3ServersGroup::Changed, this, &GeneralPage::Changed);
}

void GeneralPage::ApplyKeepRule() {
  const bool shown = Keep->isChecked();
  KeepDays->setVisible(shown);
  keepDaysLabel_->setVisible(shown);
  emit Changed();
}

void GeneralPage::ApplyProviderPreset(const ProviderPreset& preset) {
  // The provider's relay takes mail only from the account: the list address.
  const std::string account(Trim(address_.Bytes(), Blanks::ControlsButNul));
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
  pop3_->SetServers(std::move(servers));
}

QString GeneralPage::ListName() const {
  return listName_.edit->text();
}

void GeneralPage::Load(const IniFile& source) {
  const auto text = [&](const char* key) { return source.ReadString(kGeneralSection, key, ""); };
  const auto number = [&](const char* key, long long def) {
    return source.ReadInteger(kGeneralSection, key, def);
  };
  const auto flag = [&](const char* key, bool def) {
    return source.ReadBool(kGeneralSection, key, def);
  };
  listName_.Fill(text("Name"));
  address_.Fill(text("Address"));
  control_.Fill(text("ControlAddress"));
  moderator_.Fill(text("Moderator"));
  from_.Fill(text("From"));
  smtpHost_.Fill(text("SMTPHOST"));
  smtpUser_.Fill(text("SMTPUser"));
  smtpPass_.Fill(DecipherPassword(text("SMTPPassword")));
  Confirm->setChecked(flag("Confirm subscription", true));
  ConfirmInterval->SetStoredValue(number("Days", 7));
  Moderated->setChecked(flag("Moderated", false));
  Author->setChecked(flag("Send to originator", false));
  ChooseButton(nsAction_, number("Nonsubscribers", 0));
  ChooseButton(digest_, number("Digest mode", 1) - 1);
  SMTPPort->SetStoredValue(number("SMTPPort", 25));
  CheckInterval->SetStoredValue(number("CheckInterval", 10));
  KeepDays->SetStoredValue(number("KeepDays", 10));
  Keep->setChecked(flag("Keep", false));
  ModSS->setChecked(flag("Moderate subscription", false));
  // Lists older than these keys show what the service assumes without them.
  SMTPSecurity->SetStoredValue(number("SmtpSecurity", 0));
  smtpFingerprint_.Fill(text("SmtpTlsFingerprint"));
  MaxRecipients->SetStoredValue(number("MaxRecipients", 0));
  MaxRecipientsPerDay->SetStoredValue(number("MaxRecipientsPerDay", 0));
  ListHeaders->setChecked(flag("ListHeaders", false));
  BounceLimit->SetStoredValue(number("BounceLimit", 0));
  FromRewrite->SetStoredValue(number("FromRewrite", 0));
  ApplyKeepRule();
  pop3_->Load(source);
}

void GeneralPage::CheckFingerprints() const {
  if (!IsCertificateFingerprint(Trim(smtpFingerprint_.Bytes(), Blanks::ControlsButNul)))
    throw Error(FingerprintRefusal(QStringLiteral("the SMTP server")).toStdString());
  pop3_->CheckFingerprints();
}

void GeneralPage::Save(IniFile& ini) const {
  const auto text = [&](const char* key, const std::string& value) {
    ini.WriteString(kGeneralSection, key, value);
  };
  const auto number = [&](const char* key, long long value) {
    ini.WriteInteger(kGeneralSection, key, value);
  };
  const auto flag = [&](const char* key, bool value) {
    ini.WriteBool(kGeneralSection, key, value);
  };
  text("Name", listName_.Bytes());
  text("Address", address_.Bytes());
  text("ControlAddress", control_.Bytes());
  text("Moderator", moderator_.Bytes());
  text("From", from_.Bytes());
  text("SMTPHOST", smtpHost_.Bytes());
  text("SMTPUser", smtpUser_.Bytes());
  text("SMTPPassword", EncipherPassword(smtpPass_.Bytes()));
  flag("Confirm subscription", Confirm->isChecked());
  number("Days", ConfirmInterval->StoredValue());
  flag("Moderated", Moderated->isChecked());
  flag("Send to originator", Author->isChecked());
  number("Nonsubscribers", nsAction_->checkedId());
  number("Digest mode", digest_->checkedId() + 1);
  number("SMTPPort", SMTPPort->StoredValue());
  number("CheckInterval", CheckInterval->StoredValue());
  number("KeepDays", KeepDays->StoredValue());
  flag("Keep", Keep->isChecked());
  flag("Moderate Subscription", ModSS->isChecked());
  pop3_->Save(ini);
  number("SmtpSecurity", SMTPSecurity->StoredValue());
  text("SmtpTlsFingerprint", std::string(Trim(smtpFingerprint_.Bytes(), Blanks::ControlsButNul)));
  number("MaxRecipients", MaxRecipients->StoredValue());
  number("MaxRecipientsPerDay", MaxRecipientsPerDay->StoredValue());
  flag("ListHeaders", ListHeaders->isChecked());
  number("BounceLimit", BounceLimit->StoredValue());
  number("FromRewrite", FromRewrite->StoredValue());
}

}  // namespace orvex
