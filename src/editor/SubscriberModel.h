// The subscriber lines of the shown list (the in-memory subscribers.ini) behind the subscriber
// view: rows are the lines in file order, the view asks for a row only when it draws it.
#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <optional>
#include <string>

#include "store/NameValueList.h"

namespace orvex {

class SubscriberModel final : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kAddress, kDigest, kPaused, kBlocked, kColumnCount };

  explicit SubscriberModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  void SetLines(NameValueList lines);
  const NameValueList& Lines() const { return lines_; }

  // The flags text of the row's subscriber (item 1 of the value of the first line with its
  // name); nothing for a line whose value has no items, which has no flags to show or switch.
  std::optional<std::string> Flags(int row) const;
  // Adds a subscriber with no flags; the password is stored by the comma-list writing rule so
  // that blanks, commas and quotes stay part of it. Returns the row.
  int Add(const std::string& address, const std::string& password);
  // The row of the first line with that name (letter case ignored), or -1.
  int RowOf(const std::string& address) const;
  void Remove(int row);
  // Sets the flag letter when it is absent, removes every occurrence otherwise. Other items of
  // the value stay as they are. Does nothing for a line whose value has no items.
  void ToggleFlag(int row, char letter);
  // The first row from `start` on whose address holds `text`, ASCII letters compared in capitals;
  // -1 when none (an empty text matches nothing).
  int Find(const QString& text, int start) const;

 private:
  std::optional<std::string> ValueOf(int row) const;

  NameValueList lines_;
  QIcon mark_;
};

}  // namespace orvex
