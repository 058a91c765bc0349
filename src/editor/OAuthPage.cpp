// The Sign-in page and the dialog around `orvex-admin oauth login`.
#include "editor/OAuthPage.h"

#include <QCoreApplication>
#include <QDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QVBoxLayout>

#include "crypto/Passwords.h"
#include "editor/ChoiceBox.h"
#include "editor/SettingsText.h"
#include "platform/Text.h"
#include "store/IniFile.h"
#include "store/ProviderPresets.h"

namespace orvex {
namespace {

constexpr const char* kGeneral = "General";
const char* const kProviders[] = {"google", "microsoft", "custom"};

long long MethodChoice(const std::string& text) {
  const std::string_view t = Trim(text, Blanks::Spaces);
  if (t.empty() || EqualsIgnoreCase(t, "password")) return 0;
  return EqualsIgnoreCase(t, "oauth2") ? 1 : -1;
}

long long ProviderChoice(const std::string& text) {
  const std::string_view t = Trim(text, Blanks::Spaces);
  if (t.empty()) return 2;  // custom, as the service takes an absent key
  for (long long i = 0; i < 3; ++i)
    if (EqualsIgnoreCase(t, kProviders[i])) return i;
  return -1;
}

QLineEdit* Field(const char* name, QWidget* parent, const char* placeholder = nullptr) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(name));
  if (placeholder != nullptr) edit->setPlaceholderText(QString::fromLatin1(placeholder));
  return edit;
}

}  // namespace

OAuthPage::OAuthPage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("SignInPage"));
  SmtpAuthMethod =
      new ChoiceBox({QStringLiteral("Password"), QStringLiteral("OAuth 2.0 token")}, this);
  SmtpAuthMethod->setObjectName(QStringLiteral("SmtpAuthMethod"));
  Provider = new ChoiceBox(
      {QStringLiteral("Google"), QStringLiteral("Microsoft"), QStringLiteral("Custom")}, this);
  Provider->setObjectName(QStringLiteral("OAuthProvider"));
  ClientId = Field("OAuthClientId", this);
  ClientSecret = Field("OAuthClientSecret", this, "where the provider gave one");
  ClientSecret->setEchoMode(QLineEdit::Password);
  Tenant = Field("OAuthTenant", this, "common");
  AuthorizeUrl = Field("OAuthAuthorizeUrl", this, "the provider's");
  TokenUrl = Field("OAuthTokenUrl", this, "the provider's");
  DeviceUrl = Field("OAuthDeviceUrl", this, "the provider's");
  Scope = Field("OAuthScope", this, "the provider's");
  SignIn = new QPushButton(QStringLiteral("Sign in…"), this);
  SignIn->setObjectName(QStringLiteral("SignIn"));
  SignIn->setToolTip(
      QStringLiteral("Signs the list's OAuth 2.0 account in through your browser (save first)"));

  QStringList presets;
  for (const ProviderPreset& preset : ProviderPresets())
    presets << QString::fromLatin1(preset.title);
  Preset = new ChoiceBox(presets, this);
  Preset->setObjectName(QStringLiteral("ProviderPreset"));
  Preset->SetStoredValue(-1);
  FillIn = new QPushButton(QStringLiteral("Fill in servers"), this);
  FillIn->setObjectName(QStringLiteral("FillInServers"));
  FillIn->setToolTip(QStringLiteral(
      "Replaces the SMTP and POP3 servers with the provider's, with the list address as the "
      "account, and sets its sign-in, From rewriting and recipient limits"));

  auto* presetRow = new QHBoxLayout;
  presetRow->addWidget(Preset, 1);
  presetRow->addWidget(FillIn);
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Provider preset"), presetRow);
  form->addRow(QStringLiteral("SMTP sign-in"), SmtpAuthMethod);
  form->addRow(QStringLiteral("Provider"), Provider);
  form->addRow(QStringLiteral("Client id"), ClientId);
  form->addRow(QStringLiteral("Client secret"), ClientSecret);
  form->addRow(QStringLiteral("Tenant (Microsoft)"), Tenant);
  form->addRow(QStringLiteral("Authorize URL"), AuthorizeUrl);
  form->addRow(QStringLiteral("Token URL"), TokenUrl);
  form->addRow(QStringLiteral("Device URL"), DeviceUrl);
  form->addRow(QStringLiteral("Scope"), Scope);
  auto* note = new QLabel(
      QStringLiteral("POP3 servers choose their sign-in in their own dialog. The tokens are kept "
                     "in the list's oauth.ini."),
      this);
  note->setWordWrap(true);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(note);
  auto* row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(SignIn);
  layout->addLayout(row);
  layout->addStretch();

  connect(FillIn, &QPushButton::clicked, this, [this] {
    const long long index = Preset->StoredValue();
    if (index >= 0 && index < static_cast<long long>(ProviderPresets().size()))
      emit PresetChosen(static_cast<int>(index));
  });
  for (ChoiceBox* box : {SmtpAuthMethod, Provider})
    connect(box, &ChoiceBox::Chosen, this, [this] { emit Changed(); });
  for (QLineEdit* edit : {ClientId, ClientSecret, Tenant, AuthorizeUrl, TokenUrl, DeviceUrl, Scope})
    connect(edit, &QLineEdit::textEdited, this, [this] { emit Changed(); });
}

