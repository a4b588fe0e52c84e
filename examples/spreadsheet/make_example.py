#!/usr/bin/python3
"""Builds option-chain.ods: an option chain priced by the KorvaneX worksheet functions.

Usage: make_example.py BUILD_DIR [OUTPUT.ods]
Starts a private headless office with the built add-in (as the tests do), writes the formulas,
recalculates and stores the workbook, so the stored values are the component's own.
"""
import math
import os
import subprocess
import sys
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parents[1] / "spreadsheet" / "tests"))
from office import Office, store_props  # noqa: E402

INPUTS = [("Stock price", 100), ("Interest rate", 0.05), ("Time to maturity (years)", 0.5),
          ("Volatility", 0.25), ("Dividend rate", 0.02), ("Binomial steps", 200)]
STRIKES = [85, 90, 95, 100, 105, 110, 115]
SMILE = [0.31, 0.285, 0.265, 0.25, 0.245, 0.25, 0.26]  # what the "market" prices were made with
FIRST = 10  # first chain row (1-based)
LAST = FIRST + len(STRIKES) - 1
HEADERS = ["Strike", "BS call", "BS put", "Call delta", "Put delta", "Gamma", "Vega",
           "Am. call (tree)", "Am. put (tree)", "Am. put (BJE)", "Market call", "Market put",
           "Implied vol. call", "Implied vol. put"]
GREEKS = ["CallPrice", "PutPrice", "CDelta", "PDelta", "CTheta", "PTheta", "Gamma", "Vega",
          "CRho", "PRho"]


def price_series(seed, start, days=21):
    """A fixed, made-up closing-price series (no randomness: the workbook is reproducible)."""
    prices, p = [], start
    for d in range(days):
        p *= math.exp(0.012 * math.sin(seed * 1.7 + d * 0.9) + 0.004 * math.cos(d * 2.3 + seed))
        prices.append(round(p, 2))
    return prices


def build(office, output):
    doc = office.new_sheet_document()
    sheets = doc.Sheets
    sh = sheets.getByIndex(0)
    sh.Name = "Chain"
    cell = sh.getCellRangeByName
    for row, (label, value) in enumerate(INPUTS, start=1):
        cell(f"A{row}").setString(label)
        cell(f"B{row}").setValue(value)
    args = "$B$1;A{r};$B$2;$B$3;$B$4;$B$5"
    for col, title in enumerate(HEADERS):
        sh.getCellByPosition(col, FIRST - 2).setString(title)
    for i, strike in enumerate(STRIKES):
        r = FIRST + i
        a = args.format(r=r)
        cell(f"A{r}").setValue(strike)
        cell(f"B{r}").setFormula(f"=BSCALLPRICE({a})")
        cell(f"C{r}").setFormula(f"=BSPUTPRICE({a})")
        cell(f"D{r}:E{r}").setArrayFormula(f"BSDELTA({a})")
        cell(f"F{r}").setFormula(f"=BSGAMMA({a})")
        cell(f"G{r}").setFormula(f"=BSVEGA({a})")
        cell(f"H{r}:I{r}").setArrayFormula(f"BINPRICE({a};1;;$B$6;0)")
        cell(f"J{r}").setFormula(f"=BJEPUTPRICE({a};1)")
        # Market quotes: the model's prices on a smile, rounded to cents, kept as numbers.
        smile = f"$B$1;A{r};$B$2;$B$3;{SMILE[i]};$B$5"
        cell(f"K{r}").setFormula(f"=ROUND(BSCALLPRICE({smile});2)")
        cell(f"L{r}").setFormula(f"=ROUND(BSPUTPRICE({smile});2)")
    doc.calculateAll()
    for r in range(FIRST, LAST + 1):
        for col in "KL":
            c = cell(f"{col}{r}")
            c.setValue(c.getValue())
    cell(f"M{FIRST}:N{LAST}").setArrayFormula(
        f"BSIMPLIEDVOLATILITYSKEW($B$1;A{FIRST}:A{LAST};$B$2;$B$3;$B$5;"
        f"K{FIRST}:K{LAST};L{FIRST}:L{LAST})")

    greeks_row = LAST + 3
    cell(f"A{greeks_row}").setString("At the money, American (tree), BINPRICEGREEKS:")
    for col, name in enumerate(GREEKS, start=1):
        sh.getCellByPosition(col, greeks_row - 1).setString(name)
    cell(f"B{greeks_row}:K{greeks_row}").setArrayFormula(
        "BINPRICEGREEKS($B$1;$B$1;$B$2;$B$3;$B$4;$B$5;1;;$B$6;0;1;1)")

    # Historical volatility of two price columns.
    a, b = price_series(1, 100), price_series(2, 50)
    cell("P1").setString("Close A")
    cell("Q1").setString("Close B")
    for i, (pa, pb) in enumerate(zip(a, b), start=2):
        cell(f"P{i}").setValue(pa)
        cell(f"Q{i}").setValue(pb)
    end = len(a) + 1
    cell("S1").setString("Historical volatility (252 days), per column")
    cell("S2:T2").setArrayFormula(f"HISTORICALVOLATILITY(P2:Q{end};252)")
    cell("S4").setString("Close A alone")
    cell("S5").setFormula(f"=HISTORICALVOLATILITY1(P2:P{end};252)")

    reason_row = greeks_row + 2
    cell(f"A{reason_row}").setString("Latest refused call (empty when none):")
    cell(f"B{reason_row}").setFormula("=KXLASTERROR()")

    number = doc.NumberFormats.queryKey("0.0000", doc.CharLocale, False)
    if number == -1:
        number = doc.NumberFormats.addNew("0.0000", doc.CharLocale)
    for block in (f"B{FIRST}:N{LAST}", f"B{greeks_row}:K{greeks_row}", "S2:T2", "S5"):
        cell(block).NumberFormat = number
    sh.getColumns().getByIndex(0).OptimalWidth = True
    doc.calculateAll()
    doc.storeToURL(Path(output).resolve().as_uri(), store_props(FilterName="calc8"))
    doc.close(True)


def main():
    build_dir = Path(sys.argv[1]).resolve()
    output = Path(sys.argv[2]) if len(sys.argv) > 2 else HERE / "option-chain.ods"
    with tempfile.TemporaryDirectory(prefix="kx-example-registry-") as registry:
        env = dict(os.environ, KX_REGISTRY_DIR=registry)
        subprocess.run([str(build_dir / "bin" / "kxregsvr"), str(build_dir / "lib" / "KorvaneX.so")],
                       env=env, check=True, timeout=60, capture_output=True)
        with Office(build_dir / "korvanex-calc.oxt", registry) as office:
            build(office, output)
    print(output)


if __name__ == "__main__":
    main()
