// The subscribers page of the main window: the lines of subscribers.ini in a table, with New,
// Delete, the three flag switches and Find.
#pragma once

#include <QWidget>
#include <string>

#include "editor/PageParts.h"

class QLineEdit;
class QPushButton;
class QTableView;

namespace orvex {

class MessageBoxes;
class NameValueList;
class SubscriberModel;
class TForm4;

class SubscribersPage final : public QWidget {
  Q_OBJECT

 public:
  SubscribersPage(MessageBoxes& boxes, const ActionRunner& run, QWidget* parent = nullptr);

  // The dialog that asks for a new subscriber. Created after the window's pages, so it comes
  // here once it exists.
  void SetNewSubscriberDialog(TForm4* dialog);

  void Load(NameValueList lines);
  // Replaces the file at `path` once, atomically, with the lines shown (mode 0600).
  void Save(const std::string& path) const;

 signals:
  void Changed();

 private:
  int SelectedRow() const;
  void SelectionChanged();
  void NewSubscriber();
  void DeleteSubscriber();
  void ToggleFlag(char letter);
  void FindSubscriber();

  MessageBoxes& boxes_;
  TForm4* dialog_ = nullptr;
  QTableView* SSList = nullptr;
  SubscriberModel* model_ = nullptr;
  QPushButton* delete_ = nullptr;
  QPushButton* digest_ = nullptr;
  QPushButton* pause_ = nullptr;
  QPushButton* disable_ = nullptr;
  QLineEdit* Find = nullptr;
};

}  // namespace orvex
