// The dial-up backend on NetworkManager: every operation is one `nmcli` command.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string_view>

#include "platform/DialUpBackend.h"
#include "platform/Error.h"
#include "platform/FileSystem.h"
#include "platform/Heartbeat.h"
#include "platform/Text.h"

extern char** environ;

namespace orvex {
namespace {

constexpr size_t kMaxOutput = 1 << 20;  // nmcli's answers are short; never hold more than this

// nmcli's answers without their empty lines.
std::vector<std::string> OutputLines(std::string_view text) {
  return SplitLines(text, EmptyLines::Drop);
}

// A running nmcli with its output collected from a pipe (stdout and stderr together).
class NmcliProcess {
 public:
  explicit NmcliProcess(const std::vector<std::string>& arguments) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw Error(std::string("nmcli: ") + std::strerror(errno));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    std::vector<std::string> argv{"nmcli"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> raw;
    for (auto& a : argv) raw.push_back(a.data());
    raw.push_back(nullptr);
    const int rc = posix_spawnp(&pid_, "nmcli", &actions, nullptr, raw.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
      ::close(fds[0]);
      pid_ = -1;
      throw Error(std::string("Cannot run nmcli: ") + std::strerror(rc));
    }
    fd_ = fds[0];
    ::fcntl(fd_, F_SETFL, O_NONBLOCK);
  }
  ~NmcliProcess() {
    if (pid_ > 0 && !status_) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
    if (fd_ >= 0) ::close(fd_);
  }
  NmcliProcess(const NmcliProcess&) = delete;
  NmcliProcess& operator=(const NmcliProcess&) = delete;

  // Collects output and reaps the process if it ended; true once it has.
  bool Finished() {
    Drain();
    if (status_) return true;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      Drain();
      return true;
    }
    return false;
  }
  // Waits for the end of a command that answers at once (listing, bringing down); one that
  // hangs is ended after half a minute rather than freezing the service.
  int Wait() {
    for (int waited = 0; !Finished(); waited += 10) {
      if (waited >= 30000) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        status_ = 128 + SIGKILL;
        break;
      }
      Heartbeat();
      ::usleep(10000);
    }
    return *status_;
  }
  int Status() const { return status_.value_or(-1); }
  const std::string& Output() const { return output_; }

 private:
  void Drain() {
    char buffer[4096];
    for (;;) {
      const ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n <= 0) return;
      if (output_.size() < kMaxOutput) output_.append(buffer, static_cast<size_t>(n));
    }
  }
  pid_t pid_ = -1;
  int fd_ = -1;
  std::optional<int> status_;
  std::string output_;
};

// nmcli's own words for a failure: its "Error: ..." lines, else all it said.
std::string ErrorTextOf(const std::string& output, int status) {
  std::string text;
  for (const std::string& line : OutputLines(output)) {
    if (line.rfind("Error:", 0) == 0) text += (text.empty() ? "" : " ") + line;
  }
  if (text.empty())
    for (const std::string& line : OutputLines(output))
      if (!line.empty()) text += (text.empty() ? "" : " ") + line;
  if (text.empty()) text = "nmcli failed with exit status " + std::to_string(status);
  return text;
}

// `nmcli -t` escapes ":" and "\" in values with a backslash.
std::string UnescapeTerse(std::string_view field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 1 < field.size()) ++i;
    out += field[i];
  }
  return out;
}

std::vector<std::string> Names(const std::vector<std::string>& arguments) {
  NmcliProcess process(arguments);
  const int status = process.Wait();
  if (status != 0) throw Error(ErrorTextOf(process.Output(), status));
  std::vector<std::string> names;
  for (const std::string& line : OutputLines(process.Output()))
    if (!line.empty()) names.push_back(UnescapeTerse(line));
  return names;
}

// The secrets of a profile travel in a file that only this process can read, removed as soon
// as nmcli has read it -- never on a command line, where every user could see them.
class SecretsFile {
 public:
  explicit SecretsFile(const std::string& password) {
    if (password.empty()) return;
    char pattern[] = "/tmp/orvex-secrets-XXXXXX";
    const int fd = ::mkstemp(pattern);
    if (fd < 0)
      throw Error(std::string("Cannot write the dial-up secrets: ") + std::strerror(errno));
    path_ = pattern;
    std::string content;
    for (const char* key : {"ppp.password", "pppoe.password", "gsm.password", "cdma.password",
                            "vpn.secrets.password", "802-1x.password"})
      content += std::string(key) + ":" + password + "\n";
    const bool ok =
        ::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
    ::close(fd);
    if (!ok) throw Error("Cannot write the dial-up secrets");
  }
  ~SecretsFile() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  SecretsFile(const SecretsFile&) = delete;
  SecretsFile& operator=(const SecretsFile&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

class NmcliAttempt final : public DialAttempt {
 public:
  NmcliAttempt(std::string entry, std::unique_ptr<SecretsFile> secrets,
               const std::vector<std::string>& arguments)
      : entry_(std::move(entry)), secrets_(std::move(secrets)), process_(arguments) {}

  DialState Poll(std::string& error) override {
    if (!process_.Finished()) return DialState::Dialing;
    if (process_.Status() == 0) return DialState::Connected;
    error = ErrorTextOf(process_.Output(), process_.Status());
    return DialState::Failed;
  }
  void Cancel() override {
    if (!process_.Finished()) {
      NmcliProcess down({"connection", "down", "id", entry_});
      down.Wait();
    }
  }

 private:
  std::string entry_;
  std::unique_ptr<SecretsFile> secrets_;
  NmcliProcess process_;
};

class NetworkManagerBackend final : public DialUpBackend {
 public:
  std::vector<std::string> ListEntries() override {
    return Names({"-t", "-f", "NAME", "connection", "show"});
  }
  std::vector<std::string> ActiveConnections() override {
    return Names({"-t", "-f", "NAME", "connection", "show", "--active"});
  }
  std::unique_ptr<DialAttempt> StartDial(const std::string& entry, const std::string& user,
                                         const std::string& password, std::string& error) override {
    (void)user;  // a profile keeps its user name as a setting, not as a secret
    try {
      auto secrets = std::make_unique<SecretsFile>(password);
      std::vector<std::string> arguments{"connection", "up", "id", entry};
      if (!secrets->Path().empty()) {
        arguments.push_back("passwd-file");
        arguments.push_back(secrets->Path());
      }
      return std::make_unique<NmcliAttempt>(entry, std::move(secrets), arguments);
    } catch (const std::exception& e) {
      error = e.what();
      return nullptr;
    }
  }
  void HangUp(const std::string& entry) override {
    NmcliProcess process({"connection", "down", "id", entry});
    process.Wait();
  }
};

}  // namespace

std::unique_ptr<DialUpBackend> MakeNetworkManagerBackend() {
  return std::make_unique<NetworkManagerBackend>();
}

}  // namespace orvex
