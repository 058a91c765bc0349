// The dial-up group of the main window: the global dial-up settings of orvex.ini, saved and
// reverted on their own (the window's "Save" and "Revert" beside the group), untouched by saving
// or discarding a list.
#pragma once

#include <QGroupBox>
#include <string>
#include <vector>

#include "editor/PageParts.h"

class QCheckBox;
class QComboBox;

namespace orvex {

class BoundedSpinBox;
class DialUpBackend;

class DialUpGroup final : public QGroupBox {
  Q_OBJECT

 public:
  // Asks `backend` once, here, for the phonebook entries; `iniPath` is orvex.ini. The group
  // shows nothing of the file until Load().
  DialUpGroup(std::string iniPath, DialUpBackend& backend, QWidget* parent = nullptr);

  // Reads orvex.ini again (also "Revert"); the group is then saved.
  void Load();
  // Writes the group's keys to orvex.ini with one replacement of the file.
  void Save();
  bool Saved() const { return saved_; }

 signals:
  // The group became saved (loaded or written) or changed.
  void SavedChanged(bool saved);

 private:
  void CreateFields();
  void ListPhonebookEntries(DialUpBackend& backend);
  void ShowFields();
  void FieldChanged();
  void SetSaved(bool saved);

  std::string iniPath_;
  bool saved_ = true;
  // Set while the fields are filled from the file, so that filling is no edit.
  bool filling_ = true;
  TextField user_, password_;
  // The phonebook entries as the backend names them, position for position with the box.
  std::vector<std::string> phonebookEntries_;
  // The listing failed: no entry can be chosen, so a save keeps the stored one.
  bool phonebookUnavailable_ = false;
  std::string storedEntry_;

  QCheckBox* UseDialUp = nullptr;
  QWidget* fields_ = nullptr;
  // The phonebook entry to dial (object name "DialUp", as the tests know it).
  QComboBox* phonebookEntry_ = nullptr;
  BoundedSpinBox* Attempts = nullptr;
  BoundedSpinBox* Pause = nullptr;
};

}  // namespace orvex
