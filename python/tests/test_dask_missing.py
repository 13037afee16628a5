"""The dask command without dask installed: one line naming what to install, no traceback."""

from __future__ import annotations

import os
import subprocess
import sys
import unittest

# Runs the module as `python3 -m` does, with the named packages made unimportable.
RUN_WITHOUT = """
import runpy, sys
for name in sys.argv[1].split(","):
    sys.modules[name] = None
sys.argv = ["quenfold_ebook_meta.dask", "--help"]
runpy.run_module("quenfold_ebook_meta.dask", run_name="__main__")
"""


class MissingDaskTest(unittest.TestCase):
    def test_the_command_names_the_packages_to_install(self) -> None:
        for missing in ("dask", "distributed,dask", "fsspec"):
            with self.subTest(missing):
                done = subprocess.run(
                    [sys.executable, "-c", RUN_WITHOUT, missing], stdout=subprocess.PIPE,
                    stderr=subprocess.PIPE, universal_newlines=True, env=dict(os.environ))
                self.assertEqual(done.returncode, 2, done.stderr)
                self.assertEqual(done.stderr.count("\n"), 1, done.stderr)
                self.assertIn("apt install python3-dask python3-distributed python3-fsspec",
                              done.stderr)
                self.assertIn("pip install dask distributed fsspec", done.stderr)

    def test_importing_the_module_still_raises(self) -> None:
        code = "import sys; sys.modules['dask'] = None; import quenfold_ebook_meta.dask"
        done = subprocess.run([sys.executable, "-c", code], stderr=subprocess.PIPE,
                              universal_newlines=True, env=dict(os.environ))
        self.assertNotEqual(done.returncode, 0)
        self.assertIn("ModuleNotFoundError", done.stderr)


if __name__ == "__main__":
    unittest.main()
