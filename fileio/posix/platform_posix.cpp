// Text, process and shell services on POSIX. The program's code page here is
// UTF-8: characters are whole UTF-8 sequences, archive names in the OEM code
// page are taken as CP437.
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "fileio/platform.h"
#include "fileio/posix/posix_path.h"

namespace {

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Length of the sequence a lead byte announces; 1 for anything else.
int SequenceLength(unsigned char c) {
  if (c >= 0xC0 && c < 0xE0) return 2;
  if (c >= 0xE0 && c < 0xF0) return 3;
  if (c >= 0xF0 && c < 0xF8) return 4;
  return 1;
}

// Length of the well-formed UTF-8 sequence at p (at most avail bytes), or 0.
size_t ValidSequence(const unsigned char *p, size_t avail) {
  unsigned char c = p[0];
  if (c < 0x80) return 1;
  size_t n;
  unsigned char lo = 0x80, hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) lo = 0xA0;  // overlong
    if (c == 0xED) hi = 0x9F;  // surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) lo = 0x90;  // overlong
    if (c == 0xF4) hi = 0x8F;  // above U+10FFFF
  } else {
    return 0;
  }
  if (avail < n || p[1] < lo || p[1] > hi) return 0;
  for (size_t i = 2; i < n; i++)
    if (!IsContinuation(p[i])) return 0;
  return n;
}

// Appends bytes to dest only when the whole character fits, so a cut never
// leaves half a character behind.
bool Put(char *dest, size_t size, size_t &len, const char *bytes, size_t n) {
  if (len + n + 1 > size) return false;
  memcpy(dest + len, bytes, n);
  len += n;
  return true;
}

size_t EncodeUtf8(unsigned cp, char *out) {
  if (cp < 0x80) {
    out[0] = (char)cp;
    return 1;
  }
  if (cp < 0x800) {
    out[0] = (char)(0xC0 | (cp >> 6));
    out[1] = (char)(0x80 | (cp & 0x3F));
    return 2;
  }
  out[0] = (char)(0xE0 | (cp >> 12));
  out[1] = (char)(0x80 | ((cp >> 6) & 0x3F));
  out[2] = (char)(0x80 | (cp & 0x3F));
  return 3;
}

// Windows-1252, bytes 0x80 to 0x9F: letters and signs; the five bytes it
// leaves undefined stand for the control characters of their value, as the
// Windows conversion takes them. Bytes 0xA0 to 0xFF are Latin-1.
const uint16_t kHigh[32] = {0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
                            0x2039, 0x0152, 0x8D,   0x017D, 0x8F,   0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
                            0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};

// CP437, bytes 0x80 to 0xFF.
const uint16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

// A single-byte code page to UTF-8: ASCII as it is, the count bytes from
// 0x80 on through high, the bytes above those as the code point of their
// value. Only whole characters are written: 0 when one does not fit.
int FromSingleByte(const char *src, size_t srcLength, const uint16_t *high, size_t count, char *dest, size_t size) {
  if (!dest || size == 0) return 0;
  size_t len = 0;
  for (size_t i = 0; src && i < srcLength && src[i]; i++) {
    unsigned char c = (unsigned char)src[i];
    if (c < 0x80) {  // most names are plain ASCII: a byte each
      if (len + 2 > size) {
        dest[len] = '\0';
        return 0;
      }
      dest[len++] = (char)c;
      continue;
    }
    char bytes[3];
    size_t n = EncodeUtf8((size_t)(c - 0x80) < count ? high[c - 0x80] : c, bytes);
    if (!Put(dest, size, len, bytes, n)) {
      dest[len] = '\0';
      return 0;
    }
  }
  dest[len] = '\0';
  return 1;
}

}  // namespace

const char *TextNextChar(const char *p) {
  if (!p || !*p) return p;
  int n = SequenceLength((unsigned char)*p);
  const char *q = p + 1;
  for (int i = 1; i < n && IsContinuation((unsigned char)*q); i++) q++;
  return q;
}

const char *TextPrev(const char *start, const char *p) {
  if (!start || !p || p <= start) return start;
  // Back over at most three continuation bytes to a lead byte whose sequence
  // ends exactly at p; otherwise p - 1 is a character of its own.
  const char *q = p - 1;
  for (int i = 0; i < 3 && q > start && IsContinuation((unsigned char)*q); i++) q--;
  if (q != p - 1 && TextNext(q) == p) return q;
  return p - 1;
}

// ASCII letters only: other characters have no single-byte upper case in
// UTF-8, and names are compared with the same rule on both sides.
void TextUpper(char *text) {
  if (!text) return;
  for (; *text; text++)
    if (*text >= 'a' && *text <= 'z') *text = (char)(*text - 'a' + 'A');
}

