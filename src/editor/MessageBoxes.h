// The one seam through which the editor asks questions and reports errors, so that tests can
// answer them without a modal box on the screen.
#pragma once

#include <QString>

class QWidget;

namespace orvex {

enum class BoxKind { Warning, Confirmation, Error };
enum class BoxButtons { Ok, OkCancel, YesNoCancel };
enum class BoxAnswer { Ok, Cancel, Yes, No };

class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  virtual BoxAnswer Show(QWidget* parent, BoxKind kind, const QString& text,
                         BoxButtons buttons) = 0;
};

// Real modal message boxes.
class ScreenMessageBoxes final : public MessageBoxes {
 public:
  BoxAnswer Show(QWidget* parent, BoxKind kind, const QString& text, BoxButtons buttons) override;
};

}  // namespace orvex
