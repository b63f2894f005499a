// Volume switching. Until split archives are read, only the volume that holds
// the end record is known; any other volume is reported missing, and a request
// for the next volume ends the input of the entry.
#include "volume.h"

#include "../fileio/file_io.h"
#include "zip_job.h"

int NextVolume(ZipArchiveJob *) { return 0; }

int GetVolumePath(ZipArchiveJob *job, uint32_t n, uint32_t last, char *out, size_t size) {
  if (n != last) {
    job->SetError(ERR_VOLUME_MISSING);
    return 0;
  }
  StrCopy(out, job->archive.archivePath, size);
  return 1;
}

int SwitchToVolume(ZipArchiveJob *job, uint32_t n) {
  char path[PATH_BUF_SIZE];
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
