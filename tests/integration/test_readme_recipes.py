"""The README's recipes, run as written: every sh block after a line
`<!-- recipe: NAME -->`, with bash in a fresh folder that holds setup.exe,
data/ and LICENSE.txt, and kvsfx on the PATH. Also: the README states the
version the tool reports."""

import os
import re
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kvtest  # noqa: E402
from kvtest import TempDirTest, write  # noqa: E402

RECIPE = re.compile(r"^<!-- recipe: (.+?) -->\n```sh\n(.*?)^```", re.M | re.S)


def recipes():
    with open(os.path.join(kvtest.KV_SOURCE_DIR, "README.md"), encoding="utf-8") as f:
        return RECIPE.findall(f.read())


class ReadmeRecipes(TempDirTest):
    def test_every_recipe_runs(self):
        kvtest.need(os.path.exists(kvtest.TOOL) and os.path.exists(kvtest.WINDOWS_STUB), "tool or Windows stub not built")
        kvtest.need(kvtest.ZIP and shutil.which("bash"), "needs zip and bash")
        found = recipes()
        self.assertGreaterEqual(len(found), 5, "recipe blocks not found")
        env = dict(os.environ, PATH=os.path.dirname(kvtest.TOOL) + os.pathsep + os.environ["PATH"])
        env.pop("KVSFX_PASSWORD", None)
        for name, script in found:
            with self.subTest(name):
                folder = self.path(re.sub(r"\W+", "_", name))
                os.makedirs(os.path.join(folder, "data", "docs"))
                write(os.path.join(folder, "setup.exe"), b"MZ" + bytes(range(256)) * 20)
                write(os.path.join(folder, "data", "docs", "readme.txt"), b"read me\n" * 50)
                write(os.path.join(folder, "data", "config.ini"), b"[setup]\nquiet=1\n")
                shutil.copy(os.path.join(kvtest.KV_SOURCE_DIR, "LICENSE"), os.path.join(folder, "LICENSE.txt"))
                r = subprocess.run(["bash", "-euo", "pipefail", "-c", script], cwd=folder, env=env,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300)
                self.assertEqual(0, r.returncode, (script, r.stdout, r.stderr))

    def test_readme_states_the_tool_version(self):
        kvtest.need(os.path.exists(kvtest.TOOL), "kvsfx not built")
        version = kvtest.run_tool("--version").stdout.split()[1].decode()
        with open(os.path.join(kvtest.KV_SOURCE_DIR, "README.md"), encoding="utf-8") as f:
            self.assertIn("Version %s " % version, f.read())


if __name__ == "__main__":
    unittest.main()
