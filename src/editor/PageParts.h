// The building blocks the editor's pages share: controls made with their object names (the tests
// and screenshots find them by name), the report-style table, a group of radio buttons, text
// boxes that give back the bytes they were filled with, and the runner of an operator's action.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <string>

#include "editor/SettingsText.h"

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QTableView;
class QWidget;

namespace orvex {

class BoundedSpinBox;

// The section of maillist.ini that holds everything but the notices.
inline constexpr const char* kGeneralSection = "General";

// Runs one operator action; an error ends it and is shown in an error box (the answer is false
// then). The main window gives its pages one, so that every button reports the same way.
using ActionRunner = std::function<bool(const std::function<void()>&)>;

QPushButton* NamedButton(const QString& caption, const char* name, QWidget* parent);
QLineEdit* NamedEdit(const char* name, QWidget* parent);
QCheckBox* NamedCheck(const QString& caption, const char* name, QWidget* parent);
BoundedSpinBox* NamedSpin(int minimum, int maximum, const char* name, QWidget* parent);
// A read-only table with one selectable row at a time and no row numbers.
QTableView* ReportView(const char* name, QWidget* parent);
// A titled box of radio buttons named `name` + "Button" + position, `group` set to their group
// (ids are the positions).
QGroupBox* RadioGroup(const QString& title, const char* name, const QStringList& captions,
                      QButtonGroup*& group, QWidget* parent);
// Checks button `index` of the group; an index below the buttons checks none, one above them
// the last.
void ChooseButton(QButtonGroup* group, long long index);

// A text box and the stored bytes it was filled with, so that a value the operator leaves alone
// goes back to the file unchanged.
struct TextField {
  QLineEdit* edit = nullptr;
  FieldText stored;

  void Fill(std::string bytes);
  std::string Bytes() const;
};

}  // namespace orvex
