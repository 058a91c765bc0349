// The main window: its layout, the caption, the button states, the questions before changes are
// lost, and the list actions (change, create, delete).
#include "editor/OrvexEditorForm.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

#include "editor/BoundedSpinBox.h"
#include "editor/ChoiceBox.h"
#include "editor/Dialogs.h"
#include "editor/ListFiles.h"
#include "editor/MessageBoxes.h"
#include "editor/OAuthPage.h"
#include "editor/Pop3ServerModel.h"
#include "editor/SubscriberModel.h"
#include "editor/TlsSettings.h"
#include "platform/FileSystem.h"
#include "store/DefaultList.h"
#include "store/IniFile.h"

namespace orvex {
namespace {

const QString kCaptionWithoutList = QStringLiteral("ORVEX Configuration editor");
const QString kCaptionWithList = QStringLiteral("ORVEX Configuration Editor : ");

QPushButton* NamedButton(const QString& caption, const char* name, QWidget* parent) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(QLatin1String(name));
  return button;
}

QLineEdit* NamedEdit(const char* name, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QLatin1String(name));
  return edit;
}

QCheckBox* NamedCheck(const QString& caption, const char* name, QWidget* parent) {
  auto* box = new QCheckBox(caption, parent);
  box->setObjectName(QLatin1String(name));
  return box;
}

BoundedSpinBox* NamedSpin(int minimum, int maximum, const char* name, QWidget* parent) {
  auto* spin = new BoundedSpinBox(minimum, maximum, parent);
  spin->setObjectName(QLatin1String(name));
  return spin;
}

QTableView* ReportView(const char* name, QWidget* parent) {
  auto* view = new QTableView(parent);
  view->setObjectName(QLatin1String(name));
  view->setShowGrid(true);
  view->setSelectionBehavior(QAbstractItemView::SelectRows);
  view->setSelectionMode(QAbstractItemView::SingleSelection);
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view->verticalHeader()->hide();
  view->verticalHeader()->setDefaultSectionSize(18);
  view->horizontalHeader()->setHighlightSections(false);
  view->setWordWrap(false);
  return view;
}

QGroupBox* RadioGroup(const QString& title, const char* name, const QStringList& captions,
                      QButtonGroup*& group, QWidget* parent) {
  auto* box = new QGroupBox(title, parent);
  box->setObjectName(QLatin1String(name));
  auto* layout = new QVBoxLayout(box);
  layout->setSpacing(0);
  layout->setContentsMargins(6, 2, 6, 2);
  group = new QButtonGroup(box);
  for (int i = 0; i < captions.size(); ++i) {
    auto* button = new QRadioButton(captions[i], box);
    button->setObjectName(QStringLiteral("%1Button%2").arg(QLatin1String(name)).arg(i));
    group->addButton(button, i);
    layout->addWidget(button);
  }
  return box;
}

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

  PageControl1 = new QTabWidget(this);
  PageControl1->setObjectName(QStringLiteral("PageControl1"));
  PageControl1->addTab(CreateGeneralPage(), QStringLiteral("&General"));
  PageControl1->addTab(CreateTemplatesPage(), QStringLiteral("&Templates"));
  PageControl1->addTab(CreateSubscribersPage(), QStringLiteral("S&ubscribers"));
  oauthPage_ = new OAuthPage(PageControl1);
  PageControl1->addTab(oauthPage_, QStringLiteral("S&ign-in"));
  connect(oauthPage_, &OAuthPage::Changed, this, &TOrvexEditorForm::NotSaved);
  connect(oauthPage_->SignIn, &QPushButton::clicked, this, &TOrvexEditorForm::SignInList);
  connect(oauthPage_, &OAuthPage::PresetChosen, this, &TOrvexEditorForm::FillInProviderServers);
  PageControl1->setGeometry(4, 4, 510, 463);

  QWidget* right = CreateRightColumn();
  right->setGeometry(520, 4, 205, 463);

  form2_ = new TForm2(this);
  form3_ = new TForm3(this);
  form3_->SetAcceptCheck([this] {
    if (IsCertificateFingerprint(TrimBlanks(EncodeText(form3_->Fingerprint->text())))) return true;
    boxes_.Show(form3_, BoxKind::Error, FingerprintRefusal(QStringLiteral("this POP3 server")),
                BoxButtons::Ok);
    return false;
  });
  form4_ = new TForm4(this);

  CreateDirectoryOnce(programDirectory_ + "Data");
  listSaved_ = true;
  listIsNew_ = false;
  ListPhonebookEntries(dialUp);
  LoadDialUp();  // ends the start-up filling
  ShowPages(false);
  ShowNoListCaption();
  UpdateActions();
}

