// The templates page of the main window: the 16 notice slots of maillist.ini, one shown at a
// time, with a context menu of edit actions and placeholders on its subject and text.
#pragma once

#include <QWidget>
#include <array>
#include <memory>

#include "editor/NoticeSlots.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;

namespace orvex {

class IniFile;

class TemplatesPage final : public QWidget {
  Q_OBJECT

 public:
  explicit TemplatesPage(QWidget* parent = nullptr);

  // Takes the list's notices; the fields show them at the next ShowChosenSlot().
  void Load(const IniFile& source);
  // Writes the notice sections in their order, leaving alone a value that was cut on reading
  // and not edited.
  void Save(IniFile& ini) const;

  // Shows the slot chosen in the selector (nothing when none is chosen).
  void ShowChosenSlot();
  // Clears the choice, so that the page shows no slot.
  void ChooseNoSlot();

 signals:
  // The operator edited the shown subject or text.
  void Changed();

 private:
  void FieldChanged();

  std::array<NoticeSlot, kNoticeSlotCount> slots_;
  // Set while the fields are filled from a slot, so that filling is no edit.
  bool filling_ = false;
  QComboBox* ComboBox1 = nullptr;
  QLabel* subjectLabel_ = nullptr;
  QLineEdit* Subject = nullptr;
  QPlainTextEdit* Template = nullptr;
};

// The context menu of the page's `Subject` and `Template`: undo, cut, copy, paste and the
// placeholders. Empty for any other kind of widget.
std::unique_ptr<QMenu> CreateEditMenu(QWidget* field);

}  // namespace orvex
