"""The Calc add-in in a real headless office: worksheet results against the component's own
doubles (through kxauto), the Function Wizard's texts, error cells and the example workbook.

Run by scripts/test-spreadsheet.sh; needs KX_BUILD_DIR (the release build with the .oxt).
"""
import json
import math
import os
import subprocess
import sys
import tempfile
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))
from office import Office  # noqa: E402

ROOT = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("KX_BUILD_DIR", ROOT / "build" / "release")).resolve()
OXT = BUILD / "korvanex-calc.oxt"
EXAMPLE = ROOT / "examples" / "spreadsheet" / "option-chain.ods"
ERR_ILLEGAL_ARGUMENT = 502


@pytest.fixture(scope="module")
def registry():
    with tempfile.TemporaryDirectory(prefix="kx-calc-registry-") as folder:
        env = dict(os.environ, KX_REGISTRY_DIR=folder)
        subprocess.run([str(BUILD / "bin" / "kxregsvr"), str(BUILD / "lib" / "KorvaneX.so")],
                       env=env, check=True, timeout=60, capture_output=True)
        yield folder


@pytest.fixture(scope="module")
def office(registry):
    with Office(OXT, registry) as o:
        yield o


@pytest.fixture
def sheet(office):
    doc = office.new_sheet_document()
    yield doc, doc.Sheets.getByIndex(0)
    doc.close(True)


def kxauto(registry, calls):
    """The component's own results for JSON calls, one result per call."""
    env = dict(os.environ, KX_REGISTRY_DIR=registry)
    out = subprocess.run([str(BUILD / "bin" / "kxauto"), "--batch", "Korvane.Quantorb"],
                         input="".join(json.dumps(c) + "\n" for c in calls), env=env,
                         check=True, timeout=60, capture_output=True, text=True).stdout
    results = [json.loads(line) for line in out.splitlines() if line.strip()]
    assert len(results) == len(calls)
    for call, result in zip(calls, results):
        assert result["hresult"] == 0, (call, result)
    return results


def cell_values(sheet, top, left, rows, cols):
    block = sheet.getCellRangeByPosition(left, top, left + cols - 1, top + rows - 1)
    return [list(row) for row in block.getDataArray()]


BS = [100, 100, 0.05, 1, 0.2, 0.03]          # S K r T sigma q
TREE = [42, 40, 0.04, 0.75, 0.35, 0.08, 1]   # S K r T sigma q ModelType
STRIKES = [80, 90, 100, 110, 120]


def formula(name, *args):
    return "=" + name + "(" + ";".join("" if a is None else str(a) for a in args) + ")"


# (formula, kxauto call, output names in the order the sheet shows them)
SCALAR_CASES = [
    (formula("BSCALLPRICE", *BS), {"member": "BSCallPrice", "args": BS}, ["CPrice"]),
    (formula("BSPUTPRICE", *BS), {"member": "BSPutPrice", "args": BS}, ["PPrice"]),
    (formula("BSGAMMA", *BS), {"member": "BSGamma", "args": BS}, ["Gamma"]),
    (formula("BSVEGA", *BS), {"member": "BSVega", "args": BS}, ["Vega"]),
    (formula("BSIMPLIEDVOLATILITY", 100, 100, 0.05, 1, 0.03, 9.5),
     {"member": "BSImpliedVolatility", "args": [100, 100, 0.05, 1, 0.03, 9.5]}, ["IVolatility"]),
    (formula("BSIMPLIEDVOLATILITYPUT", 100, 100, 0.05, 1, 0.03, 6, 7),
     {"member": "BSImpliedVolatilityPut", "args": [100, 100, 0.05, 1, 0.03, 6, 7]},
     ["IVolatility"]),
    # ForeignInterestRate left out in the middle, then given.
    (formula("BINCALLPRICE", *TREE, None, 200, 0),
     {"member": "BinCallPrice", "args": TREE + [None, 200, 0]}, ["CPrice"]),
    (formula("BINPUTPRICE", 42, 40, 0.04, 0.75, 0.35, 0.08, 3, 0.06, 150, 0),
     {"member": "BinPutPrice", "args": [42, 40, 0.04, 0.75, 0.35, 0.08, 3, 0.06, 150, 0]},
     ["PPrice"]),
    (formula("BINGAMMA", *TREE, None, 100, 1),
     {"member": "BinGamma", "args": TREE + [None, 100, 1]}, ["Gamma"]),
    (formula("BINPUTDELTA", *TREE, None, 100, 0),
     {"member": "BinPutDelta", "args": TREE + [None, 100, 0]}, ["PDelta"]),
    (formula("BINIMPLIEDVOLATILITY", 42, 40, 0.04, 0.75, 0.08, 1, None, 50, 0, 5.2),
     {"member": "BinImpliedVolatility", "args": [42, 40, 0.04, 0.75, 0.08, 1, None, 50, 0, 5.2]},
     ["IVolatility"]),
    (formula("BJECALLPRICE", *TREE), {"member": "BJECallPrice", "args": TREE}, ["CPrice"]),
    (formula("BJEPUTPRICE", *TREE, 0.02),
     {"member": "BJEPutPrice", "args": TREE + [0.02]}, ["PPrice"]),
    (formula("BJEIMPLIEDVOLATILITYPUT", 42, 40, 0.04, 0.75, 0.08, 1, None, 3.1, 30),
     {"member": "BJEImpliedVolatilityPut", "args": [42, 40, 0.04, 0.75, 0.08, 1, None, 3.1, 30]},
     ["IVolatility"]),
    (formula("HISTORICALVOLATILITY1", "{100;110;100}", 252),
     {"member": "HistoricalVolatility1", "args": [[100, 110, 100], 252]}, ["Volatility"]),
]