TOrvexEditorForm::~TOrvexEditorForm() = default;

QWidget* TOrvexEditorForm::CreateRightColumn() {
  auto* column = new QWidget(this);
  auto* layout = new QVBoxLayout(column);
  layout->setContentsMargins(0, 18, 0, 0);

  auto* general = new QGroupBox(QStringLiteral(" General settings "), column);
  general->setObjectName(QStringLiteral("GeneralSettings"));
  auto* generalLayout = new QVBoxLayout(general);
  // Always shown, usable with or without a list.
  generalLayout->addWidget(CreateDialUpGroup(general));
  auto* dialUpButtons = new QHBoxLayout;
  dialUpSave_ = NamedButton(QStringLiteral("Save"), "DialUpSave", general);
  dialUpRevert_ = NamedButton(QStringLiteral("Revert"), "DialUpRevert", general);
  dialUpButtons->addWidget(dialUpSave_);
  dialUpButtons->addWidget(dialUpRevert_);
  generalLayout->addLayout(dialUpButtons);
  layout->addWidget(general);
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

  connect(changeList, &QPushButton::clicked, this,
          [this] { RunAction([this] { ChangeCurrentList(); }); });
  connect(newList, &QPushButton::clicked, this, [this] { RunAction([this] { CreateNewList(); }); });
  connect(deleteList_, &QPushButton::clicked, this,
          [this] { RunAction([this] { DeleteCurrentList(); }); });
  connect(saveSettings_, &QPushButton::clicked, this,
          [this] { RunAction([this] { SaveListSettings(); }); });
  connect(exitButton, &QPushButton::clicked, this, &QWidget::close);
  connect(dialUpSave_, &QPushButton::clicked, this,
          [this] { RunAction([this] { SaveDialUp(); }); });
  connect(dialUpRevert_, &QPushButton::clicked, this,
          [this] { RunAction([this] { LoadDialUp(); }); });
  return column;
}

