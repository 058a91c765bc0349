// A spin box that shows a stored value outside its range as it is and gives it back unchanged
// until the operator edits the box; edits stay within the range.
#pragma once

#include <QSpinBox>

namespace orvex {

class BoundedSpinBox : public QSpinBox {
  Q_OBJECT

 public:
  BoundedSpinBox(int minimum, int maximum, QWidget* parent = nullptr);

  // Shows `value`; a value outside the range widens the box to hold it until the first edit.
  void SetStoredValue(long long value);
  // The value to store: the one given to SetStoredValue while the operator has not changed it.
  long long StoredValue() const;

  void stepBy(int steps) override;

 protected:
  QValidator::State validate(QString& input, int& pos) const override;

 private:
  void KeepWithinRange();

  int minimum_;
  int maximum_;
  long long stored_ = 0;
  bool holdsStored_ = false;
};

}  // namespace orvex