ROW_CASES = [
    (formula("BSDELTA", *BS), {"member": "BSDelta", "args": BS}, ["CDelta", "PDelta"]),
    (formula("BSTHETA", *BS), {"member": "BSTheta", "args": BS}, ["CTheta", "PTheta"]),
    (formula("BSRHO", *BS), {"member": "BSRho", "args": BS}, ["CRho", "PRho"]),
    (formula("BINPRICE", *TREE, None, 120, 0),
     {"member": "BinPrice", "args": TREE + [None, 120, 0]}, ["CPrice", "PPrice"]),
    (formula("BINPRICEGREEKS", *TREE, None, 2000, 0, 1, 1),
     {"member": "BinPriceGreeks", "args": {
         "StockPrice": 42, "ExercisePrice": 40, "InterestRate": 0.04, "TimeToMaturity": 0.75,
         "Volatility": 0.35, "DividendRate": 0.08, "ModelType": 1, "BinSteps": 2000,
         "FlagEurAm": 0, "DoVega": 1, "DoRho": 1}},
     ["CallPrice", "PutPrice", "CDelta", "PDelta", "CTheta", "PTheta", "Gamma", "Vega", "CRho",
      "PRho"]),
    (formula("BINTHETA", *TREE, None, 80, 1),
     {"member": "BinTheta", "args": TREE + [None, 80, 1]}, ["CTheta", "PTheta"]),
    (formula("BJEDELTA", *TREE), {"member": "BJEDelta", "args": TREE}, ["CDelta", "PDelta"]),
    (formula("BJERHO", *TREE, 0.01), {"member": "BJERho", "args": TREE + [0.01]},
     ["CRho", "PRho"]),
]


def test_scalar_functions_return_the_components_doubles(registry, sheet):
    doc, sh = sheet
    for row, (text, _, _) in enumerate(SCALAR_CASES):
        sh.getCellByPosition(0, row).setFormula(text)
    doc.calculateAll()
    expected = kxauto(registry, [call for _, call, _ in SCALAR_CASES])
    for row, ((text, _, names), result) in enumerate(zip(SCALAR_CASES, expected)):
        cell = sh.getCellByPosition(0, row)
        assert cell.getError() == 0, text
        assert cell.getValue() == result["outputs"][names[0]], text


def test_several_outputs_fill_a_row_as_an_array_formula(registry, sheet):
    doc, sh = sheet
    for row, (text, _, names) in enumerate(ROW_CASES):
        block = sh.getCellRangeByPosition(0, row, len(names) - 1, row)
        block.setArrayFormula(text[1:])
        sh.getCellByPosition(12, row).setFormula(text)  # in one cell: the first output
    doc.calculateAll()
    expected = kxauto(registry, [call for _, call, _ in ROW_CASES])
    for row, ((text, _, names), result) in enumerate(zip(ROW_CASES, expected)):
        got = cell_values(sh, row, 0, 1, len(names))[0]
        assert got == [result["outputs"][n] for n in names], text
        assert sh.getCellByPosition(12, row).getValue() == result["outputs"][names[0]], text


def put_column(sh, column, values):
    for row, v in enumerate(values):
        sh.getCellByPosition(column, row).setValue(v)