QWidget* TOrvexEditorForm::CreateGeneralPage() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("GeneralPage"));
  auto* columns = new QHBoxLayout(page);
  columns->setContentsMargins(6, 6, 6, 6);

  // Left column: names and addresses, policies, non-subscriber posts.
  auto* left = new QVBoxLayout;
  auto* names = new QFormLayout;
  names->setVerticalSpacing(3);
  listName_.edit = NamedEdit("ListName", page);
  address_.edit = NamedEdit("Address", page);
  control_.edit = NamedEdit("Control", page);
  moderator_.edit = NamedEdit("Moderator", page);
  names->addRow(QStringLiteral("List name"), listName_.edit);
  names->addRow(QStringLiteral("List address"), address_.edit);
  names->addRow(QStringLiteral("Control address"), control_.edit);
  names->addRow(QStringLiteral("Moderator"), moderator_.edit);
  left->addLayout(names);

  auto* policies = new QGridLayout;
  policies->setVerticalSpacing(2);
  Confirm = NamedCheck(QStringLiteral("Confirm subscription"), "Confirm", page);
  ConfirmInterval = NamedSpin(0, 100, "ConfirmInterval", page);
  ModSS = NamedCheck(QStringLiteral("Moderated subscription"), "ModSS", page);
  Moderated = NamedCheck(QStringLiteral("Moderated list"), "Moderated", page);
  Author = NamedCheck(QStringLiteral("Post to author"), "Author", page);
  CheckInterval = NamedSpin(0, 100, "CheckInterval", page);
  Keep = NamedCheck(QStringLiteral("Keep sent messages"), "Keep", page);
  Keep->hide();  // kept in the file for the editor only, never shown
  KeepDays = NamedSpin(0, 100, "KeepDays", page);
  keepDaysLabel_ = new QLabel(QStringLiteral("days"), page);
  keepDaysLabel_->setObjectName(QStringLiteral("KeepDaysLabel"));
  policies->addWidget(Confirm, 0, 0, 1, 2);
  policies->addWidget(new QLabel(QStringLiteral("Wait for confirmation(days)"), page), 1, 0);
  policies->addWidget(ConfirmInterval, 1, 1);
  policies->addWidget(ModSS, 2, 0, 1, 2);
  policies->addWidget(Moderated, 3, 0, 1, 2);
  policies->addWidget(Author, 4, 0, 1, 2);
  policies->addWidget(new QLabel(QStringLiteral("Checking interval (min)"), page), 5, 0);
  policies->addWidget(CheckInterval, 5, 1);
  auto* keepRow = new QHBoxLayout;
  keepRow->addWidget(Keep);
  keepRow->addWidget(KeepDays);
  keepRow->addWidget(keepDaysLabel_);
  keepRow->addStretch();
  policies->addLayout(keepRow, 6, 0, 1, 2);
  // The headers, bounce handling and From rewriting of list mail.
  ListHeaders = NamedCheck(QStringLiteral("Add list headers"), "ListHeaders", page);
  BounceLimit = NamedSpin(0, 100, "BounceLimit", page);
  BounceLimit->setToolTip(QStringLiteral("0: members are never paused for bounces"));
  FromRewrite = new ChoiceBox(
      {QStringLiteral("Never"), QStringLiteral("If DMARC requires it"), QStringLiteral("Always")},
      page);
  FromRewrite->setObjectName(QStringLiteral("FromRewrite"));
  policies->addWidget(ListHeaders, 7, 0, 1, 2);
  policies->addWidget(new QLabel(QStringLiteral("Bounces before pause"), page), 8, 0);
  policies->addWidget(BounceLimit, 8, 1);
  // The choice's texts are longer than a number box: give it the whole row beside its label.
  auto* rewriteRow = new QHBoxLayout;
  rewriteRow->addWidget(new QLabel(QStringLiteral("Rewrite From"), page));
  rewriteRow->addWidget(FromRewrite, 1);
  policies->addLayout(rewriteRow, 9, 0, 1, 2);
  left->addLayout(policies);

  left->addWidget(RadioGroup(QStringLiteral(" Non-subscibers posts "), "NSAction",
                             {QStringLiteral("Send a warning"), QStringLiteral("Send to moderator"),
                              QStringLiteral("Post the message to the list")},
                             nsAction_, page));
  left->addWidget(RadioGroup(QStringLiteral(" Digest type "), "Digest",
                             {QStringLiteral("text/plain"), QStringLiteral("multipart/alternative"),
                              QStringLiteral("multipart/digest")},
                             digest_, page));
  left->addStretch();

  // Right column: SMTP server, POP3 servers.
  auto* right = new QVBoxLayout;
  auto* smtp = new QGroupBox(QStringLiteral(" SMTP Server "), page);
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
  for (QWidget* field :
       {static_cast<QWidget*>(smtpHost_.edit), static_cast<QWidget*>(SMTPPort),
        static_cast<QWidget*>(SMTPSecurity), static_cast<QWidget*>(smtpFingerprint_.edit),
        static_cast<QWidget*>(from_.edit), static_cast<QWidget*>(smtpUser_.edit),
        static_cast<QWidget*>(smtpPass_.edit), static_cast<QWidget*>(MaxRecipients),
        static_cast<QWidget*>(MaxRecipientsPerDay)})
    field->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  smtpForm->addRow(QStringLiteral("Host"), smtpHost_.edit);
  smtpForm->addRow(QStringLiteral("Port"), SMTPPort);
  smtpForm->addRow(QStringLiteral("Security"), SMTPSecurity);
  smtpForm->addRow(QStringLiteral("Fingerprint"), smtpFingerprint_.edit);
  smtpForm->addRow(QStringLiteral("From address"), from_.edit);
  smtpForm->addRow(QStringLiteral("User ID"), smtpUser_.edit);
  smtpForm->addRow(QStringLiteral("Password"), smtpPass_.edit);
  smtpForm->addRow(QStringLiteral("Recipients/mail"), MaxRecipients);
  smtpForm->addRow(QStringLiteral("Recipients/day"), MaxRecipientsPerDay);
  right->addWidget(smtp);

  auto* pop3 = new QGroupBox(QStringLiteral("POP3 Servers"), page);
  pop3->setObjectName(QStringLiteral("POP3Group"));
  auto* pop3Layout = new QVBoxLayout(pop3);
  pop3Layout->setContentsMargins(6, 4, 6, 4);
  POP3 = ReportView("POP3", pop3);
  pop3Model_ = new Pop3ServerModel(this);
  POP3->setModel(pop3Model_);
  POP3->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  POP3->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Expanding);
  pop3Layout->addWidget(POP3);
  auto* pop3Buttons = new QHBoxLayout;
  auto* pop3Add = NamedButton(QStringLiteral("Add"), "Pop3Add", pop3);
  pop3Edit_ = NamedButton(QStringLiteral("Edit"), "Pop3Edit", pop3);
  pop3Delete_ = NamedButton(QStringLiteral("Delete"), "Pop3Delete", pop3);
  pop3Buttons->addWidget(pop3Add);
  pop3Buttons->addWidget(pop3Edit_);
  pop3Buttons->addWidget(pop3Delete_);
  pop3Layout->addLayout(pop3Buttons);
  right->addWidget(pop3, 1);

  // The names and addresses get the wider column; the server fields hold short texts.
  auto* leftColumn = new QWidget(page);
  leftColumn->setLayout(left);
  leftColumn->setFixedWidth(244);
  left->setContentsMargins(0, 0, 0, 0);
  right->setContentsMargins(0, 0, 0, 0);
  columns->addWidget(leftColumn);
  columns->addLayout(right, 1);

  // Every change on this page marks the list changed; loading clears the mark at its end.
  for (TextField* field : {&listName_, &address_, &control_, &moderator_, &from_, &smtpHost_,
                           &smtpUser_, &smtpPass_, &smtpFingerprint_})
    connect(field->edit, &QLineEdit::textChanged, this, &TOrvexEditorForm::NotSaved);
  for (QCheckBox* box : {Confirm, ModSS, Moderated, Author, ListHeaders})
    connect(box, &QCheckBox::clicked, this, &TOrvexEditorForm::NotSaved);
  connect(FromRewrite, &ChoiceBox::Chosen, this, &TOrvexEditorForm::NotSaved);
  connect(SMTPSecurity, &ChoiceBox::Chosen, this, [this](int choice) {
    if (auto port = SuggestedPort(MailService::Smtp, choice, SMTPPort->StoredValue()))
      SMTPPort->setValue(*port);
    NotSaved();
  });
  connect(Keep, &QCheckBox::clicked, this, [this] {
    ApplyKeepRule();
    NotSaved();
  });
  for (BoundedSpinBox* spin : {ConfirmInterval, CheckInterval, KeepDays, SMTPPort, MaxRecipients,
                               MaxRecipientsPerDay, BounceLimit})
    connect(spin, &QSpinBox::valueChanged, this, &TOrvexEditorForm::NotSaved);
  for (QButtonGroup* group : {nsAction_, digest_})
    connect(group, &QButtonGroup::buttonClicked, this, &TOrvexEditorForm::NotSaved);

  connect(pop3Add, &QPushButton::clicked, this, [this] { RunAction([this] { AddPop3Server(); }); });
  connect(pop3Edit_, &QPushButton::clicked, this,
          [this] { RunAction([this] { EditPop3Server(); }); });
  connect(pop3Delete_, &QPushButton::clicked, this,
          [this] { RunAction([this] { DeletePop3Server(); }); });
  connect(POP3, &QTableView::doubleClicked, this, [this] {
    if (SelectedPop3Row() >= 0) RunAction([this] { EditPop3Server(); });
  });
  connect(POP3->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &TOrvexEditorForm::UpdatePop3Buttons);
  connect(pop3Model_, &QAbstractItemModel::modelReset, this, &TOrvexEditorForm::UpdatePop3Buttons);
  connect(pop3Model_, &QAbstractItemModel::rowsRemoved, this, &TOrvexEditorForm::UpdatePop3Buttons);
  UpdatePop3Buttons();
  return page;
}

