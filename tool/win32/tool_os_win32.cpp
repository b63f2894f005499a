// The tool's system services on Windows (ANSI calls, as the engine's).
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstring>

#include "../../launcher/sfx_state.h"
#include "../tool_os.h"

namespace {

std::string LastErrorText(DWORD code) {
  char text[512];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                           sizeof text, nullptr);
  while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == '.' || text[n - 1] == ' ')) n--;
  return n > 0 ? std::string(text, n) : "system error " + std::to_string(code);
}

BOOL WINAPI OnCtrl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  g_cancelRequested = 1;
  return TRUE;
}

}  // namespace

const char kToolSeparator = '\\';

bool ToolIsSeparator(char c) { return c == '\\' || c == '/'; }

std::string ToolSelfDir() {
  char buffer[MAX_PATH * 4];
  DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  if (n == 0 || n >= sizeof buffer) return ".";
  std::string path(buffer, n);
  size_t cut = path.find_last_of("\\/");
  return cut == std::string::npos ? "." : path.substr(0, cut);
}

std::string ToolAbsolute(const std::string &native) {
  char buffer[MAX_PATH * 4];
  DWORD n = GetFullPathNameA(native.c_str(), sizeof buffer, buffer, nullptr);
  if (n == 0 || n >= sizeof buffer) return std::string();
  std::string out(buffer, n);
  // A trailing separator would make an empty last component.
  while (out.size() > 3 && (out.back() == '\\' || out.back() == '/')) out.pop_back();
  return out;
}

std::string ToolProgramPath(const std::string &native) {
  std::string path = ToolAbsolute(native);
  if (path.empty() || GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) return std::string();
  for (char &c : path)
    if (c == '/') c = '\\';
  return path;
}

ToolPathKind ToolKindOf(const std::string &path, std::string *why) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD code = GetLastError();
    *why = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? "No such file or directory"
                                                                        : LastErrorText(code);
    return TOOL_MISSING;
  }
  return attributes & FILE_ATTRIBUTE_DIRECTORY ? TOOL_FOLDER : TOOL_FILE;
}

bool ToolMakeFolder(const std::string &path, std::string *why) {
  if (CreateDirectoryA(path.c_str(), nullptr)) return true;
  *why = LastErrorText(GetLastError());
  return false;
}

void ToolRemoveEmptyFolder(const std::string &path) { RemoveDirectoryA(path.c_str()); }

FILE *ToolCreateTemp(const std::string &path, std::string *name, std::string *why) {
  for (unsigned attempt = 0; attempt < 100; attempt++) {
    char suffix[32];
    snprintf(suffix, sizeof suffix, ".kvsfx-%lu-%u", (unsigned long)GetCurrentProcessId(), attempt);
    *name = path + suffix;
    // "x": fails when the name is taken, so no one else's file is reused.
    FILE *f = fopen(name->c_str(), "wbx");
    if (f) return f;
    if (errno != EEXIST) break;
  }
  *why = strerror(errno);
  return nullptr;
}

bool ToolCommitTemp(FILE *f, const std::string &name, const std::string &path, std::string *why) {
  bool ok = fflush(f) == 0 && _commit(_fileno(f)) == 0;
  if (!ok) *why = "cannot write '" + name + "': " + strerror(errno);
  if (fclose(f) != 0 && ok) {
    ok = false;
    *why = "cannot write '" + name + "': " + strerror(errno);
  }
  if (ok && !MoveFileExA(name.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    ok = false;
    *why = "cannot create '" + path + "': " + LastErrorText(GetLastError());
  }
  if (!ok) DeleteFileA(name.c_str());
  return ok;
}

bool ToolSeek(FILE *f, int64_t offset, int whence) { return _fseeki64(f, offset, whence) == 0; }
int64_t ToolTell(FILE *f) { return _ftelli64(f); }

bool ToolStderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }
int ToolHasTerminal() { return _isatty(_fileno(stdin)) != 0; }

int ToolReadLine(const char *prompt, char *out, size_t size, int echo) {
  if (size == 0) return 0;
  out[0] = '\0';
  if (!ToolHasTerminal() || g_cancelRequested) return 0;
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  DWORD saved = 0;
  bool changed = !echo && GetConsoleMode(in, &saved) && SetConsoleMode(in, saved & ~(DWORD)ENABLE_ECHO_INPUT);
  if (prompt) fputs(prompt, stderr);
  fflush(stderr);
  bool ok = fgets(out, (int)size, stdin) != nullptr && !g_cancelRequested;
  if (changed) {
    SetConsoleMode(in, saved);
    fputc('\n', stderr);
  }
  if (!ok) {
    memset(out, 0, size);
    return 0;
  }
  out[strcspn(out, "\r\n")] = '\0';
  return 1;
}