def test_skews_take_ranges_and_return_one_row_per_strike(registry, sheet):
    doc, sh = sheet
    # Market prices: the model's prices on a smile, rounded to cents.
    smile = [0.28, 0.24, 0.2, 0.22, 0.26]
    quotes = kxauto(registry, [{"member": m, "args": [100, k, 0.05, 1, v, 0.03]}
                               for k, v in zip(STRIKES, smile)
                               for m in ("BSCallPrice", "BSPutPrice")])
    calls = [round(q["retval"], 2) for q in quotes[0::2]]
    puts = [round(q["retval"], 2) for q in quotes[1::2]]
    put_column(sh, 0, STRIKES)
    put_column(sh, 1, calls)
    put_column(sh, 2, puts)
    n = len(STRIKES)
    cases = [
        # (first column, columns, formula, call, output names)
        (4, 2, "BSIMPLIEDVOLATILITYSKEW(100;A1:A5;0.05;1;0.03;B1:B5;C1:C5)",
         {"member": "BSImpliedVolatilitySkew", "args": {
             "StockPrice": 100, "ExercisePrice": STRIKES, "InterestRate": 0.05,
             "TimeToMaturity": 1, "DividendRate": 0.03, "CallValue": calls, "PutValue": puts}},
         ["IVolatilityCall", "IVolatilityPut"]),
        # Put values left out: only the call column.
        (6, 1, "BSIMPLIEDVOLATILITYSKEW(100;A1:A5;0.05;1;0.03;B1:B5;;25)",
         {"member": "BSImpliedVolatilitySkew", "args": {
             "StockPrice": 100, "ExercisePrice": STRIKES, "InterestRate": 0.05,
             "TimeToMaturity": 1, "DividendRate": 0.03, "CallValue": calls, "PutValue": [],
             "MaxIter": 25}},
         ["IVolatilityCall"]),
        (7, 1, "BINIMPLIEDVOLATILITYSKEW(100;A1:A5;0.05;1;0.03;1;;60;0;B1:B5)",
         {"member": "BinImpliedVolatilitySkew", "args": {
             "StockPrice": 100, "ExercisePrice": STRIKES, "InterestRate": 0.05,
             "TimeToMaturity": 1, "DividendRate": 0.03, "ModelType": 1, "BinSteps": 60,
             "FlagEurAm": 0, "CallValue": calls}},
         ["IVolatilityCall"]),
        (8, 2, "BJEIMPLIEDVOLATILITYSKEW(100;A1:A5;0.05;1;0.03;1;;B1:B5;C1:C5)",
         {"member": "BJEImpliedVolatilitySkew", "args": {
             "StockPrice": 100, "ExercisePrice": STRIKES, "InterestRate": 0.05,
             "TimeToMaturity": 1, "DividendRate": 0.03, "ModelType": 1, "CallValue": calls,
             "PutValue": puts}},
         ["IVolatilityCall", "IVolatilityPut"]),
    ]
    for left, cols, text, _, _ in cases:
        sh.getCellRangeByPosition(left, 0, left + cols - 1, n - 1).setArrayFormula(text)
    doc.calculateAll()
    expected = kxauto(registry, [call for *_, call, _ in cases])
    for (left, cols, text, _, names), result in zip(cases, expected):
        got = cell_values(sh, 0, left, n, cols)
        want = [[result["outputs"][name][i] for name in names] for i in range(n)]
        assert got == want, text
        assert all(v > 0 for row in got for v in row), text  # real volatilities, no sentinel


def test_historical_volatility_of_each_column(registry, sheet):
    doc, sh = sheet
    prices = [[100, 50, 20], [110, 55, 21], [100, 60, 19.5], [105, 58, 20.5], [103, 61, 20]]
    for r, row in enumerate(prices):
        for c, v in enumerate(row):
            sh.getCellByPosition(c, r).setValue(v)
    sh.getCellRangeByPosition(4, 0, 6, 0).setArrayFormula("HISTORICALVOLATILITY(A1:C5;252)")
    sh.getCellByPosition(4, 2).setFormula("=HISTORICALVOLATILITY1(B1:B5;252)")
    sh.getCellByPosition(4, 3).setFormula("=HISTORICALVOLATILITY1(A2:C2;365)")  # a row
    doc.calculateAll()
    expected = kxauto(registry, [
        {"member": "HistoricalVolatility", "args": [prices, 252]},
        {"member": "HistoricalVolatility1", "args": [[r[1] for r in prices], 252]},
        {"member": "HistoricalVolatility1", "args": [prices[1], 365]}])
    assert cell_values(sh, 0, 4, 1, 3)[0] == expected[0]["retval"]
    assert sh.getCellByPosition(4, 2).getValue() == expected[1]["retval"]
    assert sh.getCellByPosition(4, 3).getValue() == expected[2]["retval"]
    # Hand check of one series: returns ln 1.1 and -ln 1.1, sample variance over n - 2.
    sh.getCellByPosition(4, 4).setFormula("=HISTORICALVOLATILITY1({100;110;100};252)")
    doc.calculateAll()
    want = math.sqrt(2 * math.log(1.1) ** 2) * math.sqrt(252)
    assert sh.getCellByPosition(4, 4).getValue() == pytest.approx(want, rel=1e-14)


