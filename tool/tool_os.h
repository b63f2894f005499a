// What the tool needs from the operating system, behind one interface with a
// posix and a win32 backend. Paths here are native (the tool's arguments);
// ToolProgramPath gives the backslash form the engine takes.
#ifndef KV_TOOL_OS_H
#define KV_TOOL_OS_H

#include <cstdio>
#include <cstdint>
#include <string>
#include <vector>

// The separator of native paths.
extern const char kToolSeparator;
// True for either separator the system takes.
bool ToolIsSeparator(char c);

// The folder that holds the running tool (no trailing separator).
std::string ToolSelfDir();
// Absolute and lexically normal (no ".", "..", doubled separators); empty
// when it can't be made.
std::string ToolAbsolute(const std::string &native);
// An existing file or folder as the engine takes it: absolute, resolved,
// with backslashes. Empty when it does not exist.
std::string ToolProgramPath(const std::string &native);

enum ToolPathKind { TOOL_MISSING, TOOL_FILE, TOOL_FOLDER };
// What is at path; for TOOL_MISSING *why says why it can't be reached.
ToolPathKind ToolKindOf(const std::string &path, std::string *why);
// One folder (its parent exists). False with the reason in *why.
bool ToolMakeFolder(const std::string &path, std::string *why);
// Removes a folder if it is empty.
void ToolRemoveEmptyFolder(const std::string &path);

// One entry of a folder, as the ZIP writer takes it. Links (symbolic links,
// and reparse points on Windows) are never followed.
enum ToolEntryKind { TOOL_ENTRY_FILE, TOOL_ENTRY_FOLDER, TOOL_ENTRY_LINK, TOOL_ENTRY_OTHER };
struct ToolFolderEntry {
  std::string name;      // native, for opening
  std::string utf8Name;  // the same name in UTF-8, for the archive
  ToolEntryKind kind;
  uint32_t mode;   // Unix type and permission bits (on Windows from the attributes)
  int64_t mtime;   // seconds since 1970
  // What identifies the file the walk saw, so that reading it later can
  // insist on the same one: device and inode (0 where the system has none),
  // size, and the modification time at the finest grain the system keeps.
  uint64_t device = 0, inode = 0;
  uint64_t size = 0;
  int64_t mtimeFine = 0;
};
// The entries of a folder, "." and ".." left out. False with the reason in *why.
bool ToolListFolder(const std::string &path, std::vector<ToolFolderEntry> *entries, std::string *why);

// A file the folder walk listed, opened for reading without following a
// link and without waiting on a pipe or device; refused unless it is still
// the regular file the walk saw (same device, inode, size and time).
class ToolWalkedFile {
 public:
  ToolWalkedFile() = default;
  ToolWalkedFile(const ToolWalkedFile &) = delete;
  ToolWalkedFile &operator=(const ToolWalkedFile &) = delete;
  ~ToolWalkedFile() { Close(); }
  bool Open(const std::string &path, const ToolFolderEntry &seen, std::string *why);
  // Up to size bytes; 0 at the end, -1 on an error (why in *why).
  int64_t Read(void *buffer, size_t size, std::string *why);
  // After reading total bytes: true when the file still has the size and
  // time the walk saw and total is that size.
  bool Unchanged(uint64_t total, std::string *why);
  void Close();

 private:
  intptr_t handle_ = -1;
  const ToolFolderEntry *seen_ = nullptr;
};

// A new file beside path under a name of its own, open for writing.
FILE *ToolCreateTemp(const std::string &path, std::string *name, std::string *why);
// Makes the temporary file executable, flushes it to the disk, closes it and
// moves it over path. On failure the temporary file is closed, removed, and
// *why says what failed.
bool ToolCommitTemp(FILE *f, const std::string &name, const std::string &path, std::string *why);

// 64-bit seek and tell on a stdio stream.
bool ToolSeek(FILE *f, int64_t offset, int whence);
int64_t ToolTell(FILE *f);

// Terminals and Ctrl+C.
bool ToolStderrIsTerminal();
int ToolHasTerminal();  // standard input is one: questions can be asked
// Reads one line from the terminal after prompt (on stderr); echo off for
// secrets. 0 when nothing could be read or Ctrl+C was pressed.
int ToolReadLine(const char *prompt, char *out, size_t size, int echo);
// Makes Ctrl+C set g_cancelRequested instead of ending the process.
void ToolCatchInterrupt();

#endif