void ToolCatchInterrupt() { SetConsoleCtrlHandler(OnCtrl, TRUE); }

namespace {

// An ANSI name in UTF-8, through UTF-16.
std::string AnsiToUtf8(const char *text) {
  int wide = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (wide <= 0) return text;
  std::wstring w((size_t)wide, L'\0');
  MultiByteToWideChar(CP_ACP, 0, text, -1, &w[0], wide);
  int bytes = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return text;
  std::string out((size_t)bytes, '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, &out[0], bytes, nullptr, nullptr);
  out.resize((size_t)bytes - 1);
  return out;
}

}  // namespace

bool ToolListFolder(const std::string &path, std::vector<ToolFolderEntry> *entries, std::string *why) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((path + "\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) {
    *why = LastErrorText(GetLastError());
    return false;
  }
  entries->clear();
  do {
    if (strcmp(data.cFileName, ".") == 0 || strcmp(data.cFileName, "..") == 0) continue;
    DWORD a = data.dwFileAttributes;
    ToolEntryKind kind = (a & FILE_ATTRIBUTE_REPARSE_POINT) ? TOOL_ENTRY_LINK
                         : (a & FILE_ATTRIBUTE_DIRECTORY)   ? TOOL_ENTRY_FOLDER
                         : (a & FILE_ATTRIBUTE_DEVICE)      ? TOOL_ENTRY_OTHER
                                                            : TOOL_ENTRY_FILE;
    // Unix bits for the archive: folders 755, files 644 (444 when read-only).
    uint32_t mode = kind == TOOL_ENTRY_FOLDER ? 040755 : (a & FILE_ATTRIBUTE_READONLY) ? 0100444 : 0100644;
    uint64_t ticks = (uint64_t)data.ftLastWriteTime.dwHighDateTime << 32 | data.ftLastWriteTime.dwLowDateTime;
    int64_t mtime = (int64_t)(ticks / 10000000u) - 11644473600LL;
    ToolFolderEntry entry = {data.cFileName, AnsiToUtf8(data.cFileName), kind, mode, mtime};
    entry.size = (uint64_t)data.nFileSizeHigh << 32 | data.nFileSizeLow;
    entry.mtimeFine = (int64_t)ticks;
    entries->push_back(entry);
  } while (FindNextFileA(find, &data));
  DWORD last = GetLastError();
  FindClose(find);
  if (last != ERROR_NO_MORE_FILES) {
    *why = LastErrorText(last);
    return false;
  }
  return true;
}

bool ToolWalkedFile::Open(const std::string &path, const ToolFolderEntry &seen, std::string *why) {
  Close();
  // The reparse point itself is opened, never what it points to; the walk
  // has no file index, so size, time and kind must match what it saw.
  // Shared as fopen shares: a writer elsewhere is noticed by the checks below.
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *why = LastErrorText(GetLastError());
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info) || GetFileType(h) != FILE_TYPE_DISK) {
    *why = "it is not a plain file";
    CloseHandle(h);
    return false;
  }
  if (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) {
    *why = "it was replaced after the folder was read";
    CloseHandle(h);
    return false;
  }
  uint64_t size = (uint64_t)info.nFileSizeHigh << 32 | info.nFileSizeLow;
  int64_t ticks = (int64_t)((uint64_t)info.ftLastWriteTime.dwHighDateTime << 32 | info.ftLastWriteTime.dwLowDateTime);
  if (size != seen.size || ticks != seen.mtimeFine) {
    *why = "it changed after the folder was read";
    CloseHandle(h);
    return false;
  }
  handle_ = (intptr_t)h;
  seen_ = &seen;
  return true;
}

int64_t ToolWalkedFile::Read(void *buffer, size_t size, std::string *why) {
  DWORD got = 0;
  DWORD want = size > (1u << 30) ? (1u << 30) : (DWORD)size;
  if (!ReadFile((HANDLE)handle_, buffer, want, &got, nullptr)) {
    *why = LastErrorText(GetLastError());
    return -1;
  }
  return (int64_t)got;
}

bool ToolWalkedFile::Unchanged(uint64_t total, std::string *why) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle((HANDLE)handle_, &info)) {
    *why = LastErrorText(GetLastError());
    return false;
  }
  uint64_t size = (uint64_t)info.nFileSizeHigh << 32 | info.nFileSizeLow;
  int64_t ticks = (int64_t)((uint64_t)info.ftLastWriteTime.dwHighDateTime << 32 | info.ftLastWriteTime.dwLowDateTime);
  if (total != seen_->size || size != seen_->size || ticks != seen_->mtimeFine) {
    *why = "it changed while it was read";
    return false;
  }
  return true;
}

void ToolWalkedFile::Close() {
  if (handle_ != -1) CloseHandle((HANDLE)handle_);
  handle_ = -1;
}
