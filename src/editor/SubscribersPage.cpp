// The subscribers page: the table of subscriber lines and its buttons.
#include "editor/SubscribersPage.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "editor/Dialogs.h"
#include "editor/MessageBoxes.h"
#include "editor/SubscriberModel.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"

namespace orvex {

SubscribersPage::SubscribersPage(MessageBoxes& boxes, const ActionRunner& run, QWidget* parent)
    : QWidget(parent), boxes_(boxes) {
  setObjectName(QStringLiteral("SubscribersPage"));
  auto* layout = new QGridLayout(this);
  SSList = ReportView("SSList", this);
  model_ = new SubscriberModel(this);
  SSList->setModel(model_);
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
  auto* add = NamedButton(QStringLiteral("New"), "SSNew", this);
  delete_ = NamedButton(QStringLiteral("Delete"), "SSDelete", this);
  digest_ = NamedButton(QStringLiteral("Digest on"), "SSDigest", this);
  pause_ = NamedButton(QStringLiteral("Pause"), "SSPause", this);
  disable_ = NamedButton(QStringLiteral("Disable"), "SSDisable", this);
  for (QPushButton* button : {add, delete_, digest_, pause_, disable_}) buttons->addWidget(button);
  buttons->addStretch();
  layout->addLayout(buttons, 0, 1);

  auto* findRow = new QHBoxLayout;
  Find = NamedEdit("Find", this);
  auto* findButton = NamedButton(QStringLiteral("Find"), "FindButton", this);
  findRow->addWidget(Find);
  findRow->addWidget(findButton);
  layout->addLayout(findRow, 1, 0, 1, 2);

  const auto on = [this, run](QPushButton* button, auto action) {
    connect(button, &QPushButton::clicked, this, [this, run, action] { run([=] { action(); }); });
  };
  on(add, [this] { NewSubscriber(); });
  on(delete_, [this] { DeleteSubscriber(); });
  on(digest_, [this] { ToggleFlag('d'); });
  on(pause_, [this] { ToggleFlag('p'); });
  on(disable_, [this] { ToggleFlag('b'); });
  on(findButton, [this] { FindSubscriber(); });
  connect(SSList->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &SubscribersPage::SelectionChanged);
  connect(model_, &QAbstractItemModel::modelReset, this, &SubscribersPage::SelectionChanged);
  SelectionChanged();
}

void SubscribersPage::SetNewSubscriberDialog(TForm4* dialog) {
  dialog_ = dialog;
}

void SubscribersPage::Load(NameValueList lines) {
  model_->SetLines(std::move(lines));
}

void SubscribersPage::Save(const std::string& path) const {
  ReplaceFileAtomically(path, model_->Lines().Text(), FileMode::Private);
}

int SubscribersPage::SelectedRow() const {
  const auto rows = SSList->selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.front().row();
}

void SubscribersPage::SelectionChanged() {
  const int row = SelectedRow();
  delete_->setEnabled(row >= 0);
  const auto flags = row >= 0 ? model_->Flags(row) : std::nullopt;
  // A line without items has no flags to switch.
  for (QPushButton* button : {digest_, pause_, disable_}) button->setEnabled(flags.has_value());
  const std::string letters = flags.value_or(std::string());
  auto has = [&](char letter) { return letters.find(letter) != std::string::npos; };
  digest_->setText(has('d') ? QStringLiteral("Digest off") : QStringLiteral("Digest on"));
  pause_->setText(has('p') ? QStringLiteral("Resume") : QStringLiteral("Pause"));
  disable_->setText(has('b') ? QStringLiteral("Enable") : QStringLiteral("Disable"));
}

void SubscribersPage::NewSubscriber() {
  if (dialog_->exec() != QDialog::Accepted) return;
  const std::string address = EncodeText(dialog_->Address->text());
  const int existing = model_->RowOf(address);
  if (existing >= 0) {
    SSList->selectRow(existing);
    SelectionChanged();
    return;
  }
  model_->Add(address,
              std::string(Trim(EncodeText(dialog_->Password->text()), Blanks::ControlsButNul)));
  emit Changed();
  SelectionChanged();
}

void SubscribersPage::DeleteSubscriber() {
  const int row = SelectedRow();
  if (row < 0) return;
  if (boxes_.Show(window(), BoxKind::Confirmation, QStringLiteral("Delete selected subscriber?"),
                  BoxButtons::OkCancel) != BoxAnswer::Ok)
    return;
  model_->Remove(row);
  SelectionChanged();
  emit Changed();
}

void SubscribersPage::ToggleFlag(char letter) {
  const int row = SelectedRow();
  if (row < 0) return;
  model_->ToggleFlag(row, letter);
  SelectionChanged();
  emit Changed();
}

void SubscribersPage::FindSubscriber() {
  const QModelIndex focused = SSList->currentIndex();
  const int row = model_->Find(Find->text(), focused.isValid() ? focused.row() + 1 : 0);
  if (row < 0) return;
  const QModelIndex match = model_->index(row, SubscriberModel::kAddress);
  SSList->setCurrentIndex(match);
  SSList->selectRow(row);
  SSList->scrollTo(match, QAbstractItemView::EnsureVisible);
}

}  // namespace orvex
