// The rows of the POP3 server list: host, port text, user, password and security, in file order.
#pragma once

#include <QAbstractTableModel>
#include <string>
#include <vector>

namespace orvex {

struct Pop3Server {
  std::string host;
  std::string port;  // as stored, decimal text
  std::string user;
  std::string password;    // deciphered; only its mask is ever shown
  long long security = 0;  // as stored: 0 none, 1 STLS, 2 TLS from the start
  std::string tlsFingerprint;
  // Pop3AuthMethod<n> as stored ("oauth2": an OAuth 2.0 token); empty: the password. It moves
  // with its server when servers are deleted, so that no other mailbox inherits it.
  std::string authMethod = {};
};

class Pop3ServerModel final : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kHost, kPort, kUser, kPassword, kSecurity, kColumnCount };

  explicit Pop3ServerModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  const std::vector<Pop3Server>& Servers() const { return servers_; }
  void SetServers(std::vector<Pop3Server> servers);
  void Append(Pop3Server server);
  void Replace(int row, Pop3Server server);
  void Remove(int row);

 private:
  std::vector<Pop3Server> servers_;
};

}  // namespace orvex
