// The editor's main window: one list at a time on three pages, the list buttons, the caption,
// and the questions asked before unsaved changes are lost.
#pragma once

#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "editor/NoticeSlots.h"
#include "editor/SettingsText.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QTableView;

namespace orvex {

class BoundedSpinBox;
class ChoiceBox;
class Clock;
class DialUpBackend;
class IniFile;
class MessageBoxes;
class Pop3ServerModel;
class SubscriberModel;
class TForm2;
class TForm3;
class TForm4;

enum class QueryResult { Proceed, Abort };
enum class Closing { No, Yes };

class OAuthPage;

class TOrvexEditorForm final : public QWidget {
  Q_OBJECT

 public:
  // `programDirectory` ends with "/"; Data/ and orvex.ini lie in it. `dialUp` is asked once, here,
  // for the phonebook entries.
  TOrvexEditorForm(std::string programDirectory, MessageBoxes& boxes, const Clock& clock,
                   DialUpBackend& dialUp, QWidget* parent = nullptr);
  ~TOrvexEditorForm() override;

  bool ListSaved() const { return listSaved_; }
  bool ListIsNew() const { return listIsNew_; }
  bool Filling() const { return filling_; }
  bool DialUpSaved() const { return dialUpSaved_; }
  const std::string& CurrentListDir() const { return currentListDir_; }
  bool PagesShown() const;

  QueryResult QuerySaveChanges(Closing closing);
  void NotSaved();
  void UpdateActions();

  // The context menu of `Subject` and `Template`: undo, cut, copy, paste and the placeholders.
  std::unique_ptr<QMenu> CreateEditMenu(QWidget* field);

  // The dialogs, created with the window and reused.
  TForm2* SelectDialog() const { return form2_; }
  TForm3* Pop3Dialog() const { return form3_; }
  TForm4* NewSubscriberDialog() const { return form4_; }

  // Brings the window to the front, un-minimised and active (a second copy asked for it).
  void BringToFront();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  // Construction of the pages.
  QWidget* CreateGeneralPage();
  QWidget* CreateTemplatesPage();
  QWidget* CreateSubscribersPage();
  QWidget* CreateRightColumn();

  // Runs one operator action; an error ends it and is shown in an error box.
  bool RunAction(const std::function<void()>& action);

  // "Sign in…" of the Sign-in page: `orvex-admin oauth login` for the saved list.
  void SignInList();
  // "Fill in servers": the provider preset's servers, sign-in, From rewriting and limits, with
  // the list address as the account, after the operator confirms the replacement.
  void FillInProviderServers(int index);
  void LoadListSettings(const IniFile& source);
  void SaveListSettings();
  void ApplyKeepRule();
  void ShowPages(bool shown);
  void ShowNoListCaption();

  // The dial-up group: global settings in orvex.ini, saved and reverted on their own.
  QWidget* CreateDialUpGroup(QWidget* parent);
  void ListPhonebookEntries(DialUpBackend& dialUp);
  void LoadDialUp();
  void SaveDialUp();
  void DialUpChanged();
  void ShowDialUpFields();
  void SetDialUpSaved(bool saved);
  QueryResult QuerySaveDialUp();
  std::string OrvexIniPath() const { return programDirectory_ + "orvex.ini"; }

  // Refuses a save whose fingerprints are not of the SHA-256 form.
  void CheckFingerprints() const;

  // List actions.
  std::string SelectList();
  void ChangeCurrentList();
  void CreateNewList();
  void DeleteCurrentList();

  // POP3 group.
  void AddPop3Server();
  void EditPop3Server();
  void DeletePop3Server();
  void UpdatePop3Buttons();
  int SelectedPop3Row() const;

  // Templates page.
  void ShowChosenSlot();
  void TemplateFieldChanged();

  // Subscribers page.
  int SelectedSubscriberRow() const;
  void SubscriberSelectionChanged();
  void NewSubscriber();
  void DeleteSubscriber();
  void ToggleSubscriberFlag(char letter);
  void FindSubscriber();

  std::string programDirectory_;
  MessageBoxes& boxes_;
  const Clock& clock_;

  std::string currentListDir_;
  bool listSaved_ = true;
  bool listIsNew_ = false;
  bool filling_ = true;
  bool dialUpSaved_ = true;
  std::array<NoticeSlot, kNoticeSlotCount> slots_;

  // Stored bytes of the text boxes of the general page, kept so that unedited values go back
  // unchanged.
  struct TextField {
    QLineEdit* edit = nullptr;
    FieldText stored;
  };
  void FillText(TextField& field, std::string bytes);
  std::string TextOf(const TextField& field) const;
  TextField listName_, address_, control_, moderator_, from_, smtpHost_, smtpUser_, smtpPass_,
      smtpFingerprint_;
  TextField dialUpUser_, dialUpPass_;
  // The phonebook entries as the backend names them, position for position with `DialUp`.
  std::vector<std::string> phonebookEntries_;
  // The listing failed: no entry can be chosen, so a save keeps the stored one.
  bool phonebookUnavailable_ = false;
  std::string storedEntry_;

  QTabWidget* PageControl1 = nullptr;
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
  QTableView* POP3 = nullptr;
  Pop3ServerModel* pop3Model_ = nullptr;
  QPushButton* pop3Edit_ = nullptr;
  QPushButton* pop3Delete_ = nullptr;

  QComboBox* ComboBox1 = nullptr;
  QLabel* subjectLabel_ = nullptr;
  QLineEdit* Subject = nullptr;
  QPlainTextEdit* Template = nullptr;

  QTableView* SSList = nullptr;
  SubscriberModel* subscribers_ = nullptr;
  QPushButton* ssDelete_ = nullptr;
  QPushButton* ssDigest_ = nullptr;
  QPushButton* ssPause_ = nullptr;
  QPushButton* ssDisable_ = nullptr;
  QLineEdit* Find = nullptr;

  QCheckBox* UseDialUp = nullptr;
  OAuthPage* oauthPage_ = nullptr;
  QWidget* dialUpFields_ = nullptr;
  QComboBox* DialUp = nullptr;
  BoundedSpinBox* Attempts = nullptr;
  BoundedSpinBox* Pause = nullptr;
  QPushButton* dialUpSave_ = nullptr;
  QPushButton* dialUpRevert_ = nullptr;

  QPushButton* saveSettings_ = nullptr;
  QPushButton* deleteList_ = nullptr;

  TForm2* form2_ = nullptr;
  TForm3* form3_ = nullptr;
  TForm4* form4_ = nullptr;
};

}  // namespace orvex
