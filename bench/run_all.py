"""Runs every benchmark in this folder: python bench/run_all.py [name-fragment ...]"""

import pathlib
import runpy
import sys

here = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(here))
wanted = sys.argv[1:]
for script in sorted(here.glob("bench_*.py")):
    if not wanted or any(fragment in script.name for fragment in wanted):
        runpy.run_path(str(script), run_name="__main__")
