' The script side of two programs administering one installation at once
' (tests/api/shared_install.cpp, "script" mode): while a C client adds its
' accounts to a.test, this script adds 200 accounts v0..v199 there and the
' domains v0.test..v2.test, sets setting 57 and saves. The argument is the
' installation folder. Prints "plan N" first, "N passed, M failed" last and
' quits with M.
Option Explicit
Dim passed, failed, api, d, a, r, i, added
passed = 0
failed = 0
WScript.Echo "plan 6"

Sub Check(what, ok)
  If Err.Number <> 0 Then
    WScript.Echo "FAIL " & what & ": error 0x" & Hex(Err.Number) & " " & Err.Description
    failed = failed + 1
    Err.Clear
  ElseIf ok Then
    passed = passed + 1
  Else
    WScript.Echo "FAIL " & what
    failed = failed + 1
  End If
End Sub

On Error Resume Next
Set api = CreateObject("TolumCOM.APIObject")
r = api.Init(WScript.Arguments(0))
Check "Init", r = True
Set d = api.OpenDomain("a.test")
Check "OpenDomain(a.test)", IsObject(d)
added = 0
For i = 0 To 199
  Set a = d.NewAccount("v" & i)
  r = a.Save()
  If r = True Then added = added + 1
Next
Check "every account added", added = 200
added = 0
For i = 0 To 2
  Set d = api.NewDomain("v" & i & ".test")
  r = d.Save()
  If r = True Then added = added + 1
Next
Check "every domain added", added = 3
r = api.SetProperty(57, 4321)
Check "SetProperty(57)", r = True
r = api.Save()
Check "Save", r = True
api.Done

WScript.Echo passed & " passed, " & failed & " failed"
WScript.Quit failed
