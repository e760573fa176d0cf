// The layer's console and end of run, in-process: standard output is
// pointed at a file, a pipe or a terminal while a job runs under RunGuarded.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "system.h"
#include "test_support.h"

namespace {

// Runs a job with standard output sent to a fresh file; gives the bytes written and the code.
struct Captured {
  int exitCode;
  std::string output;
};

Captured CaptureRun(void (*job)()) {
  Captured captured{};
  captured.output = CaptureStdout([&] { captured.exitCode = RunGuarded(job); });
  return captured;
}

// Reads what is waiting on a descriptor, waiting at most the given time for the first byte.
std::string ReadWaiting(int fd, int timeoutMs) {
  std::string bytes;
  pollfd ready{fd, POLLIN, 0};
  while (poll(&ready, 1, bytes.empty() ? timeoutMs : 0) > 0 && (ready.revents & POLLIN) != 0) {
    char chunk[512];
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got <= 0) break;
    bytes.append(chunk, got);
  }
  return bytes;
}

TEST(PutLine, WritesPiecesAndIntegersThenCrLf) {
  const Captured run = CaptureRun([] {
    PutLine({"A", -5});
    PutLine();
    PutLine({"n=", 0, " ", INT32_MIN, " ", INT32_MAX});
    PutLine({std::string("\xE9\0z", 3)});
  });
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.output, std::string("A-5\r\n\r\nn=0 -2147483648 2147483647\r\n\xE9\0z\r\n", 40));
}

TEST(RunGuarded, FailureReportComesLastAfterEveryLine) {
  // More than the 128-byte buffer before the failure: nothing may be lost or reordered.
  const Captured run = CaptureRun([] {
    for (int32_t i = 0; i < 20; ++i) PutLine({"line ", i});
    TCheckedFile file;
    OpenExisting(file, "/nonexistent-folder-of-the-test/missing.dat");
  });
  EXPECT_EQ(run.exitCode, 1);
  std::string lines;
  for (int i = 0; i < 20; ++i) lines += "line " + std::to_string(i) + "\r\n";
  const std::string head = lines + "Exception EInOutError in module ";
  ASSERT_EQ(run.output.substr(0, head.size()), head);
  const std::string rest = run.output.substr(head.size());
  // "<module> at XXXXXXXX.\nInvalid filename.\r\n"
  const size_t at = rest.find(" at ");
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(rest.substr(0, at), ModuleName());
  const std::string address = rest.substr(at + 4, 8);
  EXPECT_EQ(address.find_first_not_of("0123456789ABCDEF"), std::string::npos) << address;
  EXPECT_EQ(rest.substr(at + 12), ".\nInvalid filename.\r\n");
}

TEST(RunGuarded, ExitWithPassesLinesOnAndGivesItsCode) {
  const Captured run = CaptureRun([] {
    PutLine({"before"});
    ExitWith(7);
  });
  EXPECT_EQ(run.exitCode, 7);
  EXPECT_EQ(run.output, "before\r\n");
}

TEST(RunGuarded, OutOfMemoryIsReportedLikeAFailedOperation) {
  const Captured run = CaptureRun([] { AllocateBuffer(SIZE_MAX / 2); });
  EXPECT_EQ(run.exitCode, 1);
  ASSERT_GE(run.output.size(), 26u);
  EXPECT_EQ(run.output.substr(0, 26), "Exception EOutOfMemory in ");
  EXPECT_EQ(run.output.substr(run.output.size() - 18), ".\nOut of memory.\r\n");
}

// The far end of standard output while a job runs: the job looks at what has arrived.
// A pipe holds the bytes as soon as they are written; a terminal passes them on a moment later.
int farEnd = -1;
int arrivalWaitMs = 0;
std::string afterFirstLine;
std::string afterSecondLine;

void WriteTwoLinesAndLook() {
  PutLine({"first"});
  afterFirstLine = ReadWaiting(farEnd, arrivalWaitMs);
  PutLine({std::string(130, 'x')});
  afterSecondLine = ReadWaiting(farEnd, arrivalWaitMs);
}

TEST(Console, PipeGetsTheOutputIn128BytePieces) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  farEnd = fds[0];
  arrivalWaitMs = 0;
  int code;
  {
    const StdoutRedirect redirect(fds[1]);
    code = RunGuarded(WriteTwoLinesAndLook);
  }
  close(fds[1]);
  const std::string rest = ReadWaiting(fds[0], 0);
  close(fds[0]);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(afterFirstLine, "");  // a short line waits in the buffer
  EXPECT_EQ(afterSecondLine, "first\r\n" + std::string(121, 'x'));
  EXPECT_EQ(rest, std::string(9, 'x') + "\r\n");  // the rest comes at the end of the run
}

TEST(Console, TerminalGetsEachLineAtOnce) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    GTEST_SKIP() << "no pseudo-terminal on this machine";
  }
  const int terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  termios raw{};
  tcgetattr(terminal, &raw);
  cfmakeraw(&raw);  // bytes as they are, no CR added
  tcsetattr(terminal, TCSANOW, &raw);
  farEnd = master;
  arrivalWaitMs = 5000;
  int code;
  {
    const StdoutRedirect redirect(terminal);
    code = RunGuarded(WriteTwoLinesAndLook);
  }
  close(terminal);
  close(master);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(afterFirstLine, "first\r\n");
  EXPECT_EQ(afterSecondLine, std::string(130, 'x') + "\r\n");
}

TEST(Console, FailedWriteToStandardOutputEndsWithCodeOne) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  StartLayer(1, std::array<char*, 2>{const_cast<char*>("prog"), nullptr}.data());  // SIGPIPE off
  static bool reachedEnd;
  reachedEnd = false;
  int code;
  {
    const StdoutRedirect redirect(fds[1]);
    code = RunGuarded([] {
      for (int i = 0; i < 100; ++i) PutLine({"a line that cannot be written"});
      reachedEnd = true;
    });
  }
  close(fds[1]);
  EXPECT_EQ(code, 1);
  EXPECT_FALSE(reachedEnd);
}

// The arguments of a run, as argv gives them.
std::string longArgument;

void StartWith(std::vector<std::string> words) {
  static std::vector<std::string> kept;
  kept = std::move(words);
  std::vector<char*> argv;
  for (std::string& word : kept) argv.push_back(word.data());
  argv.push_back(nullptr);
  StartLayer(static_cast<int>(kept.size()), argv.data());
}

TEST(Argument, EmptyArgumentsCountAsNoneAndTheCountIgnoresTheProgramName) {
  StartWith({"/usr/bin/bundra", "", "data", "", "x"});
  EXPECT_EQ(ArgumentCount(), 2);
  EXPECT_EQ(Argument(1), "data");
  EXPECT_EQ(Argument(2), "x");
  EXPECT_EQ(Argument(3), "");
  StartWith({"bundra", ""});
  EXPECT_EQ(ArgumentCount(), 0);
  EXPECT_EQ(Argument(1), "");
}

TEST(Argument, TakesUpTo256CharactersAndRefusesLonger) {
  StartWith({"bundra", std::string(256, 'a'), std::string(257, 'b')});
  EXPECT_EQ(Argument(1), std::string(256, 'a'));
  const Captured run = CaptureRun([] {
    Argument(2);
    PutLine({"not reached"});
  });
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.output, "Error: Argument longer than 256 characters\r\n");
}

}  // namespace
