// Lists of patterns and entries, and the selection of directory entries by
// include and exclude patterns and an optional filter.
#include <cstdlib>
#include <cstring>

#include "../fileio/path.h"
#include "zip_job.h"

namespace {

void FreePattern(void *item) {
  PatternRecord *p = (PatternRecord *)item;
  if (!p) return;
  free(p->text);
  free(p);
}

void FreeEntry(void *item) {
  EntryRecord *e = (EntryRecord *)item;
  if (!e) return;
  free(e->name);
  free(e->data);
  free(e->comment);
  free(e->extra);
  free(e);
}

// Patterns are compared by text; nothing here calls it, but a list of
// patterns carries it for callers that want to find duplicates.
int ComparePatterns(const void *a, const void *b) {
  return strcmp(((const PatternRecord *)a)->text, ((const PatternRecord *)b)->text);
}

int AppendNode(EntryList *list, void *item) {
  ListNode *node = (ListNode *)calloc(1, sizeof(ListNode));
  if (!node) return 0;
  node->item = item;
  if (list->last) list->last->next = node;
  else list->first = node;
  list->last = node;
  list->count++;
  return 1;
}

void RecordError(ArchiveJob *job, int32_t code) {
  if (job && job->archive.errorCode == 0) job->archive.errorCode = code;
}

// The folder part of an upper-cased name, without root ("DOCS\SUB\A.TXT"
// -> "DOCS\SUB\").
void FolderPart(const char *name, char *folderPart) {
  char dir[PATH_BUF_SIZE];
  PathGetDir(name, dir, sizeof dir);
  PathAfterRoot(dir, folderPart, PATH_BUF_SIZE);
}

// Splits an upper-cased name into its name part and its folder part.
void SplitName(const char *name, char *namePart, char *folderPart) {
  PathGetName(name, namePart, PATH_BUF_SIZE);
  FolderPart(name, folderPart);
}

}  // namespace

EntryList *CreateList(ArchiveJob *job, int kind) {
  if (kind != LIST_PATTERNS && kind != LIST_ENTRIES) {
    RecordError(job, ERR_BAD_ARGUMENT);
    return nullptr;
  }
  EntryList *list = (EntryList *)calloc(1, sizeof(EntryList));
  if (!list) {
    RecordError(job, ERR_NO_MEMORY);
    return nullptr;
  }
  if (kind == LIST_PATTERNS) {
    list->compare = ComparePatterns;
    list->freeItem = FreePattern;
  } else {
    list->freeItem = FreeEntry;
  }
  return list;
}

int32_t AddPattern(ArchiveJob *job, EntryList *list, const char *text) {
  PatternRecord *p = (PatternRecord *)calloc(1, sizeof(PatternRecord));
  size_t len = text ? strlen(text) : 0;
  char pattern[PATH_BUF_SIZE], namePart[PATH_BUF_SIZE], folderPart[PATH_BUF_SIZE];
  StrCopy(pattern, text ? text : "", sizeof pattern);
  NameUpper(pattern);
  SplitName(pattern, namePart, folderPart);
  size_t nameLength = strlen(namePart), folderLength = strlen(folderPart);
  char *copy = (char *)malloc(len + 1 + nameLength + 1 + folderLength + 1);
  if (!p || !copy || !list || !AppendNode(list, p)) {
    free(p);
    free(copy);
    RecordError(job, ERR_NO_MEMORY);
    return ERR_NO_MEMORY;
  }
  if (len) memcpy(copy, text, len);
  copy[len] = '\0';
  p->text = copy;
  memcpy(copy + len + 1, namePart, nameLength + 1);
  p->namePart = copy + len + 1;
  memcpy(copy + len + 1 + nameLength + 1, folderPart, folderLength + 1);
  p->folderPart = copy + len + 1 + nameLength + 1;
  return 0;
}