int TextCompareNoCase(const char *a, const char *b) { return strcasecmp(a ? a : "", b ? b : ""); }

int TextFromOem(const char *src, size_t srcLength, char *dest, size_t size) {
  return FromSingleByte(src, srcLength, kCp437High, 128, dest, size);
}

// A UTF-8 name stays as it is; an ill-formed sequence becomes '?', as the
// Windows conversion makes of characters it can't map, and the result is
// then no exact name.
int TextFromUtf8(const char *src, size_t srcLength, char *dest, size_t size) {
  if (!dest || size == 0) return 0;
  size_t len = 0;
  size_t i = 0;
  int exact = 1;
  while (src && i < srcLength && src[i]) {
    size_t n = ValidSequence((const unsigned char *)src + i, srcLength - i);
    bool ok = n ? Put(dest, size, len, src + i, n) : Put(dest, size, len, "?", 1);
    if (!ok) {
      exact = 0;
      break;
    }
    if (!n) exact = 0;
    i += n ? n : 1;
  }
  dest[len] = '\0';
  return exact;
}

int TextFromStored(const char *src, size_t srcLength, int utf8, char *dest, size_t size) {
  if (utf8) return TextFromUtf8(src, srcLength, dest, size);
  return FromSingleByte(src, srcLength, kHigh, 32, dest, size);
}

int TextLegacyForm(const char *text, int form, char *out, size_t size) {
  if (!text || !out || size == 0) return 0;
  const unsigned char *p = (const unsigned char *)text;
  size_t len = 0;
  bool beyond = false;
  while (*p) {
    size_t n = ValidSequence(p, strlen((const char *)p));
    if (n == 0 || len + 1 >= size) return 0;
    unsigned cp = 0x110000;  // four-byte characters have no legacy form
    if (n == 1) cp = p[0];
    else if (n == 2) cp = (p[0] & 0x1Fu) << 6 | (p[1] & 0x3Fu);
    else if (n == 3) cp = (p[0] & 0x0Fu) << 12 | (p[1] & 0x3Fu) << 6 | (p[2] & 0x3Fu);
    int byte = cp < 0x80 ? (int)cp : -1;
    if (form == 0 && cp >= 0xA0 && cp <= 0xFF) byte = (int)cp;
    for (int i = 0; i < 128 && byte < 0; i++) {
      if (form == 0 && i < 32 && kHigh[i] == cp && cp > 0x9F) byte = 0x80 + i;
      if (form == 1 && kCp437High[i] == cp) byte = 0x80 + i;
    }
    if (byte < 0) return 0;
    beyond |= byte >= 0x80;
    out[len++] = (char)byte;
    p += n;
  }
  out[len] = '\0';
  return beyond ? 1 : 0;
}

uint32_t SysGetModulePath(char *out, uint32_t size) {
  if (!out || size == 0) return 0;
  out[0] = '\0';
  char native[POSIX_PATH_SIZE];
  ssize_t n = readlink("/proc/self/exe", native, sizeof native - 1);
  if (n <= 0) return 0;
  native[n] = '\0';
  return (uint32_t)PosixToProgramPath(native, out, size);
}

uint32_t SysGetTempPath(char *out, uint32_t size) {
  if (!out || size == 0) return 0;
  out[0] = '\0';
  const char *dir = getenv("TMPDIR");
  if (!dir || dir[0] != '/') dir = "/tmp";
  size_t n = PosixToProgramPath(dir, out, size);
  if (n == 0) return 0;
  if (out[n - 1] != '\\') {
    if (n + 2 > size) {
      out[0] = '\0';
      return 0;
    }
    out[n++] = '\\';
    out[n] = '\0';
  }
  return (uint32_t)n;
}

uint32_t SysGetEnv(const char *name, char *out, uint32_t size) {
  if (!out || size == 0) return 0;
  out[0] = '\0';
  const char *value = name ? getenv(name) : nullptr;
  if (!value) return 0;
  size_t n = strlen(value);
  if (n >= size) return 0;
  memcpy(out, value, n + 1);
  return (uint32_t)n;
}

uint32_t SysGetCurrentDir(char *out, uint32_t size) {
  if (!out || size == 0) return 0;
  out[0] = '\0';
  char native[POSIX_PATH_SIZE];
  if (!getcwd(native, sizeof native)) return 0;
  return (uint32_t)PosixToProgramPath(native, out, size);
}

int SysSetCurrentDir(const char *path) {
  char native[POSIX_PATH_SIZE];
  if (!PosixFromProgramPath(path, native, sizeof native) || !native[0]) return 0;
  return chdir(native) == 0 ? 1 : 0;
}

