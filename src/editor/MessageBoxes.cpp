// Message boxes on the screen.
#include "editor/MessageBoxes.h"

#include <QMessageBox>

namespace orvex {

BoxAnswer ScreenMessageBoxes::Show(QWidget* parent, BoxKind kind, const QString& text,
                                   BoxButtons buttons) {
  QMessageBox::Icon icon = QMessageBox::Warning;
  QString caption = QStringLiteral("Warning");
  if (kind == BoxKind::Confirmation) {
    icon = QMessageBox::Question;
    caption = QStringLiteral("Confirm");
  } else if (kind == BoxKind::Error) {
    icon = QMessageBox::Critical;
    caption = QStringLiteral("Error");
  }
  QMessageBox::StandardButtons standard = QMessageBox::Ok;
  if (buttons == BoxButtons::OkCancel) standard = QMessageBox::Ok | QMessageBox::Cancel;
  if (buttons == BoxButtons::YesNoCancel)
    standard = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
  // The system's texts separate lines with CR LF; the box wants plain line feeds.
  QString shown = text;
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  QMessageBox box(icon, caption, shown, standard, parent);
  switch (box.exec()) {
    case QMessageBox::Ok:
      return BoxAnswer::Ok;
    case QMessageBox::Yes:
      return BoxAnswer::Yes;
    case QMessageBox::No:
      return BoxAnswer::No;
    default:
      return BoxAnswer::Cancel;
  }
}

}  // namespace orvex