ERROR_CASES = [
    # (formula, words the reason must contain)
    (formula("BSCALLPRICE", 0, 100, 0.05, 1, 0.2, 0), "Invalid input parameter(s)."),
    (formula("BSDELTA", 100, 100, 0.05, 1, 0.2, 1.5), "Invalid input parameter(s)."),
    (formula("BINCALLPRICE", *TREE, None, 5001, 0),
     "BINCALLPRICE: Error in BinCallPrice: Invalid input parameter(s)."),
    (formula("BJEPUTPRICE", 42, 40, 0.04, 0.75, 0.35, 0.08, 4),
     "BJEPUTPRICE: Error in BJEPutPrice: Invalid input parameter(s)."),
    (formula("HISTORICALVOLATILITY1", "{100;110}", 252), "Invalid input data array."),
    (formula("HISTORICALVOLATILITY1", "{100;110;100}", 368), "Invalid number of trading days."),
    (formula("HISTORICALVOLATILITY1", "{100;110;100|1;2;3|4;5;6}", 252), "1-D"),
]


def test_refused_inputs_give_an_error_cell_and_a_reason(sheet):
    doc, sh = sheet
    # As a user works: the refused formula is entered and shown, then the reason asked for.
    for row, (text, reason) in enumerate(ERROR_CASES):
        cell = sh.getCellByPosition(0, row)
        cell.setFormula(text)
        assert cell.getError() == ERR_ILLEGAL_ARGUMENT, text
        assert cell.getValue() != -999.0, text
        why = sh.getCellByPosition(1, row)
        why.setFormula(f"=KXLASTERROR(ISERROR(A{row + 1}))")
        assert reason in why.getString(), text
    # A full recalculation still ends every refused call in an error cell.
    doc.calculateAll()
    for row, (text, _) in enumerate(ERROR_CASES):
        assert sh.getCellByPosition(0, row).getError() == ERR_ILLEGAL_ARGUMENT, text


def test_missing_required_argument_and_ragged_calls_are_errors(sheet):
    doc, sh = sheet
    sh.getCellByPosition(0, 0).setFormula("=BSCALLPRICE(100;100;0.05;1;0.2)")
    sh.getCellByPosition(0, 1).setFormula('=BSCALLPRICE(100;"x";0.05;1;0.2;0)')
    sh.getCellByPosition(0, 2).setFormula("=BSIMPLIEDVOLATILITY(100;100;0.05;1;0;10;\"x\")")
    doc.calculateAll()
    for row in range(3):
        assert sh.getCellByPosition(0, row).getError() != 0, row


def test_function_wizard_shows_every_member_with_its_arguments(office):
    descriptions = office.create("com.sun.star.sheet.FunctionDescriptions")
    entries = {}
    for i in range(descriptions.getCount()):
        props = {p.Name: p.Value for p in descriptions.getByIndex(i)}
        entries[props["Name"]] = props
    text = (ROOT / "component" / "resources" / "korvanex.idl").read_text()
    members = [m for m in (
        "BSCallPrice BSPutPrice BSDelta BSTheta BSGamma BSVega BSRho BSImpliedVolatility "
        "BSImpliedVolatilityPut BSImpliedVolatilitySkew BinCallPrice BinPutPrice BinPrice "
        "BinPriceGreeks BinDelta BinTheta BinGamma BinVega BinRho BinImpliedVolatility "
        "BinImpliedVolatilityPut BinImpliedVolatilitySkew BinCallDelta BinPutDelta BJECallPrice "
        "BJEPutPrice BJEDelta BJETheta BJEGamma BJEVega BJERho BJEImpliedVolatility "
        "BJEImpliedVolatilityPut BJEImpliedVolatilitySkew HistoricalVolatility "
        "HistoricalVolatility1").split()]
    for m in members:
        assert f"HRESULT {m}(" in text, m
        assert m.upper() in entries, m
    assert "KXLASTERROR" in entries
    assert not {"ABORT", "ABOUT", "BLOCKINGMODE"} & entries.keys()  # BASE is Calc's own

    def arguments(name):
        return [(a.Name, a.IsOptional) for a in entries[name]["Arguments"]]

    assert arguments("BSCALLPRICE") == [(n, False) for n in (
        "StockPrice", "ExercisePrice", "InterestRate", "TimeToMaturity", "Volatility",
        "DividendRate")]
    assert entries["BSCALLPRICE"]["Description"].startswith(
        "Computes the Black-Scholes call price for a European stock option")
    assert arguments("BINCALLPRICE")[7] == ("ForeignInterestRate", True)
    assert [n for n, _ in arguments("BINPRICEGREEKS")][-2:] == ["DoVega", "DoRho"]
    assert arguments("BSIMPLIEDVOLATILITYSKEW")[5:] == [
        ("CallValue", False), ("PutValue", True), ("MaxIter", True)]
    assert arguments("HISTORICALVOLATILITY") == [("Prices", False), ("TradingDays", False)]
    assert "CallPrice, PutPrice, CDelta" in entries["BINPRICEGREEKS"]["Description"]
    skew_args = entries["BJEIMPLIEDVOLATILITYSKEW"]["Arguments"]
    assert skew_args[1].Description == "ExercisePrice: a range of numbers."
    # Every member's worksheet functions sit in one category of their own.
    categories = {entries[m.upper()]["Category"] for m in members}
    assert len(categories) == 1


