// Volumes of split and spanned archives. A split set lies in one folder as
// 'setup.z01', 'setup.z02', ... beside its last volume, which keeps its own
// name ('setup.exe' or 'setup.zip'); a spanned set has one file of the base
// name on each removable disk, told apart by the disk label "PKBACK# 001"...
// Every lookup starts again from archivePath: a folder the user named for one
// volume is not remembered for the next.
#include "volume.h"

#include <cstring>

#include "../fileio/file_io.h"
#include "../fileio/path.h"
#include "../fileio/platform.h"
#include "../fileio/volume_label.h"
#include "zip_job.h"

namespace {

const VolumeDriveBackend kPlatformDrives = {DriveIsRemovable, DriveReadLabel, FileExists};
const VolumeDriveBackend *g_drives = &kPlatformDrives;

// The dot of the name part's extension, or null. A dot in a folder name is
// not an extension.
char *NameExt(char *path) {
  char *name = (char *)PathFindName(path);
  if (!name) name = path;
  char *dot = nullptr;
  for (char *p = name; *p; p = (char *)TextNext(p))
    if (*p == '.') dot = p;
  return dot;
}

// Replaces the name part's extension by ext (with its dot; empty removes it).
void SetNameExt(char *path, size_t size, const char *ext) {
  char *dot = NameExt(path);
  if (dot) *dot = '\0';
  StrAppend(path, ext, size);
}

// The names one lookup works from.
struct VolumeNames {
  char base[PATH_BUF_SIZE];      // archivePath with the extension ".zip"
  char baseName[PATH_BUF_SIZE];  // its name part
  char volumeExt[PATH_BUF_SIZE];  // the extension of the wanted volume
};

void BuildNames(const char *archivePath, uint32_t n, uint32_t last, VolumeNames *names) {
  StrCopy(names->base, archivePath, sizeof names->base);
  char own[PATH_BUF_SIZE];
  const char *dot = NameExt(names->base);
  StrCopy(own, dot ? dot : "", sizeof own);
  SetNameExt(names->base, sizeof names->base, ".zip");
  PathGetName(names->base, names->baseName, sizeof names->baseName);
  if (n == last) StrCopy(names->volumeExt, own, sizeof names->volumeExt);
  else VolumeExtension(n, names->volumeExt, sizeof names->volumeExt);
}

// The three candidates for the volume beside base path p.
struct Candidates {
  char split[PATH_BUF_SIZE];     // folder of p + base name with the volume extension
  char appended[PATH_BUF_SIZE];  // p + the volume extension
  char executable[PATH_BUF_SIZE];  // p with ".exe"
};

void BuildCandidates(const char *p, const VolumeNames &names, Candidates *c) {
  PathGetDir(p, c->split, sizeof c->split);
  if (c->split[0]) PathEnsureBackslash(c->split);
  StrAppend(c->split, names.baseName, sizeof c->split);
  SetNameExt(c->split, sizeof c->split, names.volumeExt);
  StrCopy(c->appended, p, sizeof c->appended);
  StrAppend(c->appended, names.volumeExt, sizeof c->appended);
  StrCopy(c->executable, p, sizeof c->executable);
  SetNameExt(c->executable, sizeof c->executable, ".exe");
}

// The first candidate that exists, by name only. The executable name serves
// the first volume of a set whose self-extractor carries it; when that name
// is the archive's own last volume it cannot be another volume of the set.
const char *FindByName(const Candidates &c, const char *archivePath, uint32_t n, uint32_t last,
                       bool executableForAny) {
  if (g_drives->fileExists(c.split)) return c.split;
  if (g_drives->fileExists(c.appended)) return c.appended;
  if ((n == 0 || executableForAny) && g_drives->fileExists(c.executable) &&
      (n == last || TextCompareNoCase(c.executable, archivePath) != 0))
    return c.executable;
  return nullptr;
}

// On a labelled disk: the base name, then the executable name.
const char *FindOnDisk(const char *p, const Candidates &c, uint32_t n) {
  if (IsDiskLabelled(p, n) && g_drives->fileExists(p)) return p;
  if (IsDiskLabelled(c.executable, n) && g_drives->fileExists(c.executable)) return c.executable;
  return nullptr;
}

// Asks for the folder of volume n with buffer's text offered; on 1 the
// buffer holds the folder with its backslash. Refusal records 28001. An
// answer equal to the previous one counts against the limit, which then
// records the volume as missing.
int AskFolder(ZipArchiveJob *job, char *buffer, uint32_t n, char *previous, uint32_t *repeats) {
  const CallbackSlot<NextVolumeFn> &slot = job->callbacks.onNextVolume;
  if (slot.fn(slot.user, buffer, 0, (int32_t)(n + 1), (int32_t)(n + 1)) != 1) {
    job->SetError(ERR_CANCELLED);
    return 0;
  }
  buffer[PATH_BUF_SIZE - 1] = '\0';
  if (buffer[0]) PathEnsureBackslash(buffer);
  if (TextCompareNoCase(buffer, previous) == 0) {
    if (++*repeats >= VOLUME_PROMPT_LIMIT) {
      job->SetError(ERR_VOLUME_MISSING);
      return 0;
    }
  } else {
    *repeats = 0;
    StrCopy(previous, buffer, PATH_BUF_SIZE);
  }
  return 1;
}

// Whether the volumes are looked for as disks by their labels: on a
// removable drive whose disk is a spanned one ("PKBACK#") or cannot be read
// (no disk yet: ask for it). A removable drive holding a disk with another
// label (a memory stick with a split set copied onto it), and any drive of a
// platform without labels, is searched by file names as a fixed drive is;
// asking for disks there would ask for every volume that lies right there.
bool LooksForDisks(const char *p) {
  if (!g_drives->isRemovable(p)) return false;
  char root[PATH_BUF_SIZE], label[PATH_BUF_SIZE];
  if (!PathGetRoot(p, root, sizeof root) || !root[0]) return false;
  PathEnsureBackslash(root);
  label[0] = '\0';
  int got = g_drives->readLabel(root, label, sizeof label);
  if (got < 0) return false;
  if (got == 0) return true;
  label[sizeof label - 1] = '\0';
  return strstr(label, "PKBACK#") != nullptr;
}

}  // namespace

