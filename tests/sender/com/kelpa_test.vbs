' The data packager from VBScript, late bound by ProgID. Argument: a folder
' holding tree\ (a.txt, b.txt, sub\c.txt), more\d.txt and seek.bin (an
' archive of s.txt 100 bytes into the file). Every call runs on a line of
' its own under On Error Resume Next and Check reads Err, so that a failing
' call is counted instead of ending the script silently. Ends with
' "N passed, M failed" and quits with M.
Option Explicit
Dim passed, failed, work, fso, k, r, list, pkg, pkg2
passed = 0
failed = 0

Sub Check(name, ok)
  If Err.Number <> 0 Then
    WScript.Echo "FAIL " & name & ": error 0x" & Hex(Err.Number) & " " & Err.Description
    failed = failed + 1
    Err.Clear
  ElseIf ok Then
    passed = passed + 1
  Else
    WScript.Echo "FAIL " & name
    failed = failed + 1
  End If
End Sub

Function ReadText(path)
  On Error Resume Next
  ReadText = Empty
  ReadText = fso.OpenTextFile(path).ReadAll()
End Function

Sub WriteText(path, text)
  fso.CreateTextFile(path, True).Write text
End Sub

On Error Resume Next
work = WScript.Arguments(0)
Set fso = CreateObject("Scripting.FileSystemObject")
Set k = CreateObject("VelmoraCOM.Kelpa")
Check "create by ProgID", IsObject(k)
pkg = work & "one.ilds"
pkg2 = work & "two.ilds"

r = Empty
r = k.AddFiles(pkg, work & "tree")
Check "AddFiles", r = True
list = Empty
list = k.ListFiles(pkg)
Check "ListFiles: three lines", UBound(Split(list, vbCrLf)) = 3 And InStr(list, "sub\c.txt;") > 0

' The outcome comes back in the variable, which a script passes by reference.
r = "unset"
k.RestoreFiles pkg, work & "out", r
Check "RestoreFiles into a variable", r = True And ReadText(work & "out\sub\c.txt") = "charlie"
' A parenthesised argument is passed by value: the restore runs, the variable stays.
r = "unset"
k.RestoreFiles pkg, work & "out2", (r)
Check "RestoreFiles by value", r = "unset" And ReadText(work & "out2\a.txt") = "alpha"

' Raw, with a prefix and a skip list.
r = Empty
r = k.AddFilesEx(pkg2, work & "tree", False, "..webmail\config\", False, "B.TXT")
list = Empty
list = k.ListFiles(pkg2)
Check "AddFilesEx raw, prefix, skip list", r = True And InStr(list, "..webmail\config\a.txt;5" & vbCrLf) > 0 And InStr(list, "..webmail\config\sub\c.txt;7" & vbCrLf) > 0 And InStr(list, "b.txt") = 0

' Without overwrite, a keep list names the files that stay.
WriteText work & "out\a.txt", "changed"
WriteText work & "out\b.txt", "changed"
r = Empty
r = k.RestoreFilesEx(pkg, work & "out", False, "a.txt", 0)
Check "keep list", r = True And ReadText(work & "out\a.txt") = "changed" And ReadText(work & "out\b.txt") = "bravo"

' An archive inside a file, and seeks outside it.
r = Empty
r = k.RestoreFilesEx(work & "seek.bin", work & "out3", True, "", 100)
Check "FileSeek", r = True And ReadText(work & "out3\s.txt") = "seek"
r = Empty
r = k.RestoreFilesEx(work & "seek.bin", work & "out4", True, "", -1)
Check "FileSeek below 0", r = False And Not fso.FolderExists(work & "out4")
r = Empty
r = k.RestoreFilesEx(work & "seek.bin", work & "out4", True, "", 100000)
Check "FileSeek past the end", r = False And Not fso.FolderExists(work & "out4")

' A missing package.
list = Empty
list = k.ListFiles(work & "missing.ilds")
Check "ListFiles of a missing package", list = ""
r = "unset"
k.RestoreFiles work & "missing.ilds", work & "out5", r
Check "RestoreFiles of a missing package", r = False And Not fso.FolderExists(work & "out5")

WScript.Echo passed & " passed, " & failed & " failed"
WScript.Quit failed
