// The editor's main window: one list at a time on three pages, the dial-up group, the list
// buttons, the caption, and the questions asked before unsaved changes are lost. The pages and
// the group are widgets of their own, each loading and saving its part of the settings; the
// window composes them and moves whole lists between them and the files.
#pragma once

#include <QWidget>
#include <functional>
#include <string>

class QPushButton;
class QTabWidget;

namespace orvex {

class Clock;
class DialUpBackend;
class DialUpGroup;
class GeneralPage;
class IniFile;
class MessageBoxes;
class NameValueList;
class SubscribersPage;
class TemplatesPage;
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
  bool DialUpSaved() const;
  const std::string& CurrentListDir() const { return currentListDir_; }
  bool PagesShown() const;

  QueryResult QuerySaveChanges(Closing closing);
  void NotSaved();
  void UpdateActions();

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
  QWidget* CreateRightColumn(DialUpBackend& dialUp);
  QWidget* CreateGeneralSettings(QWidget* parent, DialUpBackend& dialUp);
  void CreateDialogs();

  // Runs one operator action; an error ends it and is shown in an error box.
  bool RunAction(const std::function<void()>& action);

  // "Sign in…" of the Sign-in page: `orvex-admin oauth login` for the saved list.
  void SignInList();
  // "Fill in servers": the provider preset's servers, sign-in, From rewriting and limits, with
  // the list address as the account, after the operator confirms the replacement.
  void FillInProviderServers(int index);
  // Shows a list on the pages, saved as it stands.
  void ShowList(const IniFile& settings, NameValueList subscribers);
  void SaveListSettings();
  void ShowPages(bool shown);
  void ShowNoListCaption();
  QueryResult QuerySaveDialUp();

  // List actions.
  std::string SelectList();
  void ChangeCurrentList();
  void CreateNewList();
  void DeleteCurrentList();

  std::string programDirectory_;
  MessageBoxes& boxes_;
  const Clock& clock_;

  std::string currentListDir_;
  bool listSaved_ = true;
  bool listIsNew_ = false;

  QTabWidget* PageControl1 = nullptr;
  GeneralPage* general_ = nullptr;
  TemplatesPage* templates_ = nullptr;
  SubscribersPage* subscribers_ = nullptr;
  DialUpGroup* dialUp_ = nullptr;
  OAuthPage* oauthPage_ = nullptr;
  QPushButton* dialUpSave_ = nullptr;
  QPushButton* dialUpRevert_ = nullptr;
  QPushButton* saveSettings_ = nullptr;
  QPushButton* deleteList_ = nullptr;

  TForm2* form2_ = nullptr;
  TForm3* form3_ = nullptr;
  TForm4* form4_ = nullptr;
};

}  // namespace orvex
