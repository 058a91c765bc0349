// Runs a program of the build under test: output captured, waits bounded, signals on demand.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace orvex::test {

class ChildProcess {
 public:
  // Starts `program` with `arguments` in `directory`; stdout and stderr go to files there, and
  // `input` is its standard input.
  ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
               const std::string& directory, const std::string& input = {});
  ~ChildProcess();  // kills the process if it still runs
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  std::string Stdout() const;
  std::string Stderr() const;
  // Waits until stdout contains `text`; false after `limit` or if the process ended first.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds limit) const;
  // Waits for the end of the process; its exit status, or nothing after `limit`.
  std::optional<int> WaitForExit(std::chrono::milliseconds limit);
  void Signal(int signal) const;
  pid_t Pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  std::string stdoutPath_;
  std::string stderrPath_;
  std::string stdinPath_;
  std::optional<int> status_;
};

// The service's console log wraps long rows at blanks: the text with every run of blanks and line
// ends made one blank, so that a row can be found whole wherever it was wrapped.
std::string Flat(const std::string& output);

}  // namespace orvex::test