def test_example_workbook_recalculates_without_errors(registry, office):
    assert EXAMPLE.exists(), EXAMPLE
    doc = office.load(EXAMPLE)
    try:
        sh = doc.Sheets.getByName("Chain")
        used = sh.createCursor()
        used.gotoEndOfUsedArea(False)
        cells = [sh.getCellByPosition(col, row) for row in range(used.RangeAddress.EndRow + 1)
                 for col in range(used.RangeAddress.EndColumn + 1)]
        formula_cells = [c for c in cells if c.getFormula().lstrip("{").startswith("=")]
        assert len(formula_cells) >= 90  # array formulas count once per cell
        as_opened = [c.getValue() for c in formula_cells]
        for c in formula_cells:
            assert c.getError() == 0, (c.CellAddress, c.getFormula())
        doc.calculateAll()
        for c in formula_cells:
            assert c.getError() == 0, (c.CellAddress, c.getFormula())
        assert [c.getValue() for c in formula_cells] == as_opened
        # The first strike's call price against the component.
        inputs = [sh.getCellRangeByName(n).getValue() for n in ("B1", "B2", "B3", "B4", "B5",
                                                                 "B6")]
        strike = sh.getCellRangeByName("A10").getValue()
        args = [inputs[0], strike, inputs[1], inputs[2], inputs[3], inputs[4]]
        want = kxauto(registry, [{"member": "BSCallPrice", "args": args}])[0]["retval"]
        assert sh.getCellRangeByName("B10").getValue() == want
        # The skew recovers the smile the market quotes were made with (quotes are rounded).
        smile = [0.31, 0.285, 0.265, 0.25, 0.245, 0.25, 0.26]
        for column in ("M", "N"):
            got = [row[0] for row in sh.getCellRangeByName(f"{column}10:{column}16").getDataArray()]
            assert got == pytest.approx(smile, abs=5e-3), column
    finally:
        doc.close(True)


def test_function_access_runs_a_long_tree_and_the_office_still_answers(registry, office):
    access = office.create("com.sun.star.sheet.FunctionAccess")
    args = (42.0, 40.0, 0.04, 0.75, 0.35, 0.08, 1.0, 0.0, 5000.0, 0.0, 1.0, 1.0)
    got = access.callFunction("BINPRICEGREEKS", args)
    want = kxauto(registry, [{"member": "BinPriceGreeks", "args": {
        "StockPrice": 42, "ExercisePrice": 40, "InterestRate": 0.04, "TimeToMaturity": 0.75,
        "Volatility": 0.35, "DividendRate": 0.08, "ModelType": 1, "ForeignInterestRate": 0,
        "BinSteps": 5000,
        "FlagEurAm": 0, "DoVega": 1, "DoRho": 1}}])[0]["outputs"]
    assert list(got[0]) == [want[n] for n in (
        "CallPrice", "PutPrice", "CDelta", "PDelta", "CTheta", "PTheta", "Gamma", "Vega", "CRho",
        "PRho")]
    assert access.callFunction("BSCALLPRICE", (100.0, 100.0, 0.05, 1.0, 0.2, 0.0)) == \
        kxauto(registry, [{"member": "BSCallPrice", "args": [100, 100, 0.05, 1, 0.2, 0]}])[0][
            "retval"]
