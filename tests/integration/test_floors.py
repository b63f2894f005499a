"""The product folders form one-way floors: a source file includes only
headers of its own folder or of a floor below it, so no two folders depend on
each other. The floor order lives in FLOORS and nowhere else."""

import os
import re
import sys
import tempfile
import unittest

ROOT = os.environ.get("KV_SOURCE_DIR") or os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

# Top to bottom; folders on one line are siblings and may not include each
# other either. resources/ holds only identifiers the entries and dialogs share.
FLOORS = [
    ("app", "tool"),
    ("ui",),
    ("launcher",),
    ("archive",),
    ("decoders", "crypto"),
    ("fileio",),
    ("resources",),
]
LEVEL = {folder: len(FLOORS) - i for i, row in enumerate(FLOORS) for folder in row}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def wrong_way_includes(root):
    """(file, included folder) for every include that points up or sideways."""
    found = []
    for folder in LEVEL:
        for base, _, names in os.walk(os.path.join(root, folder)):
            for name in names:
                if not name.endswith((".cpp", ".h", ".c", ".rc")):
                    continue
                path = os.path.join(base, name)
                with open(path, encoding="utf-8", errors="replace") as f:
                    text = f.read()
                for target in INCLUDE.findall(text):
                    resolved = os.path.normpath(os.path.join(base, target))
                    if not os.path.exists(resolved):
                        resolved = os.path.normpath(os.path.join(root, target))
                    rel = os.path.relpath(resolved, root).split(os.sep)
                    to = rel[0]
                    if to == folder or to not in LEVEL:
                        continue
                    if LEVEL[to] >= LEVEL[folder]:
                        found.append((os.path.relpath(path, root), "/".join(rel)))
    return sorted(found)


class Floors(unittest.TestCase):
    def test_no_include_points_up_or_sideways(self):
        self.assertEqual(wrong_way_includes(ROOT), [])

    def test_the_check_sees_a_wrong_way_include(self):
        # Guards the check itself: a path mix-up would make it pass on nothing.
        with tempfile.TemporaryDirectory() as d:
            for folder in ("fileio", "ui"):
                os.makedirs(os.path.join(d, folder))
            with open(os.path.join(d, "ui", "a.h"), "w") as f:
                f.write("")
            with open(os.path.join(d, "fileio", "b.cpp"), "w") as f:
                f.write('#include "../ui/a.h"\n')
            self.assertEqual(wrong_way_includes(d), [("fileio/b.cpp", "ui/a.h")])


if __name__ == "__main__":
    sys.exit(unittest.main())
