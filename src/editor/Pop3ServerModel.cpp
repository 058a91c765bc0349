// The POP3 server rows and how the list view shows them.
#include "editor/Pop3ServerModel.h"

#include "editor/SecurityChoices.h"
#include "editor/SettingsText.h"

namespace orvex {

int Pop3ServerModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(servers_.size());
}

int Pop3ServerModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant Pop3ServerModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !checkIndex(index, CheckIndexOption::IndexIsValid)) return {};
  const Pop3Server& server = servers_[static_cast<std::size_t>(index.row())];
  switch (index.column()) {
    case kHost:
      return DecodeText(server.host);
    case kPort:
      return DecodeText(server.port);
    case kUser:
      return DecodeText(server.user);
    case kPassword:
      return QString(DecodeText(server.password).size(), QLatin1Char('*'));
    default:
      return SecurityName(server.security);
  }
}

QVariant Pop3ServerModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  static const char* const kTitles[] = {"Host", "Port", "User", "Password", "Security"};
  if (section < 0 || section >= kColumnCount) return {};
  return QString::fromLatin1(kTitles[section]);
}

void Pop3ServerModel::SetServers(std::vector<Pop3Server> servers) {
  beginResetModel();
  servers_ = std::move(servers);
  endResetModel();
}

void Pop3ServerModel::Append(Pop3Server server) {
  const int row = rowCount();
  beginInsertRows({}, row, row);
  servers_.push_back(std::move(server));
  endInsertRows();
}

void Pop3ServerModel::Replace(int row, Pop3Server server) {
  if (row < 0 || row >= rowCount()) return;
  servers_[static_cast<std::size_t>(row)] = std::move(server);
  emit dataChanged(index(row, 0), index(row, kColumnCount - 1), {Qt::DisplayRole});
}

void Pop3ServerModel::Remove(int row) {
  if (row < 0 || row >= rowCount()) return;
  beginRemoveRows({}, row, row);
  servers_.erase(servers_.begin() + row);
  endRemoveRows();
}

}  // namespace orvex
