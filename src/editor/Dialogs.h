// The three modal dialogs of the editor. Each is created once and reused, so it shows the texts
// of its previous use unless its caller sets them.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <string>
#include <vector>

class QLineEdit;
class QListWidget;
class QPushButton;

namespace orvex {

class BoundedSpinBox;
class ChoiceBox;

// The list selection dialog: the names of the lists, and beside them, position for position,
// their directory names.
class TForm2 final : public QDialog {
  Q_OBJECT

 public:
  explicit TForm2(QWidget* parent = nullptr);

  struct Entry {
    QString name;
    std::string directory;
  };
  // Fills the box; "Select" is usable exactly when there is a name, and the first is chosen.
  void SetEntries(std::vector<Entry> entries);
  // The directory name at the chosen position; empty when nothing is chosen.
  std::string ChosenDirectory() const;

  QListWidget* ListBox1;
  QPushButton* SelectButton;
  QPushButton* CancelButton;

 private:
  std::vector<std::string> directories_;
};

// The POP3 server dialog; its caption is set by the caller. Choosing a security suggests its
// conventional port.
class TForm3 final : public QDialog {
  Q_OBJECT

 public:
  explicit TForm3(QWidget* parent = nullptr);

  // Asked on OK; the dialog stays open while it answers false (it tells the operator why).
  void SetAcceptCheck(std::function<bool()> check) { acceptCheck_ = std::move(check); }
  void accept() override;

  QLineEdit* Host;
  BoundedSpinBox* Port;
  QLineEdit* User;
  QLineEdit* Password;
  ChoiceBox* Security;
  QLineEdit* Fingerprint;
  ChoiceBox* AuthMethod;  // 0 the password, 1 an OAuth 2.0 token (orvex-admin oauth login)
  QPushButton* OkButton;
  QPushButton* CancelButton;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  std::function<bool()> acceptCheck_;
};

// The choice of TForm3::AuthMethod for a stored Pop3AuthMethod<n>: 0 password (also empty), 1
// oauth2, -1 a value of no choice; and the text to store for a choice, which keeps the stored
// text while the choice is the one it stands for.
long long AuthMethodChoice(const std::string& stored);
std::string AuthMethodText(long long choice, const std::string& stored);

// The new subscriber dialog.
class TForm4 final : public QDialog {
  Q_OBJECT

 public:
  explicit TForm4(QWidget* parent = nullptr);

  QLineEdit* Address;
  QLineEdit* Password;
  QPushButton* OkButton;
  QPushButton* CancelButton;
};

}  // namespace orvex
