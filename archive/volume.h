// Volumes of split and spanned archives: their file names, the disk labels of
// removable drives, and the switch of the engine's open volume file.
#ifndef KV_VOLUME_H
#define KV_VOLUME_H

#include <cstddef>
#include <cstdint>

class ZipArchiveJob;

// Opens the volume after the current one on the job's volumeHandle,
// positioned at its start, and advances currentDisk. Returns 1, or 0 with
// the reason in the job's errorCode.
int NextVolume(ZipArchiveJob *job);

// The path of volume n (0-based) of an archive whose last volume is last,
// asking the user through onNextVolume while no candidate file exists.
// 1 with the path in out, or 0 with the reason in the job's errorCode.
int GetVolumePath(ZipArchiveJob *job, uint32_t n, uint32_t last, char *out, size_t size);

// Opens volume n for reading on volumeHandle (closing the one open) and makes
// it the current disk. 1, or 0 with the reason in the job's errorCode.
int SwitchToVolume(ZipArchiveJob *job, uint32_t n);

// A first volume that a self-extractor carries behind its program: when
// volume 0 is found by the executable name, the local-header offsets of the
// entries on it are moved by the program's length, found as the position of
// the first such entry's local header. Nothing changes otherwise.
struct EntryList;
void DisplaceFirstVolume(ZipArchiveJob *job, EntryList *entries);

// 1 when path lies on a removable drive whose label carries "PKBACK#" and
// the disk number n + 1; else 0.
int IsDiskLabelled(const char *path, uint32_t n);

// The extension of volume n (0-based) that is not the last: ".z01".."z99",
// then ".100" and up.
void VolumeExtension(uint32_t n, char *out, size_t size);

// The questions the volume lookup asks of drives and files. Tests replace
// them to play removable disks; null in VolumeSetDriveBackend restores the
// platform's answers.
struct VolumeDriveBackend {
  int (*isRemovable)(const char *path);
  // The label of the drive whose root (with its backslash) is given: 1; 0
  // when there is no disk or no label can be read; -1 when the platform's
  // drives carry no labels.
  int (*readLabel)(const char *root, char *label, size_t size);
  int (*fileExists)(const char *path);
};
void VolumeSetDriveBackend(const VolumeDriveBackend *backend);

// Prompts for one volume answered with a folder where it still is not found,
// after which the lookup gives up as if the volume were missing. A prompt
// that cannot be shown may answer at once with the folder it was offered;
// without a bound that would ask forever.
constexpr uint32_t VOLUME_PROMPT_LIMIT = 64;

#endif
