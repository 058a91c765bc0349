// Subscriber lines: reading flags, adding, removing, switching flags and finding addresses.
#include "editor/SubscriberModel.h"

#include <QPainter>
#include <QPixmap>

#include "editor/SettingsText.h"

namespace orvex {
namespace {

QIcon MakeMark() {
  QPixmap pixmap(12, 12);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(QColor(0, 110, 0), 2));
  painter.drawLine(QPointF(2, 6.5), QPointF(5, 9.5));
  painter.drawLine(QPointF(5, 9.5), QPointF(10, 2.5));
  return QIcon(pixmap);
}

QString AsciiUpper(QString text) {
  for (QChar& c : text)
    if (c >= QLatin1Char('a') && c <= QLatin1Char('z')) c = QChar(c.unicode() - 'a' + 'A');
  return text;
}

}  // namespace

SubscriberModel::SubscriberModel(QObject* parent)
    : QAbstractTableModel(parent), mark_(MakeMark()) {}

int SubscriberModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(lines_.Count());
}

int SubscriberModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant SubscriberModel::data(const QModelIndex& index, int role) const {
  if (!checkIndex(index, CheckIndexOption::IndexIsValid)) return {};
  const int row = index.row();
  if (index.column() == kAddress) {
    if (role == Qt::DisplayRole) return DecodeText(lines_.NameAt(static_cast<std::size_t>(row)));
    return {};
  }
  if (role == Qt::TextAlignmentRole) return int(Qt::AlignCenter);
  if (role != Qt::DecorationRole) return {};
  static constexpr char kLetters[] = {'\0', 'd', 'p', 'b'};
  const auto flags = Flags(row);
  if (flags && flags->find(kLetters[index.column()]) != std::string::npos) return mark_;
  return {};
}

QVariant SubscriberModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  static const char* const kTitles[] = {"Address", "D", "P", "B"};
  if (section < 0 || section >= kColumnCount) return {};
  return QString::fromLatin1(kTitles[section]);
}

void SubscriberModel::SetLines(NameValueList lines) {
  beginResetModel();
  lines_ = std::move(lines);
  endResetModel();
}

std::optional<std::string> SubscriberModel::ValueOf(int row) const {
  if (row < 0 || static_cast<std::size_t>(row) >= lines_.Count()) return std::nullopt;
  const std::string& line = lines_.Lines()[static_cast<std::size_t>(row)];
  if (line.find('=') == std::string::npos) return std::nullopt;
  return lines_.Value(lines_.NameAt(static_cast<std::size_t>(row)));
}

std::optional<std::string> SubscriberModel::Flags(int row) const {
  const auto value = ValueOf(row);
  if (!value) return std::nullopt;
  const auto items = ReadCommaList(*value);
  if (items.empty()) return std::nullopt;
  return items.front();
}

int SubscriberModel::RowOf(const std::string& address) const {
  const std::size_t index = lines_.IndexOfName(address);
  return index == NameValueList::npos ? -1 : static_cast<int>(index);
}

int SubscriberModel::Add(const std::string& address, const std::string& password) {
  const int row = rowCount();
  beginInsertRows({}, row, row);
  lines_.Append(address + "=" + WriteCommaList({std::string(), password}));
  endInsertRows();
  return row;
}

void SubscriberModel::Remove(int row) {
  if (row < 0 || row >= rowCount()) return;
  beginRemoveRows({}, row, row);
  lines_.Delete(static_cast<std::size_t>(row));
  endRemoveRows();
}

void SubscriberModel::ToggleFlag(int row, char letter) {
  const auto value = ValueOf(row);
  if (!value) return;
  auto items = ReadCommaList(*value);
  if (items.empty()) return;
  std::string& flags = items.front();
  if (flags.find(letter) != std::string::npos)
    std::erase(flags, letter);
  else
    flags += letter;
  // The first line of that name holds the subscriber's value; it keeps its own spelling.
  const std::size_t first = lines_.IndexOfName(lines_.NameAt(static_cast<std::size_t>(row)));
  lines_.Lines()[first] = lines_.NameAt(first) + "=" + WriteCommaList(items);
  emit dataChanged(index(0, kDigest), index(rowCount() - 1, kBlocked), {Qt::DecorationRole});
}

int SubscriberModel::Find(const QString& text, int start) const {
  if (text.isEmpty()) return -1;
  const QString wanted = AsciiUpper(text);
  for (int row = std::max(start, 0); row < rowCount(); ++row) {
    const QString name = AsciiUpper(DecodeText(lines_.NameAt(static_cast<std::size_t>(row))));
    if (name.contains(wanted)) return row;
  }
  return -1;
}

}  // namespace orvex