void VolumeSetDriveBackend(const VolumeDriveBackend *backend) { g_drives = backend ? backend : &kPlatformDrives; }

void VolumeExtension(uint32_t n, char *out, size_t size) {
  uint64_t k = (uint64_t)n + 1;
  if (k < 10) StrPrintf(out, size, ".z0%u", (unsigned)k);
  else if (k < 100) StrPrintf(out, size, ".z%u", (unsigned)k);
  else StrPrintf(out, size, ".%llu", (unsigned long long)k);
}

int IsDiskLabelled(const char *path, uint32_t n) {
  if (!path || !g_drives->isRemovable(path)) return 0;
  char root[PATH_BUF_SIZE], label[PATH_BUF_SIZE];
  if (!PathGetRoot(path, root, sizeof root) || !root[0]) return 0;
  PathEnsureBackslash(root);
  label[0] = '\0';
  if (g_drives->readLabel(root, label, sizeof label) != 1) return 0;
  label[sizeof label - 1] = '\0';
  const char *mark = strstr(label, "PKBACK#");
  if (!mark) return 0;
  const char *digits = mark + 7;
  while (*digits == '0' || *digits == ' ') digits++;
  // Decimal digits up to the first other character, as atol reads them; a
  // number too long for a disk count matches no volume.
  uint64_t number = 0;
  for (; *digits >= '0' && *digits <= '9'; digits++) {
    number = number * 10 + (uint64_t)(*digits - '0');
    if (number > 0xFFFFFFFFull + 1) return 0;
  }
  return number == (uint64_t)n + 1 ? 1 : 0;
}

int GetVolumePath(ZipArchiveJob *job, uint32_t n, uint32_t last, char *out, size_t size) {
  const char *archivePath = job->archive.archivePath;
  VolumeNames names;
  BuildNames(archivePath, n, last, &names);
  char p[PATH_BUF_SIZE];
  StrCopy(p, names.base, sizeof p);
  Candidates c;
  BuildCandidates(p, names, &c);
  char buffer[PATH_BUF_SIZE], previous[PATH_BUF_SIZE];
  previous[0] = '\0';
  uint32_t repeats = 0;
  const char *found = nullptr;

  if (!LooksForDisks(p)) {
    for (;;) {
      found = FindByName(c, archivePath, n, last, false);
      if (found) break;
      if (!job->callbacks.onNextVolume.fn) {
        job->SetError(ERR_VOLUME_MISSING);
        return 0;
      }
      StrCopy(buffer, c.split, sizeof buffer);
      if (!AskFolder(job, buffer, n, previous, &repeats)) return 0;
      StrCopy(p, buffer, sizeof p);
      StrAppend(p, names.baseName, sizeof p);
      BuildCandidates(p, names, &c);
    }
  } else {
    found = FindOnDisk(p, c, n);
    if (!found && !job->callbacks.onNextVolume.fn) {
      job->SetError(ERR_VOLUME_MISSING);
      return 0;
    }
    while (!found) {
      // The drive alone ("A:"): the trim helper keeps a root's backslash.
      PathGetRoot(p, buffer, sizeof buffer);
      size_t length = strlen(buffer);
      if (length > 0 && buffer[length - 1] == '\\') buffer[length - 1] = '\0';
      if (!AskFolder(job, buffer, n, previous, &repeats)) return 0;
      StrCopy(p, buffer, sizeof p);
      StrAppend(p, names.baseName, sizeof p);
      BuildCandidates(p, names, &c);
      found = FindOnDisk(p, c, n);
      if (!found) found = FindByName(c, archivePath, n, last, true);
    }
  }
  StrCopy(out, found, size);
  return 1;
}

