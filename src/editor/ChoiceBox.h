// A drop-down list of fixed choices that edits a stored integer. A stored value with no choice of
// its own shows no choice and is given back unchanged until the operator picks one.
#pragma once

#include <QComboBox>
#include <QStringList>

namespace orvex {

class ChoiceBox : public QComboBox {
  Q_OBJECT

 public:
  explicit ChoiceBox(const QStringList& choices, QWidget* parent = nullptr);

  // Shows choice `value` (0 for the first); any other value shows none.
  void SetStoredValue(long long value);
  // The chosen index once the operator picked one, otherwise the value given to SetStoredValue.
  long long StoredValue() const;

 signals:
  // The operator picked a choice (never sent for SetStoredValue).
  void Chosen(int index);

 private:
  long long stored_ = 0;
  bool picked_ = false;
};

}  // namespace orvex
