#include "folder_macros.h"

#include <cstring>

#include "../fileio/kv_base.h"
#include "../fileio/path.h"
#include "../fileio/platform.h"
#include "../fileio/special_folders.h"

namespace {
struct FolderMacro {
  const char *name;
  int id;
};
// Tested in this order; the first one found at the start wins.
const FolderMacro kMacros[] = {
    {"%Programs%", FOLDER_PROGRAMS},   {"%CommonFiles%", FOLDER_COMMON_FILES}, {"%AppData%", FOLDER_APPDATA},
    {"%LocalAppData%", FOLDER_LOCAL_APPDATA}, {"%Documents%", FOLDER_DOCUMENTS}, {"%System%", FOLDER_SYSTEM},
    {"%Windows%", FOLDER_WINDOWS},     {"%Temp%", FOLDER_TEMP},
};
}  // namespace

int FolderGetById(int id, char *buffer, size_t size) {
  if (!buffer || size == 0) return 0;
  if (id == FOLDER_TEMP) {
    // An empty answer would turn "%Temp%\x" into "\x" at the root of the
    // drive; it counts as undetermined instead.
    return SysGetTempPath(buffer, (uint32_t)size) > 0 && buffer[0] ? 1 : 0;
  }
  return SysGetSpecialFolder(id, buffer, size);
}

int FolderExpandMacro(const char *path, char *out, size_t size) {
  if (!path || !path[0]) return 1;
  char upper[PATH_BUF_SIZE];
  StrCopy(upper, path, sizeof upper);
  TextUpper(upper);
  const FolderMacro *found = nullptr;
  for (const FolderMacro &macro : kMacros) {
    char name[32];
    StrCopy(name, macro.name, sizeof name);
    TextUpper(name);
    if (strstr(upper, name) == upper) {
      found = &macro;
      break;
    }
  }
  if (!found) {
    if (out != path) StrCopy(out, path, size);
    return 1;
  }
  char folder[PATH_BUF_SIZE];
  folder[0] = '\0';
  if (!FolderGetById(found->id, folder, sizeof folder)) return 0;
  // The rest starts behind the macro's closing percent sign and every
  // separator after it (either slash): the join below puts exactly one back.
  const char *rest = strchr(path + 1, '%');
  rest = rest ? rest + 1 : path + strlen(path);
  while (*rest == '\\' || *rest == '/') rest++;
  PathEnsureBackslash(folder);
  StrAppend(folder, rest, sizeof folder);
  StrCopy(out, folder, size);
  return 1;
}
