// The POP3 servers of a list on the general page: the table, its Add, Edit and Delete, and the
// numbered Pop3... keys of section General.
#pragma once

#include <QGroupBox>

#include <vector>

#include "editor/PageParts.h"
#include "editor/Pop3ServerModel.h"

class QPushButton;
class QTableView;

namespace orvex {

class IniFile;
class MessageBoxes;
class TForm3;

class Pop3ServersGroup final : public QGroupBox {
  Q_OBJECT

 public:
  Pop3ServersGroup(MessageBoxes& boxes, const ActionRunner& run, QWidget* parent = nullptr);

  // The dialog that adds and edits a server; OK in it refuses a fingerprint not of the SHA-256
  // form. Created after the window's pages, so it comes here once it exists.
  void SetDialog(TForm3* dialog);

  void Load(const IniFile& source);
  // Refuses (orvex::Error naming the server by number and host) a fingerprint not of the
  // SHA-256 form.
  void CheckFingerprints() const;
  // Pop3Count and the keys of each server, numbered from 1 in the table's order.
  void Save(IniFile& ini) const;
  // Replaces every server (a provider preset's), as an edit.
  void SetServers(std::vector<Pop3Server> servers);

 signals:
  void Changed();

 private:
  int SelectedRow() const;
  void UpdateButtons();
  void AddServer();
  void EditServer();
  void DeleteServer();

  MessageBoxes& boxes_;
  TForm3* dialog_ = nullptr;
  QTableView* POP3 = nullptr;
  Pop3ServerModel* model_ = nullptr;
  QPushButton* edit_ = nullptr;
  QPushButton* delete_ = nullptr;
};

}  // namespace orvex