int AppendEntryCopy(ArchiveJob *job, EntryList *list, const EntryRecord *entry) {
  EntryRecord *copy = (EntryRecord *)malloc(sizeof(EntryRecord));
  char *name = nullptr;
  unsigned char *data = nullptr;
  if (copy) {
    *copy = *entry;
    size_t len = entry->name ? strlen(entry->name) : 0;
    name = (char *)malloc(len + 1);
    if (name) {
      if (len) memcpy(name, entry->name, len);
      name[len] = '\0';
    }
    if (entry->data && entry->dataLength) {
      data = (unsigned char *)malloc(entry->dataLength);
      if (data) memcpy(data, entry->data, entry->dataLength);
    }
  }
  bool dataOk = !(entry->data && entry->dataLength) || data;
  if (!copy || !name || !dataOk || !AppendNode(list, copy)) {
    free(copy);
    free(name);
    free(data);
    RecordError(job, ERR_NO_MEMORY);
    return 0;
  }
  copy->name = name;
  copy->data = data;
  if (!data) copy->dataLength = 0;
  // The comment and extra buffers pass to the copy.
  return 1;
}

void FreeList(EntryList *list) {
  if (!list) return;
  free(list->aux);
  for (ListNode *n = list->first; n;) {
    ListNode *next = n->next;
    if (list->freeItem) list->freeItem(n->item);
    free(n);
    n = next;
  }
  free(list);
}

int MatchesPatternList(const char *upperName, const EntryList *list) {
  if (!upperName || !list) return 0;
  char namePart[PATH_BUF_SIZE], folderPart[PATH_BUF_SIZE];
  PathGetName(upperName, namePart, PATH_BUF_SIZE);
  // The folder part only when a pattern asks for it: a wildcard pattern
  // without a folder ("*.*") matches in every folder.
  bool haveFolder = false;
  for (const ListNode *n = list->first; n; n = n->next) {
    const PatternRecord *p = (const PatternRecord *)n->item;
    const char *patName = p->namePart, *patFolder = p->folderPart;
    if (!NameMatch(namePart, patName)) continue;
    if (patName[0] == '*' && patFolder[0] == '\0') return 1;
    if (!haveFolder) {
      FolderPart(upperName, folderPart);
      haveFolder = true;
    }
    if (patName[0] == '*') {
      // A wildcard name matches in the pattern's folder and every folder below it.
      if (strncmp(folderPart, patFolder, strlen(patFolder)) == 0) return 1;
    } else if (strcmp(folderPart, patFolder) == 0) {
      return 1;
    }
  }
  return 0;
}

int PassesFilter(const EntryRecord *entry, const EntryFilter *f) {
  if (!f) return 1;
  if ((f->enable & FILTER_ATTR_REQUIRED) && (entry->attributes & f->attrRequired) != f->attrRequired) return 0;
  if ((f->enable & FILTER_ATTR_EXCLUDED) && (entry->attributes & f->attrExcluded)) return 0;
  if ((f->enable & FILTER_MIN_SIZE) && entry->uncompressedSize < f->minSize) return 0;
  if ((f->enable & FILTER_MAX_SIZE) && entry->uncompressedSize > f->maxSize) return 0;
  if ((f->enable & FILTER_NOT_BEFORE) && entry->dosDateTime < f->notBefore) return 0;
  if ((f->enable & FILTER_NOT_AFTER) && entry->dosDateTime > f->notAfter) return 0;
  return 1;
}

int ZipArchiveJob::IsSelected(const EntryRecord *entry, EntryList *includes, EntryList *excludes) {
  if (!includes) return 0;
  // "*.*" or "*" in no folder, and nothing excluded: every name is taken.
  const PatternRecord *first = includes->first ? (const PatternRecord *)includes->first->item : nullptr;
  if (first && (!excludes || !excludes->first) && first->folderPart[0] == '\0' &&
      (!strcmp(first->namePart, "*.*") || !strcmp(first->namePart, "*")))
    return PassesFilter(entry, filter);
  char name[PATH_BUF_SIZE];
  StrCopy(name, entry->name, sizeof name);
  NameUpper(name);
  if (!MatchesPatternList(name, includes)) return 0;
  if (excludes && MatchesPatternList(name, excludes)) return 0;
  return PassesFilter(entry, filter);
}
