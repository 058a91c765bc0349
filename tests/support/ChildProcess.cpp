// Child processes for tests that run the real programs.
#include "support/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace orvex::test {
namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::string& directory, const std::string& input) {
  static int counter = 0;
  const std::string tag = std::to_string(::getpid()) + "-" + std::to_string(++counter);
  stdoutPath_ = directory + "/.stdout-" + tag;
  stderrPath_ = directory + "/.stderr-" + tag;
  stdinPath_ = directory + "/.stdin-" + tag;
  {
    std::ofstream in(stdinPath_, std::ios::binary | std::ios::trunc);
    in << input;
    if (!in) throw std::runtime_error("cannot write " + stdinPath_);
  }
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    const int out = ::open(stdoutPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(stderrPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int in = ::open(stdinPath_.c_str(), O_RDONLY);
    if (out < 0 || err < 0 || in < 0 || ::chdir(directory.c_str()) != 0) ::_exit(127);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    std::vector<char*> raw;
    for (auto& a : argv) raw.push_back(a.data());
    raw.push_back(nullptr);
    // A fresh signal state: the test runner may have changed dispositions or masks.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execv(program.c_str(), raw.data());
    ::_exit(127);
  }
}

ChildProcess::~ChildProcess() {
  if (!status_ && pid_ > 0) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  ::unlink(stdoutPath_.c_str());
  ::unlink(stderrPath_.c_str());
  ::unlink(stdinPath_.c_str());
}

std::string ChildProcess::Stdout() const {
  return ReadAll(stdoutPath_);
}
std::string ChildProcess::Stderr() const {
  return ReadAll(stderrPath_);
}

bool ChildProcess::WaitForOutput(const std::string& text, std::chrono::milliseconds limit) const {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (Stdout().find(text) != std::string::npos) return true;
    if (::kill(pid_, 0) != 0) return false;
    int status = 0;
    if (!status_ && ::waitpid(pid_, &status, WNOHANG) == pid_) {
      const_cast<ChildProcess*>(this)->status_ =
          WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return Stdout().find(text) != std::string::npos;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

std::optional<int> ChildProcess::WaitForExit(std::chrono::milliseconds limit) {
  if (status_) return status_;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return status_;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return std::nullopt;
}

void ChildProcess::Signal(int signal) const {
  if (!status_) ::kill(pid_, signal);
}

std::string Flat(const std::string& output) {
  std::string out;
  for (const char c : output) {
    const bool blank = c == ' ' || c == '\n' || c == '\r' || c == '\t';
    if (blank && !out.empty() && out.back() == ' ') continue;
    out += blank ? ' ' : c;
  }
  return out;
}

}  // namespace orvex::test
