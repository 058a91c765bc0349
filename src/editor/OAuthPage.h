// The Sign-in page: how the relay is signed in to, the list's OAuth 2.0 client, and "Sign in…",
// which runs `orvex-admin oauth login` with the browser flow and shows what it says.
#pragma once

#include <QString>
#include <QWidget>
#include <functional>
#include <string>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace orvex {

class ChoiceBox;
class IniFile;

class OAuthPage final : public QWidget {
  Q_OBJECT

 public:
  explicit OAuthPage(QWidget* parent = nullptr);

  // Shows the keys of `source`; a value the operator leaves alone is written back as it was read.
  void Load(const IniFile& source);
  // Writes the keys the operator changed since Load.
  void Save(IniFile& ini) const;

  ChoiceBox* SmtpAuthMethod;
  ChoiceBox* Provider;
  QLineEdit* ClientId;
  QLineEdit* ClientSecret;
  QLineEdit* Tenant;
  QLineEdit* AuthorizeUrl;
  QLineEdit* TokenUrl;
  QLineEdit* DeviceUrl;
  QLineEdit* Scope;
  QPushButton* SignIn;
  ChoiceBox* Preset;  // the providers of store/ProviderPresets.h, in their order
  QPushButton* FillIn;

 signals:
  void Changed();
  // "Fill in servers" with the preset of this index (ProviderPresets()).
  void PresetChosen(int index);

 private:
  struct Loaded {
    long long smtpAuthMethod = 0, provider = 2;
    std::string smtpAuthText, providerText;
    QString clientId, clientSecret, tenant, authorizeUrl, tokenUrl, deviceUrl, scope;
  };
  Loaded loaded_;
};

// Runs `orvex-admin --dir DIR oauth login LIST --flow browser` beside the editor's program file
// (or from PATH) in a dialog that shows its output as it comes; closing the dialog ends it.
// `program`, when given, is run instead of that orvex-admin (tests give a stand-in).
void RunSignInDialog(QWidget* parent, const std::string& programDirectory, const std::string& list,
                     const QString& program = {});

}  // namespace orvex
