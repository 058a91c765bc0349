// The general page of the main window: the list's names and addresses, its policies, the
// treatment of non-subscribers' posts, the digest type, the SMTP server and the POP3 servers (a
// group of their own), all kept in section General of maillist.ini.
#pragma once

#include <QWidget>

#include "editor/PageParts.h"

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLayout;

namespace orvex {

class BoundedSpinBox;
class ChoiceBox;
class IniFile;
class MessageBoxes;
class Pop3ServersGroup;
struct ProviderPreset;
class TForm3;

class GeneralPage final : public QWidget {
  Q_OBJECT

 public:
  GeneralPage(MessageBoxes& boxes, const ActionRunner& run, QWidget* parent = nullptr);

  // The POP3 server dialog the page's POP3 group opens.
  void SetPop3Dialog(TForm3* dialog);

  // Shows the list's values; every change made by loading is signalled like an edit (the
  // caller marks the list saved once the whole list is loaded).
  void Load(const IniFile& source);
  // Refuses (orvex::Error naming the server) a fingerprint not of the SHA-256 form, so that a
  // save can stop before anything is written.
  void CheckFingerprints() const;
  // Writes the page's keys in the order the file has always had them: a new list's file gets
  // them in this order.
  void Save(IniFile& ini) const;

  QString ListName() const;
  // A provider preset's servers, security, sign-in, From rewriting and limits, with the list
  // address as the account; every change is signalled like an edit.
  void ApplyProviderPreset(const ProviderPreset& preset);

 signals:
  // The operator (or a load) changed a value of the page.
  void Changed();

 private:
  QWidget* CreateLeftColumn();
  QLayout* CreateNameFields(QWidget* parent);
  QLayout* CreatePolicies(QWidget* parent);
  QGroupBox* CreateSmtpGroup();
  void ConnectChanges();
  // The number of days is shown only while sent messages are kept.
  void ApplyKeepRule();

  TextField listName_, address_, control_, moderator_, from_, smtpHost_, smtpUser_, smtpPass_,
      smtpFingerprint_;
  QCheckBox* Confirm = nullptr;
  BoundedSpinBox* ConfirmInterval = nullptr;
  QCheckBox* ModSS = nullptr;
  QCheckBox* Keep = nullptr;
  BoundedSpinBox* KeepDays = nullptr;
  QLabel* keepDaysLabel_ = nullptr;
  QCheckBox* Moderated = nullptr;
  QCheckBox* Author = nullptr;
  BoundedSpinBox* CheckInterval = nullptr;
  QButtonGroup* nsAction_ = nullptr;
  QButtonGroup* digest_ = nullptr;
  BoundedSpinBox* SMTPPort = nullptr;
  ChoiceBox* SMTPSecurity = nullptr;
  BoundedSpinBox* MaxRecipients = nullptr;
  BoundedSpinBox* MaxRecipientsPerDay = nullptr;
  QCheckBox* ListHeaders = nullptr;
  BoundedSpinBox* BounceLimit = nullptr;
  ChoiceBox* FromRewrite = nullptr;
  Pop3ServersGroup* pop3_ = nullptr;
};

}  // namespace orvex
