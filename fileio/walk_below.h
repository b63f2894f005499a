// The path arithmetic of the walk below a target folder, the same on every
// system; the backends open the folders, one name at a time.
#ifndef KV_WALK_BELOW_H
#define KV_WALK_BELOW_H

#include <cstddef>

// Length of the shortest base the trimming keeps its last backslash in ("\"
// on POSIX, "C:\" on Windows); each backend defines it.
extern const size_t kWalkRootLength;

// The base without trailing backslashes, its root left whole.
void WalkTrimBase(const char *base, char *out);

// The part of path below base with single backslashes between names and none
// at either end; 0 when path is not below base (or a name is "." or "..").
int WalkRelative(const char *base, const char *path, char *rel);

// The folder part of rel into dir; returns the last name (inside rel).
const char *WalkSplitLast(const char *rel, char *dir);

// How a walk from the base to a folder below it ended: blocked is a link,
// reparse point or file in the way.
enum WalkResult { WALK_OK, WALK_ABSENT, WALK_BLOCKED, WALK_FAILED };

// The backend's step of PathHasLinkBelow: walks to the folder dir below base
// (no link followed) and, when it is there, sets finalKind to what the name
// last in it is, itself and not what it leads to (left as it is when that
// can't be told).
WalkResult WalkNameKind(const char *base, const char *dir, const char *last, int *finalKind);

#endif
