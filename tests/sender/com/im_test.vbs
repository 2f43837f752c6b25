' The instant message from VBScript, late bound by ProgID: every call is
' marshalled into the library's free-threaded objects. Argument: the
' installation folder, where ann@a.test's "Last.dat" holds 17. Every call
' runs under On Error Resume Next and Check reads Err, so that a failing
' call is counted instead of ending the script silently. Ends with
' "N passed, M failed" and quits with M.
Option Explicit
Dim passed, failed, root, fso, im, ok, pending, text
passed = 0
failed = 0

Sub Check(name, good)
  If Err.Number <> 0 Then
    WScript.Echo "FAIL " & name & ": error 0x" & Hex(Err.Number) & " " & Err.Description
    failed = failed + 1
    Err.Clear
  ElseIf good Then
    passed = passed + 1
  Else
    WScript.Echo "FAIL " & name
    failed = failed + 1
  End If
End Sub

Function Count(haystack, needle)
  Count = UBound(Split(haystack, needle))
End Function

On Error Resume Next
root = WScript.Arguments(0)
pending = root & "mail\a.test\ann\~IM\Pending.dat"
Set fso = CreateObject("Scripting.FileSystemObject")
Set im = CreateObject("VelmoraCOM.IMMessage")
Check "create by ProgID", IsObject(im)

ok = Empty
ok = im.IsOnline("ann@a.test")
Check "IsOnline: Last.dat holds 17", ok = True

im.MessageTo = "ann@a.test"
im.MessageFrom = "Script"
im.MessageSubject = "Hi & bye"
' Chr(233) is U+00E9 in the prefixes' ANSI code page (their script engine lacks ChrW).
im.MessageBody = Chr(233) & " <b>"
im.MessageType = "chat"
im.AddAttribute "id", "7"
im.AddTag "<em>x</em>"
ok = Empty
ok = im.SendMessage
Check "SendMessage", ok = True

im.Reset
im.MessageTo = "ann@a.test"
im.MessageBody = "again"
ok = Empty
ok = im.SendMessage
Check "SendMessage after Reset", ok = True

text = Empty
text = fso.OpenTextFile(pending).ReadAll()
Check "two elements in Pending.dat", Count(text, "<message") = 2 And Count(text, "<body>again</body>") = 1

WScript.Echo passed & " passed, " & failed & " failed"
WScript.Quit failed
