// Spin boxes that never alter a stored value the operator left alone.
#include "editor/BoundedSpinBox.h"

#include <QLineEdit>
#include <algorithm>
#include <limits>

namespace orvex {

BoundedSpinBox::BoundedSpinBox(int minimum, int maximum, QWidget* parent)
    : QSpinBox(parent), minimum_(minimum), maximum_(maximum) {
  setRange(minimum, maximum);
  connect(this, &QSpinBox::valueChanged, this, [this](int value) {
    if (holdsStored_ && value != stored_) holdsStored_ = false;
  });
  connect(lineEdit(), &QLineEdit::textEdited, this, [this] { holdsStored_ = false; });
}

void BoundedSpinBox::SetStoredValue(long long value) {
  const long long shown = std::clamp<long long>(value, std::numeric_limits<int>::min(),
                                                std::numeric_limits<int>::max());
  setRange(static_cast<int>(std::min<long long>(minimum_, shown)),
           static_cast<int>(std::max<long long>(maximum_, shown)));
  setValue(static_cast<int>(shown));
  stored_ = value;
  holdsStored_ = true;
}

long long BoundedSpinBox::StoredValue() const {
  if (holdsStored_) return stored_;
  return std::clamp(value(), minimum_, maximum_);
}

void BoundedSpinBox::KeepWithinRange() {
  holdsStored_ = false;
  if (minimum() != minimum_ || maximum() != maximum_) setRange(minimum_, maximum_);
}

void BoundedSpinBox::stepBy(int steps) {
  // An out-of-range value first comes back to the nearest end; the arrows then move from there.
  const bool outside = value() < minimum_ || value() > maximum_;
  KeepWithinRange();
  if (!outside) QSpinBox::stepBy(steps);
}

QValidator::State BoundedSpinBox::validate(QString& input, int& pos) const {
  if (holdsStored_ && input == textFromValue(value())) return QValidator::Acceptable;
  const QString text = input.trimmed();
  if (text.isEmpty() || text == QLatin1String("-") || text == QLatin1String("+"))
    return QValidator::Intermediate;
  bool ok = false;
  const long long number = text.toLongLong(&ok);
  if (!ok) return QValidator::Invalid;
  if (number > maximum_) return number < 0 ? QValidator::Intermediate : QValidator::Invalid;
  if (number < minimum_) return QValidator::Intermediate;
  (void)pos;
  return QValidator::Acceptable;
}

}  // namespace orvex
