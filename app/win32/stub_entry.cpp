// The Windows stub's own process start, in place of the C runtime's. Before
// any DLL other than kernel32 is loaded, the DLL search is limited to the
// system folder; every other DLL the stub calls is delay-loaded (at its first
// call, see CMakeLists.txt), so that none is ever looked up beside the program,
// which is often a Downloads folder where anyone could have put a DLL. For the
// same reason the stub imports no C runtime DLL: the few C library functions
// it uses are here, over kernel32.
#include <windows.h>

#include <cstddef>

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

extern "C" {

void *memcpy(void *dest, const void *src, size_t n) {
  unsigned char *d = (unsigned char *)dest;
  const unsigned char *s = (const unsigned char *)src;
  while (n--) *d++ = *s++;
  return dest;
}

void *memmove(void *dest, const void *src, size_t n) {
  unsigned char *d = (unsigned char *)dest;
  const unsigned char *s = (const unsigned char *)src;
  if (d < s) {
    while (n--) *d++ = *s++;
  } else {
    while (n--) d[n] = s[n];
  }
  return dest;
}

void *memset(void *dest, int c, size_t n) {
  unsigned char *d = (unsigned char *)dest;
  while (n--) *d++ = (unsigned char)c;
  return dest;
}

int memcmp(const void *a, const void *b, size_t n) {
  const unsigned char *x = (const unsigned char *)a, *y = (const unsigned char *)b;
  for (; n; n--, x++, y++)
    if (*x != *y) return *x - *y;
  return 0;
}

size_t strlen(const char *s) {
  const char *p = s;
  while (*p) p++;
  return (size_t)(p - s);
}

int strncmp(const char *a, const char *b, size_t n) {
  for (; n; n--, a++, b++) {
    if (*a != *b) return (unsigned char)*a - (unsigned char)*b;
    if (!*a) return 0;
  }
  return 0;
}

int strcmp(const char *a, const char *b) { return strncmp(a, b, (size_t)-1); }

char *strchr(const char *s, int c) {
  for (;; s++) {
    if (*s == (char)c) return (char *)s;
    if (!*s) return nullptr;
  }
}

char *strpbrk(const char *s, const char *accept) {
  for (; *s; s++)
    if (strchr(accept, *s)) return (char *)s;
  return nullptr;
}

char *strstr(const char *s, const char *find) {
  size_t n = strlen(find);
  for (; *s; s++)
    if (!strncmp(s, find, n)) return (char *)s;
  return n ? nullptr : (char *)s;
}

wchar_t *wcsrchr(const wchar_t *s, wchar_t c) {
  const wchar_t *found = nullptr;
  for (;; s++) {
    if (*s == c) found = s;
    if (!*s) return (wchar_t *)found;
  }
}

void *malloc(size_t n) { return HeapAlloc(GetProcessHeap(), 0, n ? n : 1); }

void *calloc(size_t count, size_t size) {
  if (size && count > (size_t)-1 / size) return nullptr;
  size_t total = count * size;
  return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, total ? total : 1);
}

void free(void *p) {
  if (p) HeapFree(GetProcessHeap(), 0, p);
}

void *realloc(void *p, size_t n) {
  if (!p) return malloc(n);
  return HeapReAlloc(GetProcessHeap(), 0, p, n ? n : 1);
}

// Heap sort: no recursion, no extra memory.
void qsort(void *base, size_t count, size_t size, int (*compare)(const void *, const void *)) {
  unsigned char *a = (unsigned char *)base;
  auto swap = [&](size_t i, size_t j) {
    unsigned char *x = a + i * size, *y = a + j * size;
    for (size_t k = 0; k < size; k++) {
      unsigned char t = x[k];
      x[k] = y[k];
      y[k] = t;
    }
  };
  auto sift = [&](size_t root, size_t end) {
    for (size_t child; (child = 2 * root + 1) < end; root = child) {
      if (child + 1 < end && compare(a + child * size, a + (child + 1) * size) < 0) child++;
      if (compare(a + root * size, a + child * size) >= 0) return;
      swap(root, child);
    }
  };
  for (size_t i = count / 2; i-- > 0;) sift(i, count);
  for (size_t end = count; end > 1; end--) {
    swap(0, end - 1);
    sift(0, end - 1);
  }
}

void abort() { ExitProcess(3); }

// Destructors of static objects: the process ends with ExitProcess, which
// frees everything they would.
int atexit(void (*)()) { return 0; }

// The static constructors the linker lists (a count or -1, the functions,
// a null), run last to first as the C runtime does.
extern void (*__CTOR_LIST__[])();

}  // extern "C"

// The deleting destructors of the engine's classes name these; nothing in
// the stub creates its objects with new.
void operator delete(void *p) noexcept { free(p); }
void operator delete(void *p, size_t) noexcept { free(p); }

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int);

namespace {

// The DLLs the stub calls, and those the system's DLLs load for it later by
// name (the dialog's: input methods, themes, images, COM): loaded now from
// the system folder, so that every later load by name finds them loaded.
// Windows itself keeps most of them from being looked up beside a program;
// Wine does not, and later loads by system DLLs there ignore the search
// limit below.
const char *const kDlls[] = {"user32.dll", "gdi32.dll",  "advapi32.dll", "shell32.dll", "ole32.dll",
                             "combase.dll", "rpcrt4.dll", "imm32.dll",    "uxtheme.dll", "msimg32.dll",
                             "version.dll", "shlwapi.dll", "shcore.dll",  "comctl32.dll", "oleaut32.dll"};

void RestrictDllSearch() {
  typedef BOOL(WINAPI * SetDirectories)(DWORD);
  SetDirectories set =
      (SetDirectories)(void *)GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories");
  if (set && set(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    for (const char *name : kDlls) LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return;
  }
  // Without that call (Windows 7 before its 2011 update): the current folder
  // leaves the search, and each DLL is loaded by its full path in the system
  // folder, its own imports looked up there too.
  SetDllDirectoryA("");
  char path[MAX_PATH + 16];
  UINT length = GetSystemDirectoryA(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  for (const char *name : kDlls) {
    path[length] = '\\';
    memcpy(path + length + 1, name, strlen(name) + 1);
    LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  }
}

}  // namespace

extern "C" void KvStubStart() {
  RestrictDllSearch();
  size_t count = (size_t)__CTOR_LIST__[0];
  if (count == (size_t)-1)
    for (count = 0; __CTOR_LIST__[count + 1]; count++) {
    }
  for (size_t i = count; i >= 1; i--) __CTOR_LIST__[i]();
  // What follows the program's own name (quoted or not), as the C runtime
  // hands it on.
  char *line = GetCommandLineA();
  for (bool quoted = false; *line && (quoted || (unsigned char)*line > ' '); line++)
    if (*line == '"') quoted = !quoted;
  while (*line && (unsigned char)*line <= ' ') line++;
  ExitProcess((UINT)WinMain(GetModuleHandleA(nullptr), nullptr, line, SW_SHOWDEFAULT));
}