int SwitchToVolume(ZipArchiveJob *job, uint32_t n) {
  char path[PATH_BUF_SIZE];
  // A directory that names a volume behind the last one: no folder can hold
  // it, so asking for it would only ask again.
  if (n > job->archive.lastDisk) {
    job->SetError(ERR_INVALID_DATA);
    return 0;
  }
  if (!GetVolumePath(job, n, job->archive.lastDisk, path, sizeof path)) return 0;
  job->archive.currentDisk = n;
  if (job->archive.volumeHandle != INVALID_FILE) FileClose(job->archive.volumeHandle);
  job->archive.volumeHandle = FileOpen(path, "rb");
  if (job->archive.volumeHandle == INVALID_FILE) {
    job->SetError(ERR_FILE_ACCESS);
    return 0;
  }
  return 1;
}

void DisplaceFirstVolume(ZipArchiveJob *job, EntryList *entries) {
  if (!job->archive.multiVolume || job->archive.lastDisk == 0 || !entries) return;
  EntryRecord *first = nullptr;
  for (ListNode *node = entries->first; node; node = node->next) {
    EntryRecord *e = (EntryRecord *)node->item;
    if (e->diskStart == 0 && (!first || e->localHeaderOffset < first->localHeaderOffset)) first = e;
  }
  if (!first) return;
  // By name only: the user is asked when the volume is really needed.
  const char *archivePath = job->archive.archivePath;
  VolumeNames names;
  BuildNames(archivePath, 0, job->archive.lastDisk, &names);
  Candidates c;
  BuildCandidates(names.base, names, &c);
  const char *found =
      LooksForDisks(names.base) ? nullptr : FindByName(c, archivePath, 0, job->archive.lastDisk, false);
  if (found != c.executable) return;

  FileHandle h = FileOpen(found, "rb");
  if (h == INVALID_FILE) return;
  // The local header of the first entry: its signature, name length and
  // (without a data descriptor) its CRC-32 and compressed size must agree
  // with the directory. The earliest match behind the offset wins.
  unsigned char *buffer = job->readBuffer;
  const uint32_t chunk = READ_BUF_SIZE;
  int64_t base = 0;
  int64_t displacement = -1;
  uint32_t carry = 0;
  while (buffer && displacement < 0) {
    int32_t got = FileRead(h, buffer + carry, chunk - carry);
    if (got <= 0) break;
    uint32_t length = carry + (uint32_t)got;
    uint32_t i = 0;
    for (; i + LOCAL_HEADER_SIZE <= length; i++) {
      const unsigned char *p = buffer + i;
      if (GetU32(p) != SIG_LOCAL_HEADER || GetU16(p + 26) != first->nameLength) continue;
      if (!(GetU16(p + 6) & FLAG_DATA_DESCRIPTOR) &&
          (GetU32(p + 14) != first->crc32 || (GetU32(p + 18) != (uint32_t)first->compressedSize &&
                                              GetU32(p + 18) != 0xFFFFFFFFu)))
        continue;
      int64_t at = base + i;
      if (at >= (int64_t)first->localHeaderOffset) displacement = at - (int64_t)first->localHeaderOffset;
      if (displacement >= 0) break;
    }
    // Keep the bytes that could start a header cut by the chunk's end.
    carry = length - i < LOCAL_HEADER_SIZE ? length - i : 0;
    if (displacement < 0) {
      memmove(buffer, buffer + i, carry);
      base += i;
    }
  }
  FileClose(h);
  if (displacement <= 0) return;
  for (ListNode *node = entries->first; node; node = node->next) {
    EntryRecord *e = (EntryRecord *)node->item;
    if (e->diskStart == 0) e->localHeaderOffset += (uint64_t)displacement;
  }
}

int NextVolume(ZipArchiveJob *job) {
  // Data that runs on past the last volume: the directory promised more than
  // the set holds. Asking for a volume that no set has would never end.
  if (job->archive.currentDisk >= job->archive.lastDisk) {
    job->SetError(ERR_INVALID_DATA);
    return 0;
  }
  if (!SwitchToVolume(job, job->archive.currentDisk + 1)) return 0;
  // The last volume of a self-extractor carries the program in front of its
  // data: the continuation starts where the archive starts in that file.
  if (job->archive.currentDisk == job->archive.lastDisk && job->shift > 0 &&
      FileSeek64(job->archive.volumeHandle, job->shift, FILE_BEGIN) != job->shift) {
    job->SetError(ERR_FILE_ACCESS);
    return 0;
  }
  return 1;
}
