#include "limited_run.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <stdexcept>
#include <thread>

namespace {
constexpr auto HangLimit = std::chrono::seconds(60);
}  // namespace

RunResult RunLimited(const std::string& program, const fs::path& folder,
                     const std::vector<std::string>& arguments, Limits limits, Stdout output) {
  std::vector<std::string> words = {program};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  char outputPattern[] = "/tmp/gobtest-output-XXXXXX";
  const int outputFd = mkstemp(outputPattern);
  unlink(outputPattern);
  int pipeFds[2] = {-1, -1};
  if (output == Stdout::BrokenPipe) {
    if (pipe(pipeFds) != 0) throw std::runtime_error("pipe failed");
    close(pipeFds[0]);  // nobody will ever read
  }
  const pid_t child = fork();
  if (child == 0) {
    if (chdir(folder.c_str()) != 0) _exit(126);
    const int nullFd = open("/dev/null", O_RDWR);
    dup2(nullFd, STDIN_FILENO);
    dup2(nullFd, STDERR_FILENO);  // the loader's complaints under a memory limit
    if (output == Stdout::File) dup2(outputFd, STDOUT_FILENO);
    if (output == Stdout::BrokenPipe) dup2(pipeFds[1], STDOUT_FILENO);
    if (output == Stdout::Closed) close(STDOUT_FILENO);
    // Past the file-size limit a write then fails with EFBIG instead of killing.
    signal(SIGXFSZ, SIG_IGN);
    const rlimit fileSize{limits.fileSize, limits.fileSize};
    const rlimit addressSpace{limits.addressSpace, limits.addressSpace};
    setrlimit(RLIMIT_FSIZE, &fileSize);
    setrlimit(RLIMIT_AS, &addressSpace);
    execv(argv[0], argv.data());
    _exit(127);
  }
  if (pipeFds[1] >= 0) close(pipeFds[1]);
  RunResult result;
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + HangLimit;
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      close(outputFd);
      result.exitCode = -2;
      return result;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  lseek(outputFd, 0, SEEK_SET);
  char chunk[4096];
  ssize_t got;
  while ((got = read(outputFd, chunk, sizeof chunk)) > 0) {
    result.output.append(chunk, static_cast<size_t>(got));
  }
  close(outputFd);
  return result;
}

std::string ReportMessage(const std::string& output) {
  static const std::regex report(
      "Exception (EInOutError|EOutOfMemory) in module [^ ]+ at [0-9A-F]{8}\\.\n([^\r\n]*)\r\n$");
  std::smatch match;
  return std::regex_search(output, match, report) ? match[2].str() : "";
}
