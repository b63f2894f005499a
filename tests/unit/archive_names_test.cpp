// Entry names and selection: the cleaning rules that keep every name below
// the target folder, the output path, include and exclude patterns, filters
// and the lists.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fileio/platform.h"

// The engine is built without RTTI, so its classes have no type information
// for the sanitizer's dynamic-type check of this (RTTI) test file.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((no_sanitize("vptr"))), apply_to = function)
#endif
#include "archive/zip_job.h"

namespace {

TEST(ArchiveNames, CleanEntryNameKeepsNamesBelowTheFolder) {
  struct Case {
    const char *in, *want;
  } cases[] = {
      {"../../etc/x", "etc\\x"},
      {"a/../b", "a\\b"},
      {"./x", "x"},
      {"\\\\server\\share\\f", "server\\share\\f"},
      {"a|b?.txt", "a_b_.txt"},
      {"..abc", "..abc"},  // two dots followed by a letter keep their dots
      {"dir/", "dir\\"},
      {"docs\\Sub Dir\\a.b.txt", "docs\\Sub Dir\\a.b.txt"},  // clean already: kept as it is
      // Components that would name the folder itself or one above it go.
      {"..", ""},
      {"...", ""},
      {".. /x", "x"},
      {". ./x", "x"},
      {"a/./b", "a\\b"},
      {"a//b\\\\c", "a\\b\\c"},
      {"/abs/path", "abs\\path"},
      {"a:b", "a_b"},
      {"c:x", "c_x"},
      {"\x01name\x1f", "_name_"},
      {"..\\..\\..\\", ""},
      // Names Windows keeps for devices, in any case, with any extension,
      // trailing dots or blanks, in any component, get a '_' in front.
      {"NUL", "_NUL"},
      {"sub/aux.txt", "sub\\_aux.txt"},
      {"Con .tar.gz", "_Con .tar.gz"},
      {"com1./lpt9", "_com1.\\_lpt9"},
      {"CONIN$\\conout$", "_CONIN$\\_conout$"},
      {"COM\xB9", "_COM\xB9"},
      {"COM10", "COM10"},
      {"CONSOLE", "CONSOLE"},
      {"nul/", "_nul\\"},
      {"docs\\nul.txt\\", "docs\\_nul.txt\\"},
  };
  for (const auto &c : cases) {
    char name[PATH_BUF_SIZE];
    StrCopy(name, c.in, sizeof name);
    CleanEntryName(name, sizeof name, 1);
    EXPECT_STREQ(c.want, name) << "input: " << c.in;
    // Cleaning is stable: a second pass changes nothing.
    char again[PATH_BUF_SIZE];
    StrCopy(again, name, sizeof again);
    CleanEntryName(again, sizeof again, 1);
    EXPECT_STREQ(name, again) << "input: " << c.in;
  }
}

// Options that keep the entries' paths below folder.
void KeepPathsInto(ZipArchiveJob *job, ExtractOptions *o, const char *folder) {
  memset(o, 0, sizeof *o);
  o->size = EXTRACT_OPTIONS_SIZE;
  o->keepPaths = 1;
  StrCopy(o->destFolder, folder, sizeof o->destFolder);
  job->SetOptions(2, o);
}

// Names in a double-byte code page (Japanese: 0x83 0x7C and 0x95 0x5C are
// single characters whose second byte is '|' or '\'). Only where the platform
// steps such pairs as one character, i.e. under a Japanese code page.
TEST(ArchiveNames, CleanEntryNameKeepsDoubleByteCharacters) {
  const char probe[] = "\x83\x7C";
  if (TextNext(probe) != probe + 2) GTEST_SKIP() << "the code page is not double-byte";
  struct Case {
    const char *in, *want;
  } cases[] = {
      {"\x83\x7C\x81\x5B\x83\x67.txt", "\x83\x7C\x81\x5B\x83\x67.txt"},
      {"\x95\x5C\\readme.txt", "\x95\x5C\\readme.txt"},  // folder, then file
      {"\x95\x5C\\", "\x95\x5C\\"},
      {"\x95\x5C..x", "\x95\x5C..x"},  // no slash in front of the dots
      {"a|\x83\x7C?", "a_\x83\x7C_"},
      {"\x95\x5C\\..\\x", "\x95\x5C\\x"},
  };
  for (const auto &c : cases) {
    char name[PATH_BUF_SIZE];
    StrCopy(name, c.in, sizeof name);
    CleanEntryName(name, sizeof name);
    EXPECT_STREQ(c.want, name) << "input: " << c.in;
  }
  // The output path keeps them too, into a folder whose last character ends in 0x5C.
  ZipArchiveJob job;
  ExtractOptions o;
  KeepPathsInto(&job, &o, "D:\\\x95\x5C");
  char out[PATH_BUF_SIZE];
  EXPECT_EQ(1, job.BuildOutputPath("\x83\x7C.txt", out, sizeof out));
  EXPECT_STREQ("D:\\\x95\x5C\\\x83\x7C.txt", out);
}

TEST(ArchiveNames, OutputPathUnderTheFolder) {
  ZipArchiveJob job;
  ExtractOptions o;
  KeepPathsInto(&job, &o, "D:\\out");
  ASSERT_EQ(0, job.GetError());
  EXPECT_STREQ("D:\\out\\", job.archive.destFolder);
  struct Case {
    const char *name, *want;
    int clean;
  } cases[] = {
      {"docs\\readme.txt", "D:\\out\\docs\\readme.txt", 1},
      {"docs/readme.txt", "D:\\out\\docs\\readme.txt", 1},
      {"\\lead.txt", "D:\\out\\lead.txt", 1},
      {"a|b", "D:\\out\\a_b", 0},
      {"?x", "D:\\out\\_x", 0},  // the name's first character too
      {"..\\up.txt", "D:\\out\\up.txt", 1},
  };
  char out[PATH_BUF_SIZE];
  for (const auto &c : cases) {
    EXPECT_EQ(c.clean, job.BuildOutputPath(c.name, out, sizeof out)) << c.name;
    EXPECT_STREQ(c.want, out) << c.name;
  }
  // A name that does not fit is refused rather than cut into another name.
  std::string longName(300, 'n');
  EXPECT_EQ(-1, job.BuildOutputPath(longName.c_str(), out, sizeof out));

  o.keepPaths = 0;
  job.SetOptions(2, &o);
  EXPECT_EQ(1, job.BuildOutputPath("docs\\sub\\f.txt", out, sizeof out));
  EXPECT_STREQ("D:\\out\\f.txt", out);
}

TEST(ArchiveNames, SetOptionsChecksKindAndSize) {
  ZipArchiveJob job;
  ExtractOptions o;
  memset(&o, 0, sizeof o);
  o.size = EXTRACT_OPTIONS_SIZE - 1;
  job.SetOptions(2, &o);
  EXPECT_EQ(ERR_BAD_ARGUMENT, job.GetError());
  job.archive.errorCode = 0;
  o.size = EXTRACT_OPTIONS_SIZE;
  job.SetOptions(7, &o);
  EXPECT_EQ(ERR_BAD_ARGUMENT, job.GetError());
  job.archive.errorCode = 0;
  job.SetOptions(0, &o);
  job.SetOptions(2, nullptr);
  EXPECT_EQ(0, job.GetError());
}

EntryList *Patterns(ArchiveJob *job, std::initializer_list<const char *> texts) {
  EntryList *list = CreateList(job, LIST_PATTERNS);
  for (const char *t : texts) EXPECT_EQ(0, AddPattern(job, list, t));
  return list;
}

TEST(ArchiveSelect, IncludeAndExcludePatterns) {
  ZipArchiveJob job;
  struct Case {
    std::initializer_list<const char *> includes;
    std::initializer_list<const char *> excludes;  // empty: no exclude list
    const char *name;
    int selected;
  } cases[] = {
      {{"*.TXT"}, {}, "A.TXT", 1},
      {{"*.TXT"}, {}, "DOCS\\B.TXT", 1},
      {{"*.TXT"}, {}, "docs\\readme.txt", 1},  // letter case is ignored
      {{"DOCS\\*.TXT"}, {}, "DOCS\\B.TXT", 1},
      {{"DOCS\\*.TXT"}, {}, "DOCS\\SUB\\C.TXT", 1},
      {{"DOCS\\*.TXT"}, {}, "B.TXT", 0},
      {{"DOCS\\README"}, {}, "DOCS\\README", 1},
      {{"DOCS\\README"}, {}, "README", 0},
      {{"DOCS\\README"}, {}, "DOCS\\SUB\\README", 0},
      {{"*.*"}, {}, "dir\\", 1},  // directory entries too
      {{"*.*"}, {}, "noext", 1},
      {{"*.TXT"}, {"*.TXT"}, "A.TXT", 0},  // exclude wins over include
      {{"*.*"}, {"DOCS\\*.*"}, "DOCS\\X.BIN", 0},
      {{"*.*"}, {"DOCS\\*.*"}, "OTHER\\X.BIN", 1},
      {{"*.BIN", "*.TXT"}, {}, "X.TXT", 1},
      {{"OTHER\\*.TXT", "DOCS\\*.TXT"}, {}, "DOCS\\A.TXT", 1},  // the second pattern's folder decides
      {{"*.BIN"}, {}, "X.TXT", 0},
  };
  for (const auto &c : cases) {
    EntryList *inc = Patterns(&job, c.includes);
    EntryList *exc = c.excludes.size() ? Patterns(&job, c.excludes) : nullptr;
    EntryRecord e;
    memset(&e, 0, sizeof e);
    char name[PATH_BUF_SIZE];
    StrCopy(name, c.name, sizeof name);
    e.name = name;
    EXPECT_EQ(c.selected, job.IsSelected(&e, inc, exc)) << c.name << " against " << *c.includes.begin();
    FreeList(inc);
    FreeList(exc);
  }
  EntryRecord e;
  memset(&e, 0, sizeof e);
  char name[] = "A";
  e.name = name;
  EXPECT_EQ(0, job.IsSelected(&e, nullptr, nullptr)) << "an include list is required";
}

TEST(ArchiveSelect, FilterLimits) {
  EntryRecord e;
  memset(&e, 0, sizeof e);
  e.uncompressedSize = 100;
  e.attributes = FILE_ATTRIBUTE_ARCHIVE;
  e.dosDateTime = 0x50000000;
  struct Case {
    EntryFilter f;
    int passes;
  } cases[] = {
      {{0, 0, 0, 0, 0, 0, 0}, 1},
      {{FILTER_MIN_SIZE, 0, 0, 101, 0, 0, 0}, 0},
      {{FILTER_MIN_SIZE | FILTER_MAX_SIZE, 0, 0, 100, 100, 0, 0}, 1},
      {{FILTER_MAX_SIZE, 0, 0, 0, 99, 0, 0}, 0},
      {{FILTER_ATTR_REQUIRED, FILE_ATTRIBUTE_READONLY, 0, 0, 0, 0, 0}, 0},
      {{FILTER_ATTR_EXCLUDED, 0, FILE_ATTRIBUTE_ARCHIVE, 0, 0, 0, 0}, 0},
      {{FILTER_NOT_BEFORE, 0, 0, 0, 0, 0x50000001, 0}, 0},
      {{FILTER_NOT_AFTER, 0, 0, 0, 0, 0, 0x50000000}, 1},
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; i++)
    EXPECT_EQ(cases[i].passes, PassesFilter(&e, &cases[i].f)) << "case " << i;
  EXPECT_EQ(1, PassesFilter(&e, nullptr));
}

TEST(ArchiveSelect, ListsKeepOrderAndOwnTheirCopies) {
  ZipArchiveJob job;
  EXPECT_EQ(nullptr, CreateList(&job, 5));
  EXPECT_EQ(ERR_BAD_ARGUMENT, job.GetError());
  job.archive.errorCode = 0;
  EntryList *list = CreateList(&job, LIST_ENTRIES);
  ASSERT_NE(nullptr, list);
  const char *names[] = {"b", "a", "c"};
  for (const char *n : names) {
    char name[PATH_BUF_SIZE];
    StrCopy(name, n, sizeof name);
    EntryRecord e;
    memset(&e, 0, sizeof e);
    e.name = name;
    ASSERT_EQ(1, AppendEntryCopy(&job, list, &e));
    name[0] = 'Z';  // the list holds its own copy of the name
  }
  ASSERT_EQ(3u, list->count);
  size_t i = 0;
  for (ListNode *n = list->first; n; n = n->next, i++) EXPECT_STREQ(names[i], ((EntryRecord *)n->item)->name);
  FreeList(list);
  FreeList(nullptr);
}

// An entry holds at least its 30-byte local header and its compressed bytes.
TEST(ArchiveSelect, EntriesOverlapWhereTheirDataMeet) {
  struct Range {
    uint32_t disk;
    uint64_t offset, packed;
  };
  struct Case {
    const char *what;
    std::vector<Range> ranges;
    int want;
  } cases[] = {
      {"back to back", {{0, 0, 10}, {0, 40, 5}, {0, 75, 0}}, 0},
      {"one byte into the one before", {{0, 0, 10}, {0, 39, 5}}, 1},
      {"the same local header", {{0, 100, 0}, {0, 100, 0}}, 1},
      {"the same offset on other volumes", {{0, 0, 100}, {1, 0, 100}}, 0},
      {"inside a large one, out of order", {{0, 500, 10}, {0, 2000, 1}, {0, 0, 1000}}, 1},
      {"a size at the top of the range", {{0, 10, UINT64_MAX}, {0, 100, 0}}, 1},
      {"one entry", {{0, 0, 0}}, 0},
  };
  ZipArchiveJob job;
  for (const Case &c : cases) {
    EntryList *list = CreateList(&job, LIST_ENTRIES);
    ASSERT_NE(nullptr, list);
    for (const Range &r : c.ranges) {
      EntryRecord e;
      memset(&e, 0, sizeof e);
      e.name = (char *)"x";
      e.diskStart = r.disk;
      e.localHeaderOffset = r.offset;
      e.compressedSize = r.packed;
      ASSERT_EQ(1, AppendEntryCopy(&job, list, &e));
    }
    EXPECT_EQ(c.want, EntriesOverlap(list)) << c.what;
    FreeList(list);
  }
}

TEST(ArchiveSelect, ExtraBlocksStayInsideTheField) {
  // id 0x0001 (4 data bytes), then id 0x9901 (7 data bytes).
  const unsigned char extra[] = {0x01, 0x00, 0x04, 0x00, 1, 2, 3, 4, 0x01, 0x99, 0x07, 0x00,
                                 0x02, 0x00, 'A', 'E', 3, 8, 0};
  const unsigned char *block = nullptr;
  ASSERT_EQ(1, FindExtraBlock(extra, sizeof extra, EXTRA_AES, 11, &block));
  EXPECT_EQ(extra + 8, block);
  EXPECT_EQ(1, FindExtraBlock(extra, sizeof extra, EXTRA_ZIP64, 4, &block));
  EXPECT_EQ(0, FindExtraBlock(extra, sizeof extra, EXTRA_ZIP64, 32, &block)) << "too short for the minimum";
  // A block whose size runs past the field is not found.
  EXPECT_EQ(0, FindExtraBlock(extra, sizeof extra - 1, EXTRA_AES, 11, &block));
  EXPECT_EQ(0, FindExtraBlock(nullptr, 0, EXTRA_AES, 11, &block));
}

}  // namespace

#if defined(__clang__)
#pragma clang attribute pop
#endif
