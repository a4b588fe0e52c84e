' The registered class from VBScript under Wine's cscript: both ProgIDs, scalar methods by name
' with optional arguments left out, Base and BlockingMode, an error with its Err fields, and the
' refusal of VBScript's arrays (arrays of Variants). Each double is compared with the Linux build's
' (the References dictionary, from reference_values.vbs, which the build puts before this text).
' A runtime error would end the script silently with status 0, so every call is checked here and
' the status says how many checks failed.
' (Option Explicit heads reference_values.vbs.)
On Error Resume Next

Dim failures, checks
failures = 0
checks = 0

Sub Fail(what)
  failures = failures + 1
  WScript.Echo "FAILED: " & what
End Sub

Sub ExpectEqual(what, got, want)
  checks = checks + 1
  If got <> want Then Fail what & ": got " & got & ", want " & want
End Sub

' got within the reference's allowance of ULPs of the Linux build's value.
Sub ExpectReference(name, got)
  checks = checks + 1
  If Err.Number <> 0 Then
    Fail name & ": error " & Hex(Err.Number) & " " & Err.Description
    Err.Clear
    Exit Sub
  End If
  If Not References.Exists(name) Then
    Fail name & ": no reference"
    Exit Sub
  End If
  Dim ref
  ref = References(name)
  If VarType(got) <> vbDouble Then
    Fail name & ": not a Double but VarType " & VarType(got)
  ElseIf Abs(got - ref(0)) > ref(1) * Abs(ref(0)) * 2.220446049250313E-16 Then
    Fail name & ": " & got & " vs Linux " & ref(0)
  End If
End Sub

Dim q, q1
Set q = CreateObject("Korvane.Quantorb")
If Err.Number <> 0 Then Fail "CreateObject Korvane.Quantorb: " & Hex(Err.Number) : WScript.Quit 100
Set q1 = CreateObject("Korvane.Quantorb.1")
If Err.Number <> 0 Then Fail "CreateObject Korvane.Quantorb.1: " & Hex(Err.Number) : WScript.Quit 100

ExpectReference "BSCallPrice", q.BSCallPrice(100, 100, 0.05, 1, 0.2, 0)
ExpectReference "BSCallPrice", q1.BSCallPrice(100, 100, 0.05, 1, 0.2, 0)
ExpectReference "BSPutPrice", q.BSPutPrice(100, 95, 0.05, 0.5, 0.3, 0.02)
' MaxIter left out.
ExpectReference "BSImpliedVolatility", q.BSImpliedVolatility(100, 100, 0.05, 1, 0, 10.45)
ExpectReference "BinCallPrice", q.BinCallPrice(100, 100, 0.05, 1, 0.2, 0, 1, 0, 200, 1)
ExpectReference "BinPutPrice.American", q.BinPutPrice(100, 110, 0.05, 1, 0.25, 0.01, 1, 0, 150, 0)
ExpectReference "BJECallPrice", q.BJECallPrice(100, 100, 0.05, 1, 0.2, 0.03, 1, 0)
ExpectReference "BJEPutPrice", q.BJEPutPrice(100, 110, 0.05, 1, 0.25, 0.01, 1, 0)
' VBScript passes its variables as Variants by reference, which an [out] double* parameter does
' not take (as on Windows): such methods are for typed clients; scripts use the retval ones.
Dim cd, pd
cd = CDbl(0) : pd = CDbl(0)
q.BSDelta 100, 100, 0.05, 1, 0.2, 0, cd, pd
ExpectEqual "Err.Number of BSDelta's [out] doubles from a script", Err.Number, 13
Err.Clear

ExpectEqual "Base at creation", q.Base, 0
q.Base = 1
ExpectEqual "Base after put", q.Base, 1
ExpectEqual "BlockingMode at creation", q.BlockingMode, 1
q.BlockingMode = 0
ExpectEqual "BlockingMode after put", q.BlockingMode, 0
ExpectReference "BinCallPrice", q.BinCallPrice(100, 100, 0.05, 1, 0.2, 0, 1, 0, 200, 1)
If Err.Number <> 0 Then Fail "properties: " & Hex(Err.Number) : Err.Clear

' A failing call: the error the object posts.
Dim price
price = q.BSCallPrice(0, 100, 0.05, 1, 0.2, 0)
ExpectEqual "Err.Number of a bad argument", Err.Number, &H80004005
ExpectEqual "Err.Description", Err.Description, "Error in BSCallPrice: Invalid input parameter(s)."
ExpectEqual "Err.Source", Err.Source, "Korvane.Quantorb.1"
Err.Clear

' VBScript's arrays hold Variants: refused as the input data type (3047).
Dim strikes, calls, puts, ivc, ivp
strikes = Array(95, 100, 105)
calls = Array(10.5, 6.5, 4.5)
puts = Array(4.0, 6.0, 8.5)
q.BSImpliedVolatilitySkew 100, strikes, 0.05, 1, 0, calls, puts, 0, ivc, ivp
ExpectEqual "Err.Number of an array of Variants", Err.Number, &H80004003
ExpectEqual "its Err.Description starts", Left(Err.Description, 24), "Invalid input data type:"
ExpectEqual "its Err.Source", Err.Source, "Korvane.Quantorb.1"
ExpectEqual "no result written", IsEmpty(ivc), True
Err.Clear
Dim hv
hv = q.HistoricalVolatility1(Array(100, 110, 100), 252)
ExpectEqual "Err.Number of HistoricalVolatility1 with Variants", Err.Number, &H80004003
Err.Clear

WScript.Echo checks & " checks, " & failures & " failed"
WScript.Quit failures
