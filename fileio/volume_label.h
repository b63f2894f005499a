// The label of a drive's disk, asked of the platform without any system
// error box when the drive holds no disk.
#ifndef KV_VOLUME_LABEL_H
#define KV_VOLUME_LABEL_H

#include <cstddef>

// root names the drive with its trailing backslash ("A:\"). 1 with the label
// in label (cut to size); 0 when it cannot be read (no disk in the drive);
// -1 on a platform whose drives carry no labels the program can see.
int DriveReadLabel(const char *root, char *label, size_t size);

#endif
