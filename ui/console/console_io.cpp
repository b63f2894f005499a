#include <signal.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "../../fileio/platform.h"
#include "../../launcher/sfx_state.h"
#include "console_ui.h"

// Ctrl+C, a polite kill and a closed terminal all ask the program to stop.
static const int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The first one cancels: the engine stops at its next callback and removes
// the partial file. A second one, should the program not get there, ends it
// the ordinary way.
static void OnInterrupt(int sig) {
  if (g_cancelRequested) {
    signal(sig, SIG_DFL);
    raise(sig);
    return;
  }
  g_cancelRequested = 1;
}

void ConsoleCatchInterrupt() {
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no restart: a pending read ends with EINTR
  for (int sig : kStopSignals) {
    // One the caller ignores (nohup, a background job) stays ignored.
    struct sigaction before;
    if (sigaction(sig, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    sigaction(sig, &action, nullptr);
  }
}

int ConsoleHasTerminal() { return isatty(STDIN_FILENO); }

void ConsolePrint(const char *text) {
  ConsoleEndProgressLine();
  // Language texts carry CR LF line breaks; a terminal wants LF alone.
  for (const char *p = text; *p; p++)
    if (*p != '\r') fputc(*p, stderr);
  fputc('\n', stderr);
  fflush(stderr);
}

int ConsoleReadLine(const char *prompt, char *out, size_t size, int echo) {
  if (size == 0) return 0;
  out[0] = '\0';
  if (!ConsoleHasTerminal() || g_cancelRequested) return 0;
  struct termios saved, quiet;
  int changed = 0;
  if (!echo && tcgetattr(STDIN_FILENO, &saved) == 0) {
    quiet = saved;
    quiet.c_lflag &= ~(tcflag_t)ECHO;
    quiet.c_lflag |= ECHONL;
    changed = tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
  }
  // The prompt comes only once echo is off: what is typed after it appears
  // is neither shown nor thrown away by the flush above.
  if (prompt) fputs(prompt, stderr);
  fflush(stderr);
  // Byte by byte with read(): stdio would keep typed-ahead input that the
  // next question must see, and an interrupt must end the wait. Ctrl+C is
  // held back outside the wait and let in only by pselect(): one pressed
  // as the prompt appears, before the wait begins, would otherwise set the
  // flag unseen and leave read() waiting for ever.
  sigset_t interrupt, outside;
  sigemptyset(&interrupt);
  for (int sig : kStopSignals) sigaddset(&interrupt, sig);
  sigprocmask(SIG_BLOCK, &interrupt, &outside);
  sigset_t waiting = outside;  // the wait always lets the stop signals in
  for (int sig : kStopSignals) sigdelset(&waiting, sig);
  size_t length = 0;
  int ok = 0;
  for (;;) {
    if (g_cancelRequested) break;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(STDIN_FILENO, &readable);
    if (pselect(STDIN_FILENO + 1, &readable, nullptr, nullptr, nullptr, &waiting) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    char c;
    ssize_t n = read(STDIN_FILENO, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || g_cancelRequested) break;
    if (c == '\n') {
      ok = 1;
      break;
    }
    if (c == '\r') continue;
    if (length + 1 < size) out[length++] = c;  // longer input is cut, never overrun
  }
  sigprocmask(SIG_SETMASK, &outside, nullptr);
  out[length] = '\0';
  if (changed) tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
  if (!ok) {
    out[0] = '\0';
    fputc('\n', stderr);
  }
  return ok;
}

// "&Extract" -> "[E]xtract"; "&&" is a literal '&'. The marked letter is a
// whole character (a translation's may take several bytes).
static void ShowLabel(const char *text, char *out, size_t size) {
  size_t at = 0;
  int marked = 0;
  for (const char *p = text; *p && at + 4 < size; p++) {
    if (*p == '&' && p[1] == '&') {
      out[at++] = '&';
      p++;
    } else if (*p == '&' && p[1] && !marked) {
      const char *next = TextNext(p + 1);
      size_t n = (size_t)(next - (p + 1));
      if (at + n + 3 >= size) break;
      out[at++] = '[';
      memcpy(out + at, p + 1, n);
      at += n;
      out[at++] = ']';
      p = next - 1;
      marked = 1;
    } else if (*p != '&') {
      out[at++] = *p;
    }
  }
  out[at] = '\0';
}

// The character at p as a code point, upper case for the ASCII, Latin-1,
// Greek and Cyrillic letters (the scripts of hotkeys in translations); *end
// is where the next character starts.
static unsigned UpperCharAt(const char *p, const char **end) {
  *end = TextNext(p);
  const unsigned char *u = (const unsigned char *)p;
  size_t n = (size_t)(*end - p);
  unsigned c = 0xFFFFFFFFu;  // longer characters are compared by nothing but themselves below
  if (n == 1) c = u[0];
  else if (n == 2) c = (u[0] & 0x1Fu) << 6 | (u[1] & 0x3Fu);
  else if (n == 3) c = (u[0] & 0x0Fu) << 12 | (u[1] & 0x3Fu) << 6 | (u[2] & 0x3Fu);
  if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7) || (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) ||
      (c >= 0x430 && c <= 0x44F))
    return c - 0x20;
  if (c >= 0x450 && c <= 0x45F) return c - 0x50;
  return c;
}

// 1 when the label marks the character the answer starts with (case-blind).
static int IsHotKey(const char *label, const char *answer) {
  for (const char *p = label; *p; p++) {
    if (*p == '&' && p[1] == '&') {
      p++;
      continue;
    }
    if (*p == '&' && p[1]) {
      const char *markEnd, *answerEnd;
      unsigned mark = UpperCharAt(p + 1, &markEnd), typed = UpperCharAt(answer, &answerEnd);
      if (mark != 0xFFFFFFFFu) return mark == typed;
      return markEnd - (p + 1) == answerEnd - answer && memcmp(p + 1, answer, (size_t)(markEnd - (p + 1))) == 0;
    }
  }
  return 0;
}

int ConsoleChoose(const int *strings, int count, int defaultIndex) {
  for (;;) {
    char line[512], label[256], entry[300];
    line[0] = '\0';
    for (int i = 0; i < count; i++) {
      ShowLabel(LangString(strings[i]), label, sizeof label);
      snprintf(entry, sizeof entry, "%s%d) %s", i ? "   " : "", i + 1, label);
      StrAppend(line, entry, sizeof line);
    }
    ConsoleEndProgressLine();
    fprintf(stderr, "%s\n", line);
    char answer[64];
    if (!ConsoleReadLine("> ", answer, sizeof answer, 1)) return -1;
    const char *a = answer;
    while (*a == ' ' || *a == '\t') a++;
    if (!*a && defaultIndex >= 0) return defaultIndex;
    if (a[0] >= '1' && a[0] <= '9' && (a[1] == '\0' || a[1] == ' ')) {
      int index = a[0] - '1';
      if (index < count) return index;
    }
    // A hotkey letter counts when exactly one choice has it.
    const char *keyEnd = a[0] ? TextNext(a) : a;
    if (a[0] && (*keyEnd == '\0' || *keyEnd == ' ')) {
      int found = -1, hits = 0;
      for (int i = 0; i < count; i++)
        if (IsHotKey(LangString(strings[i]), a)) {
          found = i;
          hits++;
        }
      if (hits == 1) return found;
    }
  }
}

void ConsoleShowPath(const char *path, char *out, size_t size) {
  StrCopy(out, path, size);
  for (char *p = out; *p; p++)
    if (*p == '\\') *p = '/';
}

void ConsoleTakePath(const char *typed, char *out, size_t size) {
  StrCopy(out, typed, size);
  for (char *p = out; *p; p++)
    if (*p == '/') *p = '\\';
}

int ConsoleEditFolder(const char *label, char *folder, size_t size) {
  for (;;) {
    char shown[PATH_BUF_SIZE];
    ConsoleShowPath(folder, shown, sizeof shown);
    ConsoleEndProgressLine();
    fprintf(stderr, "%s [%s]\n", label, shown);
    // Read more than fits: a folder cut to the buffer would be another
    // folder, so a text that is too long is refused and asked again.
    char typed[4 * PATH_BUF_SIZE];
    if (!ConsoleReadLine("> ", typed, sizeof typed, 1)) return 0;
    if (strlen(typed) >= size || strlen(typed) >= PATH_BUF_SIZE) {
      ConsolePrint(LangString(LANG_ERR_FOLDER_INVALID));
      continue;
    }
    if (typed[0]) ConsoleTakePath(typed, folder, size);
    return 1;
  }
}

void ConsoleFileTimeText(uint64_t fileTime, char *date, size_t dateSize, char *timeText, size_t timeSize) {
  const uint64_t kUnixEpoch = 116444736000000000ull;  // 1970-01-01 in 100 ns steps since 1601
  time_t seconds = fileTime >= kUnixEpoch ? (time_t)((fileTime - kUnixEpoch) / 10000000u) : 0;
  struct tm local;
  if (!localtime_r(&seconds, &local)) memset(&local, 0, sizeof local);
  if (!strftime(date, dateSize, "%Y-%m-%d", &local)) date[0] = '\0';
  if (!strftime(timeText, timeSize, "%H:%M", &local)) timeText[0] = '\0';
}
