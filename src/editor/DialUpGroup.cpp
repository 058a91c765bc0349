// The dial-up group: its fields, the phonebook entries, and section DialUp of orvex.ini.
#include "editor/DialUpGroup.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "crypto/Passwords.h"
#include "editor/BoundedSpinBox.h"
#include "platform/DialUpBackend.h"
#include "platform/Text.h"
#include "store/IniFile.h"

namespace orvex {
namespace {

constexpr const char* kDialUpSection = "DialUp";

}  // namespace

DialUpGroup::DialUpGroup(std::string iniPath, DialUpBackend& backend, QWidget* parent)
    : QGroupBox(QStringLiteral(" Dial-up "), parent), iniPath_(std::move(iniPath)) {
  setObjectName(QStringLiteral("DialUpGroup"));
  setMinimumHeight(190);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 4, 6, 4);
  UseDialUp = new QCheckBox(QStringLiteral("Use dial-up connection"), this);
  UseDialUp->setObjectName(QStringLiteral("UseDialUp"));
  layout->addWidget(UseDialUp);
  CreateFields();
  layout->addWidget(fields_);
  layout->addStretch();

  connect(UseDialUp, &QCheckBox::clicked, this, [this] {
    ShowFields();
    FieldChanged();
  });
  connect(phonebookEntry_, &QComboBox::currentIndexChanged, this, &DialUpGroup::FieldChanged);
  for (QLineEdit* edit : {user_.edit, password_.edit})
    connect(edit, &QLineEdit::textChanged, this, &DialUpGroup::FieldChanged);
  for (BoundedSpinBox* spin : {Attempts, Pause})
    connect(spin, &QSpinBox::valueChanged, this, &DialUpGroup::FieldChanged);
  ListPhonebookEntries(backend);
}

void DialUpGroup::CreateFields() {
  fields_ = new QWidget(this);
  fields_->setObjectName(QStringLiteral("DialUpFields"));
  auto* fields = new QGridLayout(fields_);
  fields->setContentsMargins(0, 0, 0, 0);
  fields->setVerticalSpacing(3);
  phonebookEntry_ = new QComboBox(fields_);
  phonebookEntry_->setObjectName(QStringLiteral("DialUp"));
  phonebookEntry_->setEditable(false);
  user_.edit = NamedEdit("DialUpUser", fields_);
  password_.edit = NamedEdit("DialUpPass", fields_);
  password_.edit->setEchoMode(QLineEdit::Password);
  password_.edit->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
  Attempts = NamedSpin(0, 100, "Attempts", fields_);
  Pause = NamedSpin(0, 100, "Pause", fields_);
  const auto label = [this](const char* text) { return new QLabel(QLatin1String(text), fields_); };
  fields->addWidget(label("Phonebook entry"), 0, 0, 1, 3);
  fields->addWidget(phonebookEntry_, 1, 0, 1, 3);
  fields->addWidget(label("User name"), 2, 0);
  fields->addWidget(user_.edit, 2, 1, 1, 2);
  fields->addWidget(label("Password"), 3, 0);
  fields->addWidget(password_.edit, 3, 1, 1, 2);
  fields->addWidget(label("Attempt"), 4, 0);
  fields->addWidget(Attempts, 4, 1);
  fields->addWidget(label("times"), 4, 2);
  // The column is narrow: the long label gets a row of its own.
  fields->addWidget(label("Pause between attempts "), 5, 0, 1, 3);
  fields->addWidget(Pause, 6, 1);
  fields->addWidget(label("sec"), 6, 2);
  fields_->hide();
}

void DialUpGroup::ListPhonebookEntries(DialUpBackend& backend) {
  phonebookEntry_->clear();
  phonebookEntries_.clear();
  try {
    phonebookEntries_ = backend.ListEntries();
  } catch (const std::exception& error) {
    // The group stays usable without entries; the reason is there for the operator to see.
    phonebookUnavailable_ = true;
    phonebookEntry_->setPlaceholderText(QStringLiteral("(not available)"));
    phonebookEntry_->setToolTip(QStringLiteral("The connections cannot be listed: ") +
                                QString::fromUtf8(error.what()));
  }
  for (const std::string& entry : phonebookEntries_) phonebookEntry_->addItem(DecodeText(entry));
  phonebookEntry_->setCurrentIndex(-1);
}

void DialUpGroup::ShowFields() {
  // Hidden fields keep their values; a save writes them all.
  fields_->setVisible(UseDialUp->isChecked());
}

void DialUpGroup::SetSaved(bool saved) {
  saved_ = saved;
  emit SavedChanged(saved);
}

void DialUpGroup::FieldChanged() {
  if (filling_) return;
  SetSaved(false);
}

void DialUpGroup::Load() {
  filling_ = true;
  const IniFile ini(iniPath_, FileMode::Private);
  UseDialUp->setChecked(ini.ReadBool(kDialUpSection, "Use dialup", false));
  ShowFields();
  user_.Fill(ini.ReadString(kDialUpSection, "User", ""));
  password_.Fill(DecipherPassword(ini.ReadString(kDialUpSection, "Password", "")));
  Attempts->SetStoredValue(ini.ReadInteger(kDialUpSection, "Attempts", 1));
  Pause->SetStoredValue(ini.ReadInteger(kDialUpSection, "Pause", 30));
  storedEntry_ = ini.ReadString(kDialUpSection, "Entry", "");
  // An entry that is no longer listed leaves the choice as it was.
  for (std::size_t i = 0; i < phonebookEntries_.size(); ++i) {
    if (EqualsIgnoreCase(phonebookEntries_[i], storedEntry_)) {
      phonebookEntry_->setCurrentIndex(static_cast<int>(i));
      break;
    }
  }
  SetSaved(true);
  filling_ = false;
}

void DialUpGroup::Save() {
  const int chosen = phonebookEntry_->currentIndex();
  std::string entry;
  if (chosen >= 0 && static_cast<std::size_t>(chosen) < phonebookEntries_.size())
    entry = phonebookEntries_[static_cast<std::size_t>(chosen)];
  else if (phonebookUnavailable_)
    entry = storedEntry_;  // nothing could be chosen: a failed listing must not erase the entry
  IniFile ini(iniPath_, FileMode::Private);
  ini.WriteBool(kDialUpSection, "Use dialup", UseDialUp->isChecked());
  ini.WriteString(kDialUpSection, "User", user_.Bytes());
  ini.WriteString(kDialUpSection, "Password", EncipherPassword(password_.Bytes()));
  ini.WriteInteger(kDialUpSection, "Attempts", Attempts->StoredValue());
  ini.WriteInteger(kDialUpSection, "Pause", Pause->StoredValue());
  ini.WriteString(kDialUpSection, "Entry", entry);
  ini.Save();
  storedEntry_ = entry;
  SetSaved(true);
}

}  // namespace orvex
