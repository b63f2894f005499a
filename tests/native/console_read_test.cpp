// The terminal front-end's line reader on a real pseudo-terminal, in a child
// process so that a reader that waits for ever fails the test instead of
// stopping it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "launcher/sfx_state.h"
#include "ui/console/console_ui.h"

namespace {

struct Case {
  const char *what;
  std::string typed;     // what is in the terminal's input before the wait
  bool interruptPending; // Ctrl+C pressed just before the wait began
  int ok;                // ConsoleReadLine's answer
  const char *line;
};

// Runs one case in a child whose standard input and error are the terminal;
// returns the child's exit status (0: as expected), or -1 if it had to be
// stopped.
int RunCase(const Case &c) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return -2;
  int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  if (slave < 0) return -2;
  if (!c.typed.empty() && write(master, c.typed.data(), c.typed.size()) != (ssize_t)c.typed.size()) return -2;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(slave, STDIN_FILENO);
    dup2(slave, STDERR_FILENO);
    ConsoleCatchInterrupt();
    g_cancelRequested = 0;
    if (c.interruptPending) {
      // Held back, as it is between the prompt and the wait: it can only
      // get in once the reader waits.
      sigset_t interrupt;
      sigemptyset(&interrupt);
      sigaddset(&interrupt, SIGINT);
      sigprocmask(SIG_BLOCK, &interrupt, nullptr);
      raise(SIGINT);
    }
    char out[64];
    int ok = ConsoleReadLine("> ", out, sizeof out, 1);
    bool expected = ok == c.ok && strcmp(out, c.line) == 0 && (g_cancelRequested != 0) == c.interruptPending;
    _exit(expected ? 0 : 1);
  }
  close(slave);
  int status = 0;
  const time_t deadline = time(nullptr) + 10;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    char drain[256];
    fcntl(master, F_SETFL, O_NONBLOCK);
    while (read(master, drain, sizeof drain) > 0) {
    }
    if (time(nullptr) > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      close(master);
      return -1;
    }
    usleep(20000);
  }
  close(master);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -3;
}

TEST(ConsoleReadLine, OnARealTerminal) {
  const Case cases[] = {
      {"a typed line", "abc\n", false, 1, "abc"},
      {"carriage return dropped", "ab\r\n", false, 1, "ab"},
      {"end of input is a cancel", "\x04", false, 0, ""},
      {"Ctrl+C pending as the wait begins", "", true, 0, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    int result = RunCase(c);
    EXPECT_NE(-1, result) << "the reader was still waiting after 10 s";
    EXPECT_EQ(0, result);
  }
}

}  // namespace