void OAuthPage::Load(const IniFile& source) {
  loaded_ = {};
  loaded_.smtpAuthText = source.ReadString(kGeneral, "SmtpAuthMethod", "");
  loaded_.smtpAuthMethod = MethodChoice(loaded_.smtpAuthText);
  loaded_.providerText = source.ReadString(kGeneral, "OAuthProvider", "");
  loaded_.provider = ProviderChoice(loaded_.providerText);
  SmtpAuthMethod->SetStoredValue(loaded_.smtpAuthMethod);
  Provider->SetStoredValue(loaded_.provider);
  const auto show = [&](QLineEdit* edit, QString& kept, const std::string& bytes) {
    kept = DecodeText(bytes);
    edit->setText(kept);
  };
  show(ClientId, loaded_.clientId, source.ReadString(kGeneral, "OAuthClientId", ""));
  show(ClientSecret, loaded_.clientSecret,
       DecipherPassword(source.ReadString(kGeneral, "OAuthClientSecret", "")));
  show(Tenant, loaded_.tenant, source.ReadString(kGeneral, "OAuthTenant", ""));
  show(AuthorizeUrl, loaded_.authorizeUrl, source.ReadString(kGeneral, "OAuthAuthorizeUrl", ""));
  show(TokenUrl, loaded_.tokenUrl, source.ReadString(kGeneral, "OAuthTokenUrl", ""));
  show(DeviceUrl, loaded_.deviceUrl, source.ReadString(kGeneral, "OAuthDeviceUrl", ""));
  show(Scope, loaded_.scope, source.ReadString(kGeneral, "OAuthScope", ""));
}

void OAuthPage::Save(IniFile& ini) const {
  if (SmtpAuthMethod->StoredValue() != loaded_.smtpAuthMethod)
    ini.WriteString(kGeneral, "SmtpAuthMethod",
                    SmtpAuthMethod->StoredValue() == 1 ? "oauth2" : "password");
  if (Provider->StoredValue() != loaded_.provider && Provider->StoredValue() >= 0)
    ini.WriteString(kGeneral, "OAuthProvider", kProviders[Provider->StoredValue()]);
  const auto save = [&](const char* key, const QLineEdit* edit, const QString& kept) {
    if (edit->text() != kept)
      ini.WriteString(kGeneral, key, std::string(Trim(EncodeText(edit->text()), Blanks::Spaces)));
  };
  save("OAuthClientId", ClientId, loaded_.clientId);
  if (ClientSecret->text() != loaded_.clientSecret)
    ini.WriteString(kGeneral, "OAuthClientSecret",
                    EncipherPassword(EncodeText(ClientSecret->text())));
  save("OAuthTenant", Tenant, loaded_.tenant);
  save("OAuthAuthorizeUrl", AuthorizeUrl, loaded_.authorizeUrl);
  save("OAuthTokenUrl", TokenUrl, loaded_.tokenUrl);
  save("OAuthDeviceUrl", DeviceUrl, loaded_.deviceUrl);
  save("OAuthScope", Scope, loaded_.scope);
}

void RunSignInDialog(QWidget* parent, const std::string& programDirectory, const std::string& list,
                     const QString& program) {
  QDialog dialog(parent);
  dialog.setObjectName(QStringLiteral("SignInDialog"));
  dialog.setWindowTitle(QStringLiteral("Sign in with OAuth 2.0"));
  auto* output = new QPlainTextEdit(&dialog);
  output->setObjectName(QStringLiteral("SignInOutput"));
  output->setReadOnly(true);
  output->setMinimumSize(520, 220);
  auto* close = new QPushButton(QStringLiteral("Close"), &dialog);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(output);
  layout->addWidget(close);
  QObject::connect(close, &QPushButton::clicked, &dialog, &QDialog::accept);

  // The editor's own orvex-admin when it lies beside it, else the one on PATH.
  const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/orvex-admin");
  const QString admin = !program.isEmpty()                 ? program
                        : QFileInfo(beside).isExecutable() ? beside
                                                           : QStringLiteral("orvex-admin");
  QProcess process;
  process.setProcessChannelMode(QProcess::MergedChannels);
  QObject::connect(&process, &QProcess::readyRead, &dialog, [&] {
    output->appendPlainText(QString::fromLocal8Bit(process.readAll()).trimmed());
  });
  QObject::connect(&process, &QProcess::finished, &dialog, [&](int status) {
    output->appendPlainText(status == 0 ? QStringLiteral("Done.")
                                        : QStringLiteral("The sign-in did not succeed."));
  });
  QObject::connect(&process, &QProcess::errorOccurred, &dialog, [&](QProcess::ProcessError) {
    if (process.state() == QProcess::NotRunning)
      output->appendPlainText(QStringLiteral("Cannot run ") + admin + QStringLiteral(": ") +
                              process.errorString());
  });
  process.start(admin,
                {QStringLiteral("--dir"), QString::fromStdString(programDirectory),
                 QStringLiteral("oauth"), QStringLiteral("login"), QString::fromStdString(list),
                 QStringLiteral("--flow"), QStringLiteral("browser")});
  dialog.exec();
  // Closed before the sign-in ended: the process this dialog started is ended.
  if (process.state() != QProcess::NotRunning) {
    process.terminate();
    if (!process.waitForFinished(3000)) process.kill();
    process.waitForFinished(3000);
  }
}

}  // namespace orvex
