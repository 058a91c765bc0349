// Drop-down lists that never alter a stored value the operator left alone.
#include "editor/ChoiceBox.h"

namespace orvex {

ChoiceBox::ChoiceBox(const QStringList& choices, QWidget* parent) : QComboBox(parent) {
  setEditable(false);
  addItems(choices);
  connect(this, &QComboBox::activated, this, [this](int index) {
    picked_ = true;
    emit Chosen(index);
  });
}

void ChoiceBox::SetStoredValue(long long value) {
  stored_ = value;
  picked_ = false;
  setCurrentIndex(value >= 0 && value < count() ? static_cast<int>(value) : -1);
}

long long ChoiceBox::StoredValue() const {
  return picked_ && currentIndex() >= 0 ? currentIndex() : stored_;
}

}  // namespace orvex
