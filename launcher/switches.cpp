#include "switches.h"

#include <cstring>

#include "../fileio/path.h"
#include "folder_macro.h"
#include "sfx_state.h"

const char kSwitchesHelp[] =
    "Switches:\n"
    "/s\tsilent: no dialog and no questions; existing files are replaced\n"
    "/d:DIR\textract into DIR (a folder macro such as %Temp% may start it)\n"
    "/x\textract only: do not start the program\n"
    "/?\tshow this help\n"
    "-- ARGS\tpass ARGS to the program after its own parameters\n"
    "A wrong switch extracts nothing and ends with exit code 10.";

namespace {

bool Is(const char *arg, const char *upper) {
  for (; *upper; ++arg, ++upper) {
    char c = *arg;
    if (c >= 'a' && c <= 'z') c = (char)(c - 'a' + 'A');
    if (c != *upper) return false;
  }
  return *arg == '\0';
}

bool StartsWith(const char *arg, const char *upper) {
  for (; *upper; ++arg, ++upper) {
    char c = *arg;
    if (c >= 'a' && c <= 'z') c = (char)(c - 'a' + 'A');
    if (c != *upper) return false;
  }
  return true;
}

}  // namespace

int ParseSwitches(int count, const char *const *args, SfxSwitches *out) {
  memset(out, 0, sizeof *out);
  int outcome = SWITCHES_RUN;
  int i = 0;
  for (; i < count && strcmp(args[i], "--") != 0; ++i)
    if (Is(args[i], "/S")) out->silent = 1;
  for (int k = 0; k < i && outcome != SWITCHES_BAD; ++k) {
    const char *a = args[k];
    if (Is(a, "/S")) continue;
    if (Is(a, "/X")) {
      out->extractOnly = 1;
    } else if (Is(a, "/?")) {
      outcome = SWITCHES_HELP;
    } else if (StartsWith(a, "/D:") && a[3] && strlen(a + 3) < sizeof out->target) {
      StrCopy(out->target, a + 3, sizeof out->target);
    } else {
      StrCopy(out->bad, a, sizeof out->bad);
      outcome = SWITCHES_BAD;
    }
  }
  if (outcome == SWITCHES_BAD) return outcome;
  // Everything after -- belongs to the program; one with a blank is quoted.
  for (int k = i + 1; k < count; ++k) {
    const char *a = args[k];
    bool quote = !a[0] || strpbrk(a, " \t") != nullptr;
    size_t need = strlen(out->parameters) + (out->parameters[0] ? 1 : 0) + strlen(a) + (quote ? 2 : 0);
    if (need >= sizeof out->parameters || strchr(a, '"')) {
      StrCopy(out->bad, a, sizeof out->bad);
      return SWITCHES_BAD;
    }
    if (out->parameters[0]) StrAppend(out->parameters, " ", sizeof out->parameters);
    if (quote) StrAppend(out->parameters, "\"", sizeof out->parameters);
    StrAppend(out->parameters, a, sizeof out->parameters);
    if (quote) StrAppend(out->parameters, "\"", sizeof out->parameters);
  }
  return outcome;
}

int SplitCommandLine(char *line, char **args, int max) {
  int count = 0;
  char *p = line;
  while (*p && count < max) {
    while (*p == ' ' || *p == '\t') ++p;
    if (!*p) break;
    char *write = p;
    args[count++] = p;
    bool quoted = false;
    while (*p && (quoted || (*p != ' ' && *p != '\t'))) {
      if (p[0] == '\\' && p[1] == '"') {
        *write++ = '"';
        p += 2;
      } else if (*p == '"') {
        quoted = !quoted;
        ++p;
      } else {
        *write++ = *p++;
      }
    }
    if (*p) ++p;
    *write = '\0';
  }
  return count;
}

bool ApplySwitches(const SfxSwitches *s) {
  if (s->target[0]) {
    // Either separator may be typed; the program speaks backslashes.
    char target[PATH_BUF_SIZE];
    StrCopy(target, s->target, sizeof target);
    PathFixSlashes(target);
    char expanded[PATH_BUF_SIZE];
    // An unknown macro stays as typed, as a stored one does.
    if (ExpandFolderMacro(target, expanded, sizeof expanded) && expanded[0])
      StrCopy(g_settings.targetFolder, expanded, sizeof g_settings.targetFolder);
    else
      StrCopy(g_settings.targetFolder, target, sizeof g_settings.targetFolder);
  }
  if (s->silent) {
    g_settings.unattended = 1;
    g_overwriteAll = 1;
    g_premessagePending = 0;
  }
  if (s->extractOnly) {
    g_settings.runCommand[0] = '\0';
    g_runParameters[0] = '\0';
  }
  if (s->parameters[0] && !s->extractOnly) {
    // A parameter cut short would start the program with another meaning.
    if (strlen(g_runParameters) + 1 + strlen(s->parameters) >= sizeof g_runParameters) return false;
    if (g_runParameters[0]) StrAppend(g_runParameters, " ", sizeof g_runParameters);
    StrAppend(g_runParameters, s->parameters, sizeof g_runParameters);
  }
  return true;
}

int RunSwitches(int count, const char *const *args, void (*show)(const char *text, int error)) {
  if (!(g_settings.reservedC & SFX_FLAG_SWITCHES)) return -1;
  static SfxSwitches s;
  int outcome = ParseSwitches(count, args, &s);
  if (outcome == SWITCHES_HELP) {
    show(kSwitchesHelp, 0);
    return 0;
  }
  if (outcome == SWITCHES_RUN && ApplySwitches(&s)) return -1;
  if (!s.silent) {
    static char text[sizeof kSwitchesHelp + 128];
    StrPrintf(text, sizeof text, "Unknown or malformed switch: '%s'\n\n%s", s.bad, kSwitchesHelp);
    show(text, 1);
  }
  return EXIT_BAD_SWITCH;
}