QWidget* TOrvexEditorForm::CreateTemplatesPage() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("TemplatesPage"));
  auto* layout = new QGridLayout(page);
  layout->addWidget(new QLabel(QStringLiteral("Template"), page), 0, 0);
  ComboBox1 = new QComboBox(page);
  ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
  ComboBox1->setEditable(false);
  for (const auto& slot : kNoticeSlots) ComboBox1->addItem(QString::fromLatin1(slot.entry));
  ComboBox1->setCurrentIndex(-1);
  layout->addWidget(ComboBox1, 0, 1);
  subjectLabel_ = new QLabel(QStringLiteral("Subject "), page);
  subjectLabel_->setObjectName(QStringLiteral("SubjectLabel"));
  Subject = NamedEdit("Subject", page);
  layout->addWidget(subjectLabel_, 1, 0);
  layout->addWidget(Subject, 1, 1);
  Template = new QPlainTextEdit(page);
  Template->setObjectName(QStringLiteral("Template"));
  Template->setLineWrapMode(QPlainTextEdit::NoWrap);
  Template->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Template->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  QFont fixed(QStringLiteral("Courier New"), 8);
  fixed.setStyleHint(QFont::TypeWriter);
  Template->setFont(fixed);
  layout->addWidget(Template, 2, 0, 1, 2);
  layout->setRowStretch(2, 1);
  layout->setColumnStretch(1, 1);

  for (QWidget* field : {static_cast<QWidget*>(Subject), static_cast<QWidget*>(Template)}) {
    field->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(field, &QWidget::customContextMenuRequested, this, [this, field](const QPoint& at) {
      field->setFocus(Qt::MouseFocusReason);
      auto menu = CreateEditMenu(field);
      menu->exec(field->mapToGlobal(at));
    });
  }
  connect(ComboBox1, &QComboBox::currentIndexChanged, this, &TOrvexEditorForm::ShowChosenSlot);
  connect(Subject, &QLineEdit::textChanged, this, &TOrvexEditorForm::TemplateFieldChanged);
  connect(Template, &QPlainTextEdit::textChanged, this, &TOrvexEditorForm::TemplateFieldChanged);
  ShowChosenSlot();
  return page;
}

