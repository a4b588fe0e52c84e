"""What one worksheet cell of each family costs in a headless Calc with the add-in, next to a cell
of Calc's own arithmetic.

Fills a column of --cells cells with one formula, recalculates the document (calculateAll) and
prints microseconds per cell (the median of --repeats recalculations). The office runs with a
private profile and a private registry and is ended by its process group (spreadsheet/tests).

    /usr/bin/python3 bench/calc/bench_calc_cells.py [--build build/release]
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "spreadsheet" / "tests"))
from office import Office  # noqa: E402

FORMULAS = [
    ("Calc's own arithmetic", "=100*EXP(0.05*{row}/1000)"),
    ("BSCALLPRICE", "=BSCALLPRICE(100;90+{row}/100;0.05;1;0.2;0)"),
    ("BINCALLPRICE, 10 steps", "=BINCALLPRICE(100;90+{row}/100;0.05;1;0.2;0;1;;10;1)"),
    ("BINCALLPRICE, 100 steps", "=BINCALLPRICE(100;90+{row}/100;0.05;1;0.2;0;1;;100;1)"),
]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=str(ROOT / "build" / "release"))
    parser.add_argument("--cells", type=int, default=2000)
    parser.add_argument("--repeats", type=int, default=5)
    args = parser.parse_args()
    build = Path(args.build).resolve()
    with tempfile.TemporaryDirectory(prefix="kx-calc-bench-") as registry:
        env = dict(os.environ, KX_REGISTRY_DIR=registry)
        os.environ["KX_MACHINE_REGISTRY_DIR"] = tempfile.mkdtemp(prefix="kx-calc-machine-")
        subprocess.run([str(build / "bin" / "kxregsvr"), str(build / "lib" / "KorvaneX.so")],
                       env=env, check=True, timeout=60, capture_output=True)
        with Office(build / "korvanex-calc.oxt", registry, limit_seconds=600) as office:
            print(f"{'cell':32} {'µs per cell':>12}")
            for name, text in FORMULAS:
                doc = office.new_sheet_document()
                sheet = doc.Sheets.getByIndex(0)
                for row in range(args.cells):
                    sheet.getCellByPosition(0, row).setFormula(text.format(row=row))
                doc.calculateAll()  # loads the add-in and the component
                if sheet.getCellByPosition(0, 0).getError() != 0:
                    raise RuntimeError(f"{text} gives an error cell")
                runs = []
                for _ in range(args.repeats):
                    start = time.perf_counter()
                    doc.calculateAll()
                    runs.append((time.perf_counter() - start) / args.cells * 1e6)
                print(f"{name:32} {statistics.median(runs):12.1f}")
                doc.close(True)


if __name__ == "__main__":
    main()
