// Volume switching of split and spanned archives.
#ifndef KV_VOLUME_H
#define KV_VOLUME_H

#include <cstddef>
#include <cstdint>

class ZipArchiveJob;

// Opens the volume after the current one on the job's volumeHandle,
// positioned at its start, and advances currentDisk. Returns 1, or 0 with
// the reason in the job's errorCode.
int NextVolume(ZipArchiveJob *job);

// The path of volume n (0-based) of an archive whose last volume is last.
// 1 with the path in out, or 0 with the reason in the job's errorCode.
int GetVolumePath(ZipArchiveJob *job, uint32_t n, uint32_t last, char *out, size_t size);

// Opens volume n for reading on volumeHandle (closing the one open) and makes
// it the current disk. 1, or 0 with the reason in the job's errorCode.
int SwitchToVolume(ZipArchiveJob *job, uint32_t n);

#endif
