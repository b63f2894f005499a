// Volume switching of split and spanned archives.
#ifndef KV_VOLUME_H
#define KV_VOLUME_H

class ZipArchiveJob;

// Opens the volume after the current one on the job's volumeHandle,
// positioned at its start, and advances currentDisk. Returns 1, or 0 with
// the reason in the job's errorCode.
int NextVolume(ZipArchiveJob *job);

#endif
