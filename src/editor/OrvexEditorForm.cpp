// The main window: its layout, the caption, the button states, the questions before changes are
// lost, and the list actions (change, create, save, delete).
#include "editor/OrvexEditorForm.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QVBoxLayout>

#include "editor/ChoiceBox.h"
#include "editor/DialUpGroup.h"
#include "editor/Dialogs.h"
#include "editor/GeneralPage.h"
#include "editor/ListFiles.h"
#include "editor/MessageBoxes.h"
#include "editor/OAuthPage.h"
#include "editor/PageParts.h"
#include "editor/SubscribersPage.h"
#include "editor/TemplatesPage.h"
#include "platform/FileSystem.h"
#include "store/DefaultList.h"
#include "store/IniFile.h"
#include "store/NameValueList.h"
#include "store/ProviderPresets.h"

namespace orvex {
namespace {

const QString kCaptionWithoutList = QStringLiteral("ORVEX Configuration editor");
const QString kCaptionWithList = QStringLiteral("ORVEX Configuration Editor : ");

}  // namespace

TOrvexEditorForm::TOrvexEditorForm(std::string programDirectory, MessageBoxes& boxes,
                                   const Clock& clock, DialUpBackend& dialUp, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      programDirectory_(std::move(programDirectory)),
      boxes_(boxes),
      clock_(clock) {
  setObjectName(QStringLiteral("TOrvexEditorForm"));
  QFont font(QStringLiteral("Sans Serif"), 8);
  font.setStyleHint(QFont::SansSerif);
  setFont(font);
  setFixedSize(729, 471);

  const ActionRunner run = [this](const std::function<void()>& action) {
    return RunAction(action);
  };
  general_ = new GeneralPage(boxes_, run);
  templates_ = new TemplatesPage;
  subscribers_ = new SubscribersPage(boxes_, run);
  PageControl1 = new QTabWidget(this);
  PageControl1->setObjectName(QStringLiteral("PageControl1"));
  PageControl1->addTab(general_, QStringLiteral("&General"));
  PageControl1->addTab(templates_, QStringLiteral("&Templates"));
  PageControl1->addTab(subscribers_, QStringLiteral("S&ubscribers"));
  oauthPage_ = new OAuthPage(PageControl1);
  PageControl1->addTab(oauthPage_, QStringLiteral("S&ign-in"));
  connect(oauthPage_, &OAuthPage::Changed, this, &TOrvexEditorForm::NotSaved);
  connect(oauthPage_->SignIn, &QPushButton::clicked, this, &TOrvexEditorForm::SignInList);
  connect(oauthPage_, &OAuthPage::PresetChosen, this, &TOrvexEditorForm::FillInProviderServers);
  PageControl1->setGeometry(4, 4, 510, 463);
  connect(general_, &GeneralPage::Changed, this, &TOrvexEditorForm::NotSaved);
  connect(templates_, &TemplatesPage::Changed, this, &TOrvexEditorForm::NotSaved);
  connect(subscribers_, &SubscribersPage::Changed, this, &TOrvexEditorForm::NotSaved);

  QWidget* right = CreateRightColumn(dialUp);
  right->setGeometry(520, 4, 205, 463);
  // After the pages: the window's children are searched in order, and the dialogs hold
  // fields named like the pages' ("Address", "Password").
  CreateDialogs();

  CreateDirectoryOnce(programDirectory_ + "Data");
  dialUp_->Load();
  ShowPages(false);
  ShowNoListCaption();
  UpdateActions();
}

TOrvexEditorForm::~TOrvexEditorForm() = default;

void TOrvexEditorForm::CreateDialogs() {
  form2_ = new TForm2(this);
  form3_ = new TForm3(this);
  form4_ = new TForm4(this);
  general_->SetPop3Dialog(form3_);
  subscribers_->SetNewSubscriberDialog(form4_);
}

QWidget* TOrvexEditorForm::CreateRightColumn(DialUpBackend& dialUp) {
  auto* column = new QWidget(this);
  auto* layout = new QVBoxLayout(column);
  layout->setContentsMargins(0, 18, 0, 0);
  layout->addWidget(CreateGeneralSettings(column, dialUp));
  layout->addSpacing(12);

  auto* changeList = NamedButton(QStringLiteral("&Change current list"), "ChangeList", column);
  auto* newList = NamedButton(QStringLiteral("Create &new list"), "NewList", column);
  deleteList_ = NamedButton(QStringLiteral("&Delete current list"), "DeleteList", column);
  saveSettings_ = NamedButton(QStringLiteral("&Save settings"), "SaveSettings", column);
  auto* buttons = new QGridLayout;
  buttons->addWidget(changeList, 0, 0);
  buttons->addWidget(newList, 0, 1);
  buttons->addWidget(deleteList_, 1, 0);
  buttons->addWidget(saveSettings_, 1, 1);
  layout->addLayout(buttons);
  layout->addStretch();
  auto* exitButton = NamedButton(QStringLiteral("E&xit"), "Exit", column);
  layout->addWidget(exitButton);

  const auto on = [this](QPushButton* button, void (TOrvexEditorForm::*action)()) {
    connect(button, &QPushButton::clicked, this,
            [this, action] { RunAction([this, action] { (this->*action)(); }); });
  };
  on(changeList, &TOrvexEditorForm::ChangeCurrentList);
  on(newList, &TOrvexEditorForm::CreateNewList);
  on(deleteList_, &TOrvexEditorForm::DeleteCurrentList);
  on(saveSettings_, &TOrvexEditorForm::SaveListSettings);
  connect(exitButton, &QPushButton::clicked, this, &QWidget::close);
  return column;
}

// The settings of the whole program, usable with or without a list: the dial-up group with its
// own "Save" and "Revert".
QWidget* TOrvexEditorForm::CreateGeneralSettings(QWidget* parent, DialUpBackend& dialUp) {
  auto* general = new QGroupBox(QStringLiteral(" General settings "), parent);
  general->setObjectName(QStringLiteral("GeneralSettings"));
  auto* layout = new QVBoxLayout(general);
  dialUp_ = new DialUpGroup(programDirectory_ + "orvex.ini", dialUp, general);
  layout->addWidget(dialUp_);
  auto* buttons = new QHBoxLayout;
  dialUpSave_ = NamedButton(QStringLiteral("Save"), "DialUpSave", general);
  dialUpRevert_ = NamedButton(QStringLiteral("Revert"), "DialUpRevert", general);
  buttons->addWidget(dialUpSave_);
  buttons->addWidget(dialUpRevert_);
  layout->addLayout(buttons);

  connect(dialUp_, &DialUpGroup::SavedChanged, this, [this](bool saved) {
    dialUpSave_->setEnabled(!saved);
    dialUpRevert_->setEnabled(!saved);
  });
  connect(dialUpSave_, &QPushButton::clicked, this,
          [this] { RunAction([this] { dialUp_->Save(); }); });
  connect(dialUpRevert_, &QPushButton::clicked, this,
          [this] { RunAction([this] { dialUp_->Load(); }); });
  return general;
}

bool TOrvexEditorForm::RunAction(const std::function<void()>& action) {
  try {
    action();
    UpdateActions();
    return true;
  } catch (const std::exception& error) {
    UpdateActions();
    boxes_.Show(this, BoxKind::Error, QString::fromUtf8(error.what()), BoxButtons::Ok);
    return false;
  }
}

bool TOrvexEditorForm::DialUpSaved() const {
  return dialUp_->Saved();
}

bool TOrvexEditorForm::PagesShown() const {
  return !PageControl1->isHidden();
}

void TOrvexEditorForm::ShowPages(bool shown) {
  PageControl1->setVisible(shown);
}

void TOrvexEditorForm::ShowNoListCaption() {
  setWindowTitle(kCaptionWithoutList);
}

void TOrvexEditorForm::NotSaved() {
  listSaved_ = false;
  setWindowTitle(kCaptionWithList + general_->ListName());
  UpdateActions();
}

void TOrvexEditorForm::UpdateActions() {
  saveSettings_->setEnabled(PagesShown() && !listSaved_);
  deleteList_->setEnabled(PagesShown() && listSaved_);
}

void TOrvexEditorForm::ShowList(const IniFile& settings, NameValueList subscribers) {
  general_->Load(settings);
  oauthPage_->Load(settings);
  templates_->Load(settings);
  subscribers_->Load(std::move(subscribers));
  ShowPages(true);
  listSaved_ = true;
  UpdateActions();
}

void TOrvexEditorForm::SignInList() {
  if (currentListDir_.empty() || listIsNew_ || !listSaved_) {
    boxes_.Show(this, BoxKind::Warning,
                QStringLiteral("Save the list first: the sign-in reads its saved settings."),
                BoxButtons::Ok);
    return;
  }
  RunSignInDialog(this, programDirectory_, FileNameOf(currentListDir_));
}

void TOrvexEditorForm::FillInProviderServers(int index) {
  const ProviderPreset& preset = ProviderPresets()[static_cast<std::size_t>(index)];
  const QString title = QString::fromLatin1(preset.title);
  if (boxes_.Show(this, BoxKind::Confirmation,
                  QStringLiteral("Replace the SMTP and POP3 servers with those of %1?").arg(title),
                  BoxButtons::OkCancel) != BoxAnswer::Ok)
    return;
  general_->ApplyProviderPreset(preset);
  oauthPage_->SmtpAuthMethod->SetStoredValue(std::string_view(preset.authMethod) == "oauth2" ? 1
                                                                                             : 0);
  if (std::string_view(preset.oauthProvider) == "google")
    oauthPage_->Provider->SetStoredValue(0);
  else if (std::string_view(preset.oauthProvider) == "microsoft")
    oauthPage_->Provider->SetStoredValue(1);
  NotSaved();
}

void TOrvexEditorForm::SaveListSettings() {
  // Refused before anything is written. The changes gather in memory and reach the file in one
  // replacement at Save(), so a kill or a full disk leaves the list all old or all new.
  general_->CheckFingerprints();
  CreateDirectoryOnce(currentListDir_);
  IniFile ini(currentListDir_ + "maillist.ini");
  general_->Save(ini);
  oauthPage_->Save(ini);
  templates_->Save(ini);
  ini.Save();
  subscribers_->Save(currentListDir_ + "subscribers.ini");
  listSaved_ = true;
  listIsNew_ = false;
  UpdateActions();
}

QueryResult TOrvexEditorForm::QuerySaveDialUp() {
  if (dialUp_->Saved()) return QueryResult::Proceed;
  const BoxAnswer answer =
      boxes_.Show(this, BoxKind::Warning,
                  QStringLiteral("Dial-up configuration not saved\r\nDo you wish to save it?"),
                  BoxButtons::YesNoCancel);
  if (answer == BoxAnswer::Cancel) return QueryResult::Abort;
  if (answer == BoxAnswer::Yes) dialUp_->Save();
  return QueryResult::Proceed;
}

QueryResult TOrvexEditorForm::QuerySaveChanges(Closing closing) {
  if (closing == Closing::Yes && QuerySaveDialUp() == QueryResult::Abort) return QueryResult::Abort;
  if (listSaved_) return QueryResult::Proceed;
  const BoxAnswer answer = boxes_.Show(
      this, BoxKind::Warning,
      QStringLiteral("Some changes of current mailing list configuration are not saved\r\n"
                     "Do you wish to save them?"),
      BoxButtons::YesNoCancel);
  if (answer == BoxAnswer::Cancel) return QueryResult::Abort;
  if (answer == BoxAnswer::Yes) {
    SaveListSettings();
  } else if (listIsNew_) {
    // Nothing was ever written for a new list: dropping it leaves no trace.
    listIsNew_ = false;
    listSaved_ = true;
    ShowPages(false);
    ShowNoListCaption();
  } else {
    ListContent stored = ReadListFiles(currentListDir_);
    ShowList(stored.settings, std::move(stored.subscribers));
  }
  UpdateActions();
  return QueryResult::Proceed;
}

void TOrvexEditorForm::closeEvent(QCloseEvent* event) {
  bool proceed = false;
  RunAction([&] { proceed = QuerySaveChanges(Closing::Yes) == QueryResult::Proceed; });
  if (!proceed) {
    event->ignore();
    return;
  }
  event->accept();
  listSaved_ = true;
  ShowPages(false);
  currentListDir_.clear();
}

void TOrvexEditorForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (const QScreen* screen = this->screen()) {
    const QRect available = screen->availableGeometry();
    move(available.center() - QPoint(frameGeometry().width() / 2, frameGeometry().height() / 2));
  }
}

void TOrvexEditorForm::BringToFront() {
  setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
  show();
  raise();
  activateWindow();
}

std::string TOrvexEditorForm::SelectList() {
  std::vector<TForm2::Entry> entries;
  for (auto& list : FindLists(programDirectory_))
    entries.push_back({DecodeText(list.name), list.directory});
  form2_->SetEntries(std::move(entries));
  if (form2_->exec() != QDialog::Accepted) return {};
  const std::string directory = form2_->ChosenDirectory();
  if (directory.empty()) return {};
  return programDirectory_ + "Data/" + directory + "/";
}

void TOrvexEditorForm::ChangeCurrentList() {
  const std::string chosen = SelectList();
  if (chosen.empty() || chosen == currentListDir_) return;
  // Read whole before anything is asked or shown: a list that cannot be read is not opened, and
  // the one shown stays as it is.
  ListContent list = ReadListFiles(chosen);
  if (QuerySaveChanges(Closing::No) == QueryResult::Abort) return;
  currentListDir_ = chosen;
  ShowList(list.settings, std::move(list.subscribers));
  templates_->ShowChosenSlot();
}

void TOrvexEditorForm::CreateNewList() {
  if (QuerySaveChanges(Closing::No) == QueryResult::Abort) return;
  ShowList(IniFile::FromText(DefaultListText()), NameValueList());
  listSaved_ = false;
  currentListDir_ = NewListDirectory(programDirectory_, clock_);
  templates_->ChooseNoSlot();
  listIsNew_ = true;
  NotSaved();
}

void TOrvexEditorForm::DeleteCurrentList() {
  const BoxAnswer answer = boxes_.Show(
      this, BoxKind::Warning,
      QStringLiteral("Do you realy want to delete current mailing list?\r\n\r\nNote : all messages "
                     "not yet processed "
                     "will be deleted.\r\nYou will lose information about list subscribers also."),
      BoxButtons::OkCancel);
  if (answer != BoxAnswer::Ok) return;
  if (DeleteTree(currentListDir_)) {
    ShowPages(false);
    ShowNoListCaption();
  } else {
    boxes_.Show(this, BoxKind::Error,
                QStringLiteral("Cannot delete directory ") + DecodeText(currentListDir_),
                BoxButtons::Ok);
  }
}

}  // namespace orvex