// No shell and no file associations: the file is started only when it is an
// executable regular file, with the parameters split on blanks (no quoting).
// The grandchild runs detached so nothing is left to reap; a pipe closed on
// exec tells whether the program really started. Like ShellExecuteA, the
// result is above 32 on success; 2 (file not found) is the only failure code.
void SysSleep(uint32_t milliseconds) {
  struct timespec t = {(time_t)(milliseconds / 1000), (long)(milliseconds % 1000) * 1000000L};
  while (nanosleep(&t, &t) != 0 && errno == EINTR) {
  }
}

namespace {

// Starts file with its parameters split at blanks. Without a wait the program
// runs detached in its own session; with one it stays our child and *exitCode
// gets its status (128 + the signal that ended it).
intptr_t Launch(const char *file, const char *parameters, uint32_t *exitCode) {
  const intptr_t kFailed = 2, kStarted = 42;
  char native[POSIX_PATH_SIZE];
  if (!PosixFromProgramPath(file, native, sizeof native) || !native[0]) return kFailed;
  struct stat st;
  if (stat(native, &st) != 0 || !S_ISREG(st.st_mode) || access(native, X_OK) != 0) return kFailed;

  // The argument vector is built before forking: the child only calls
  // async-signal-safe functions.
  size_t paramLength = parameters ? strlen(parameters) : 0;
  char *params = (char *)malloc(paramLength + 1);
  char **argv = (char **)malloc(sizeof(char *) * (paramLength / 2 + 3));
  if (!params || !argv) {
    free(params);
    free(argv);
    return kFailed;
  }
  memcpy(params, parameters ? parameters : "", paramLength + 1);
  size_t argc = 0;
  argv[argc++] = native;
  // Blanks separate and double quotes group, as a Windows program reads
  // its parameters; the quotes themselves go.
  for (char *p = params; *p;) {
    while (*p == ' ' || *p == '\t') *p++ = '\0';
    if (!*p) break;
    argv[argc++] = p;
    char *write = p;
    bool quoted = false;
    while (*p && (quoted || (*p != ' ' && *p != '\t'))) {
      if (*p == '"') quoted = !quoted;
      else *write++ = *p;
      p++;
    }
    if (*p) p++;
    *write = '\0';
  }
  argv[argc] = nullptr;

  intptr_t result = kFailed;
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) == 0) {
    pid_t child = fork();
    if (child == 0) {
      if (exitCode) {
        execv(native, argv);
        int err = errno;
        ssize_t ignored = write(pipeFds[1], &err, sizeof err);
        (void)ignored;
        _exit(127);
      }
      pid_t grandchild = fork();
      int err = errno;
      if (grandchild > 0) _exit(0);  // the middle process ends; the grandchild runs on
      if (grandchild == 0) {
        setsid();  // its own session: no hang-up when our terminal's session ends with us
        execv(native, argv);
        err = errno;
      }
      ssize_t ignored = write(pipeFds[1], &err, sizeof err);
      (void)ignored;
      _exit(127);
    }
    close(pipeFds[1]);
    if (child > 0) {
      // The pipe closes at a successful exec, before a waited program ends.
      int err = 0;
      ssize_t n;
      do {
        n = read(pipeFds[0], &err, sizeof err);
      } while (n < 0 && errno == EINTR);
      if (n == 0) result = kStarted;
      int status = 0;
      while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
      }
      if (exitCode && result == kStarted)
        *exitCode = WIFEXITED(status) ? (uint32_t)WEXITSTATUS(status) : 128u + (uint32_t)WTERMSIG(status);
    }
    close(pipeFds[0]);
  }
  free(params);
  free(argv);
  return result;
}

}  // namespace

intptr_t SysShellOpen(void *ownerWindow, const char *file, const char *parameters) {
  (void)ownerWindow;
  return Launch(file, parameters, nullptr);
}

intptr_t SysShellOpenWait(void *ownerWindow, const char *file, const char *parameters, uint32_t *exitCode) {
  (void)ownerWindow;
  *exitCode = 0;
  return Launch(file, parameters, exitCode);
}

int SysRandom(void *buffer, size_t size) {
  unsigned char *out = (unsigned char *)buffer;
  size_t done = 0;
  while (done < size) {
    ssize_t got = getrandom(out + done, size - done, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += (size_t)got;
  }
  if (done == size) return 1;
  // A kernel without the call still has the device.
  int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  while (done < size) {
    ssize_t got = read(fd, out + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += (size_t)got;
  }
  close(fd);
  return done == size ? 1 : 0;
}

int SysReservesDeviceNames() { return 0; }