QWidget* TOrvexEditorForm::CreateSubscribersPage() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("SubscribersPage"));
  auto* layout = new QGridLayout(page);
  SSList = ReportView("SSList", page);
  subscribers_ = new SubscriberModel(this);
  SSList->setModel(subscribers_);
  auto* header = SSList->horizontalHeader();
  header->setSectionResizeMode(SubscriberModel::kAddress, QHeaderView::Stretch);
  for (int column :
       {SubscriberModel::kDigest, SubscriberModel::kPaused, SubscriberModel::kBlocked}) {
    header->setSectionResizeMode(column, QHeaderView::Fixed);
    SSList->setColumnWidth(column, 20);
  }
  header->setMinimumSectionSize(20);
  header->setDefaultAlignment(Qt::AlignCenter);
  layout->addWidget(SSList, 0, 0);

  auto* buttons = new QVBoxLayout;
  auto* ssNew = NamedButton(QStringLiteral("New"), "SSNew", page);
  ssDelete_ = NamedButton(QStringLiteral("Delete"), "SSDelete", page);
  ssDigest_ = NamedButton(QStringLiteral("Digest on"), "SSDigest", page);
  ssPause_ = NamedButton(QStringLiteral("Pause"), "SSPause", page);
  ssDisable_ = NamedButton(QStringLiteral("Disable"), "SSDisable", page);
  for (QPushButton* button : {ssNew, ssDelete_, ssDigest_, ssPause_, ssDisable_})
    buttons->addWidget(button);
  buttons->addStretch();
  layout->addLayout(buttons, 0, 1);

  auto* findRow = new QHBoxLayout;
  Find = NamedEdit("Find", page);
  auto* findButton = NamedButton(QStringLiteral("Find"), "FindButton", page);
  findRow->addWidget(Find);
  findRow->addWidget(findButton);
  layout->addLayout(findRow, 1, 0, 1, 2);

  connect(ssNew, &QPushButton::clicked, this, [this] { RunAction([this] { NewSubscriber(); }); });
  connect(ssDelete_, &QPushButton::clicked, this,
          [this] { RunAction([this] { DeleteSubscriber(); }); });
  connect(ssDigest_, &QPushButton::clicked, this,
          [this] { RunAction([this] { ToggleSubscriberFlag('d'); }); });
  connect(ssPause_, &QPushButton::clicked, this,
          [this] { RunAction([this] { ToggleSubscriberFlag('p'); }); });
  connect(ssDisable_, &QPushButton::clicked, this,
          [this] { RunAction([this] { ToggleSubscriberFlag('b'); }); });
  connect(findButton, &QPushButton::clicked, this,
          [this] { RunAction([this] { FindSubscriber(); }); });
  connect(SSList->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &TOrvexEditorForm::SubscriberSelectionChanged);
  connect(subscribers_, &QAbstractItemModel::modelReset, this,
          &TOrvexEditorForm::SubscriberSelectionChanged);
  SubscriberSelectionChanged();
  return page;
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
  setWindowTitle(kCaptionWithList + listName_.edit->text());
  UpdateActions();
}

void TOrvexEditorForm::UpdateActions() {
  saveSettings_->setEnabled(PagesShown() && !listSaved_);
  deleteList_->setEnabled(PagesShown() && listSaved_);
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
    LoadListSettings(IniFile(currentListDir_ + "maillist.ini"));
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
  if (QuerySaveChanges(Closing::No) == QueryResult::Abort) return;
  currentListDir_ = chosen;
  LoadListSettings(IniFile(currentListDir_ + "maillist.ini"));
  ShowChosenSlot();
  UpdatePop3Buttons();
}

void TOrvexEditorForm::CreateNewList() {
  if (QuerySaveChanges(Closing::No) == QueryResult::Abort) return;
  LoadListSettings(IniFile::FromText(DefaultListText()));
  subscribers_->SetLines(NameValueList());
  listSaved_ = false;
  currentListDir_ = NewListDirectory(programDirectory_, clock_);
  ComboBox1->setCurrentIndex(-1);
  ShowChosenSlot();
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
