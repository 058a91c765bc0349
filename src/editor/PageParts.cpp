// Named controls, the report view, radio groups and byte-keeping text boxes.
#include "editor/PageParts.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>

#include "editor/BoundedSpinBox.h"

namespace orvex {

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

void ChooseButton(QButtonGroup* group, long long index) {
  const auto buttons = group->buttons();
  group->setExclusive(false);
  for (QAbstractButton* button : buttons) button->setChecked(false);
  group->setExclusive(true);
  if (index < 0) return;
  group->button(static_cast<int>(std::min<long long>(index, buttons.size() - 1)))->setChecked(true);
}

void TextField::Fill(std::string bytes) {
  edit->setText(DecodeText(bytes));
  stored = FieldText(std::move(bytes), edit->text());
}

std::string TextField::Bytes() const {
  return stored.BytesFor(edit->text());
}

}  // namespace orvex
