// The dial-up group of the main window: the global dial-up settings of orvex.ini, with their own
// "Save" and "Revert", untouched by saving or discarding a list.
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "crypto/Passwords.h"
#include "editor/BoundedSpinBox.h"
#include "editor/MessageBoxes.h"
#include "editor/OrvexEditorForm.h"
#include "platform/DialUpBackend.h"
#include "platform/Text.h"
#include "store/IniFile.h"

namespace orvex {
namespace {

constexpr const char* kDialUpSection = "DialUp";

}  // namespace

QWidget* TOrvexEditorForm::CreateDialUpGroup(QWidget* parent) {
  auto* group = new QGroupBox(QStringLiteral(" Dial-up "), parent);
  group->setObjectName(QStringLiteral("DialUpGroup"));
  group->setMinimumHeight(190);
  auto* layout = new QVBoxLayout(group);
  layout->setContentsMargins(6, 4, 6, 4);
  UseDialUp = new QCheckBox(QStringLiteral("Use dial-up connection"), group);
  UseDialUp->setObjectName(QStringLiteral("UseDialUp"));
  layout->addWidget(UseDialUp);

  dialUpFields_ = new QWidget(group);
  dialUpFields_->setObjectName(QStringLiteral("DialUpFields"));
  auto* fields = new QGridLayout(dialUpFields_);
  fields->setContentsMargins(0, 0, 0, 0);
  fields->setVerticalSpacing(3);
  DialUp = new QComboBox(dialUpFields_);
  DialUp->setObjectName(QStringLiteral("DialUp"));
  DialUp->setEditable(false);
  dialUpUser_.edit = new QLineEdit(dialUpFields_);
  dialUpUser_.edit->setObjectName(QStringLiteral("DialUpUser"));
  dialUpPass_.edit = new QLineEdit(dialUpFields_);
  dialUpPass_.edit->setObjectName(QStringLiteral("DialUpPass"));
  dialUpPass_.edit->setEchoMode(QLineEdit::Password);
  dialUpPass_.edit->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
  Attempts = new BoundedSpinBox(0, 100, dialUpFields_);
  Attempts->setObjectName(QStringLiteral("Attempts"));
  Pause = new BoundedSpinBox(0, 100, dialUpFields_);
  Pause->setObjectName(QStringLiteral("Pause"));
  fields->addWidget(new QLabel(QStringLiteral("Phonebook entry"), dialUpFields_), 0, 0, 1, 3);
  fields->addWidget(DialUp, 1, 0, 1, 3);
  fields->addWidget(new QLabel(QStringLiteral("User name"), dialUpFields_), 2, 0);
  fields->addWidget(dialUpUser_.edit, 2, 1, 1, 2);
  fields->addWidget(new QLabel(QStringLiteral("Password"), dialUpFields_), 3, 0);
  fields->addWidget(dialUpPass_.edit, 3, 1, 1, 2);
  fields->addWidget(new QLabel(QStringLiteral("Attempt"), dialUpFields_), 4, 0);
  fields->addWidget(Attempts, 4, 1);
  fields->addWidget(new QLabel(QStringLiteral("times"), dialUpFields_), 4, 2);
  // The column is narrow: the long label gets a row of its own.
  fields->addWidget(new QLabel(QStringLiteral("Pause between attempts "), dialUpFields_), 5, 0, 1,
                    3);
  fields->addWidget(Pause, 6, 1);
  fields->addWidget(new QLabel(QStringLiteral("sec"), dialUpFields_), 6, 2);
  dialUpFields_->hide();
  layout->addWidget(dialUpFields_);
  layout->addStretch();

  connect(UseDialUp, &QCheckBox::clicked, this, [this] {
    ShowDialUpFields();
    DialUpChanged();
  });
  connect(DialUp, &QComboBox::currentIndexChanged, this, &TOrvexEditorForm::DialUpChanged);
  for (QLineEdit* edit : {dialUpUser_.edit, dialUpPass_.edit})
    connect(edit, &QLineEdit::textChanged, this, &TOrvexEditorForm::DialUpChanged);
  for (BoundedSpinBox* spin : {Attempts, Pause})
    connect(spin, &QSpinBox::valueChanged, this, &TOrvexEditorForm::DialUpChanged);
  return group;
}

void TOrvexEditorForm::ListPhonebookEntries(DialUpBackend& dialUp) {
  DialUp->clear();
  phonebookEntries_.clear();
  try {
    phonebookEntries_ = dialUp.ListEntries();
  } catch (const std::exception& error) {
    // The group stays usable without entries; the reason is there for the operator to see.
    phonebookUnavailable_ = true;
    DialUp->setPlaceholderText(QStringLiteral("(not available)"));
    DialUp->setToolTip(QStringLiteral("The connections cannot be listed: ") +
                       QString::fromUtf8(error.what()));
  }
  for (const std::string& entry : phonebookEntries_) DialUp->addItem(DecodeText(entry));
  DialUp->setCurrentIndex(-1);
}

void TOrvexEditorForm::ShowDialUpFields() {
  // Hidden fields keep their values; a save writes them all.
  dialUpFields_->setVisible(UseDialUp->isChecked());
}

void TOrvexEditorForm::SetDialUpSaved(bool saved) {
  dialUpSaved_ = saved;
  dialUpSave_->setEnabled(!saved);
  dialUpRevert_->setEnabled(!saved);
}

void TOrvexEditorForm::DialUpChanged() {
  if (filling_) return;
  SetDialUpSaved(false);
}

void TOrvexEditorForm::LoadDialUp() {
  filling_ = true;
  const IniFile ini(OrvexIniPath(), FileMode::Private);
  UseDialUp->setChecked(ini.ReadBool(kDialUpSection, "Use dialup", false));
  ShowDialUpFields();
  FillText(dialUpUser_, ini.ReadString(kDialUpSection, "User", ""));
  FillText(dialUpPass_, DecipherPassword(ini.ReadString(kDialUpSection, "Password", "")));
  Attempts->SetStoredValue(ini.ReadInteger(kDialUpSection, "Attempts", 1));
  Pause->SetStoredValue(ini.ReadInteger(kDialUpSection, "Pause", 30));
  storedEntry_ = ini.ReadString(kDialUpSection, "Entry", "");
  // An entry that is no longer listed leaves the choice as it was.
  for (std::size_t i = 0; i < phonebookEntries_.size(); ++i) {
    if (EqualsIgnoreCase(phonebookEntries_[i], storedEntry_)) {
      DialUp->setCurrentIndex(static_cast<int>(i));
      break;
    }
  }
  SetDialUpSaved(true);
  filling_ = false;
}

void TOrvexEditorForm::SaveDialUp() {
  const int chosen = DialUp->currentIndex();
  std::string entry;
  if (chosen >= 0 && static_cast<std::size_t>(chosen) < phonebookEntries_.size())
    entry = phonebookEntries_[static_cast<std::size_t>(chosen)];
  else if (phonebookUnavailable_)
    entry = storedEntry_;  // nothing could be chosen: a failed listing must not erase the entry
  IniFile ini(OrvexIniPath(), FileMode::Private);
  ini.WriteBool(kDialUpSection, "Use dialup", UseDialUp->isChecked());
  ini.WriteString(kDialUpSection, "User", TextOf(dialUpUser_));
  ini.WriteString(kDialUpSection, "Password", EncipherPassword(TextOf(dialUpPass_)));
  ini.WriteInteger(kDialUpSection, "Attempts", Attempts->StoredValue());
  ini.WriteInteger(kDialUpSection, "Pause", Pause->StoredValue());
  ini.WriteString(kDialUpSection, "Entry", entry);
  ini.Save();
  storedEntry_ = entry;
  SetDialUpSaved(true);
}

QueryResult TOrvexEditorForm::QuerySaveDialUp() {
  if (dialUpSaved_) return QueryResult::Proceed;
  const BoxAnswer answer =
      boxes_.Show(this, BoxKind::Warning,
                  QStringLiteral("Dial-up configuration not saved\r\nDo you wish to save it?"),
                  BoxButtons::YesNoCancel);
  if (answer == BoxAnswer::Cancel) return QueryResult::Abort;
  if (answer == BoxAnswer::Yes) SaveDialUp();
  return QueryResult::Proceed;
}

}  // namespace orvex
