// Layout and buttons of the list selection, POP3 server and new subscriber dialogs.
#include "editor/Dialogs.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "editor/BoundedSpinBox.h"
#include "editor/ChoiceBox.h"
#include "editor/SecurityChoices.h"
#include "platform/Text.h"

namespace orvex {
namespace {

QPushButton* Button(const QString& caption, const char* name, QWidget* parent) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(QLatin1String(name));
  return button;
}

QLineEdit* Edit(const char* name, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QLatin1String(name));
  return edit;
}

// OK and Cancel side by side under a form; Escape answers Cancel (QDialog's own rule).
QHBoxLayout* OkCancelRow(QPushButton* ok, QPushButton* cancel) {
  auto* row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(ok);
  row->addWidget(cancel);
  return row;
}

void FixBorders(QDialog* dialog) {
  dialog->setModal(true);
  dialog->setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);
  dialog->layout()->setSizeConstraint(QLayout::SetFixedSize);
}

// The form above the OK and Cancel row, which accept and reject the dialog.
void LayOutFormDialog(QDialog* dialog, QFormLayout* form, QPushButton* ok, QPushButton* cancel) {
  auto* layout = new QVBoxLayout(dialog);
  layout->addLayout(form);
  layout->addLayout(OkCancelRow(ok, cancel));
  FixBorders(dialog);
  QObject::connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
  QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
}

}  // namespace

TForm2::TForm2(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("Form2"));
  setWindowTitle(QStringLiteral("Select a maillist"));
  ListBox1 = new QListWidget(this);
  ListBox1->setObjectName(QStringLiteral("ListBox1"));
  ListBox1->setFixedSize(260, 180);
  SelectButton = Button(QStringLiteral("Select"), "SelectButton", this);
  CancelButton = Button(QStringLiteral("Cancel"), "CancelButton", this);
  SelectButton->setDefault(true);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(SelectButton);
  buttons->addWidget(CancelButton);
  buttons->addStretch();
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(ListBox1);
  layout->addLayout(buttons);
  FixBorders(this);
  connect(SelectButton, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
  connect(ListBox1, &QListWidget::itemDoubleClicked, this, [this] {
    if (SelectButton->isEnabled()) accept();
  });
}

void TForm2::SetEntries(std::vector<Entry> entries) {
  ListBox1->clear();
  directories_.clear();
  for (auto& entry : entries) {
    ListBox1->addItem(entry.name);
    directories_.push_back(std::move(entry.directory));
  }
  SelectButton->setEnabled(!directories_.empty());
  if (!directories_.empty()) ListBox1->setCurrentRow(0);
}

std::string TForm2::ChosenDirectory() const {
  const int row = ListBox1->currentRow();
  if (row < 0 || static_cast<std::size_t>(row) >= directories_.size()) return {};
  return directories_[static_cast<std::size_t>(row)];
}

TForm3::TForm3(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("Form3"));
  Host = Edit("Host", this);
  Port = new BoundedSpinBox(1, 65535, this);
  Port->setObjectName(QStringLiteral("Port"));
  User = Edit("User", this);
  Password = Edit("Password", this);
  Password->setEchoMode(QLineEdit::Password);
  Password->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
  Security = new ChoiceBox(SecurityChoices(), this);
  Security->setObjectName(QStringLiteral("Security"));
  Fingerprint = Edit("Fingerprint", this);
  Fingerprint->setPlaceholderText(QStringLiteral("SHA-256, optional"));
  AuthMethod = new ChoiceBox({QStringLiteral("Password"), QStringLiteral("OAuth 2.0 token")}, this);
  AuthMethod->setObjectName(QStringLiteral("AuthMethod"));
  AuthMethod->setToolTip(
      QStringLiteral("OAuth 2.0: sign the account in with \"orvex-admin oauth login\""));
  Host->setMinimumWidth(200);
  OkButton = Button(QStringLiteral("OK"), "OkButton", this);
  CancelButton = Button(QStringLiteral("Cancel"), "CancelButton", this);
  OkButton->setDefault(true);
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Host"), Host);
  form->addRow(QStringLiteral("Port"), Port);
  form->addRow(QStringLiteral("User"), User);
  form->addRow(QStringLiteral("Password"), Password);
  form->addRow(QStringLiteral("Security"), Security);
  form->addRow(QStringLiteral("Fingerprint"), Fingerprint);
  form->addRow(QStringLiteral("Sign in with"), AuthMethod);
  LayOutFormDialog(this, form, OkButton, CancelButton);
  connect(Security, &ChoiceBox::Chosen, this, [this](int choice) {
    if (auto port = SuggestedPort(MailService::Pop3, choice, Port->StoredValue()))
      Port->setValue(*port);
  });
}

void TForm3::accept() {
  if (acceptCheck_ && !acceptCheck_()) return;
  QDialog::accept();
}

void TForm3::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  Host->setFocus();
}

long long AuthMethodChoice(const std::string& stored) {
  const std::string_view text = Trim(stored, Blanks::Spaces);
  if (text.empty() || EqualsIgnoreCase(text, "password")) return 0;
  if (EqualsIgnoreCase(text, "oauth2")) return 1;
  return -1;
}

std::string AuthMethodText(long long choice, const std::string& stored) {
  if (choice == AuthMethodChoice(stored)) return stored;
  return choice == 1 ? "oauth2" : "password";
}

TForm4::TForm4(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("Form4"));
  setWindowTitle(QStringLiteral("Adding a new subscriber"));
  Address = Edit("Address", this);
  Password = Edit("Password", this);
  Address->setMinimumWidth(220);
  OkButton = Button(QStringLiteral("OK"), "OkButton", this);
  CancelButton = Button(QStringLiteral("Cancel"), "CancelButton", this);
  OkButton->setDefault(true);
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Address"), Address);
  form->addRow(QStringLiteral("Password"), Password);
  LayOutFormDialog(this, form, OkButton, CancelButton);
}

}  // namespace orvex
