' The mail sender from VBScript, late bound by ProgID, against the aiosmtpd
' peer whose port is in the environment (VM_SMTP4_PORT). Argument: a folder
' holding tree\a.txt. Every call runs on a line of its own under On Error
' Resume Next and Check reads Err, so that a failing call is counted
' instead of ending the script silently. Ends with "N passed, M failed"
' and quits with M.
Option Explicit
Dim passed, failed, work, server, m, r
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

On Error Resume Next
work = WScript.Arguments(0)
server = "127.0.0.1:" & CreateObject("WScript.Shell").Environment("PROCESS")("VM_SMTP4_PORT")
Set m = CreateObject("VelmoraCOM.Mailer")
Check "create by ProgID", IsObject(m)
Check "a new object", m.RemoteHost = "localhost" And m.Result = 0 And m.IsHTML = False

m.RemoteHost = server
m.FromName = "VB Script"
m.FromAddress = "vbs@script.test"
m.MailFrom = "vbs@script.test"
m.AddRecipient "Rcpt", "rcpt@script.test"
m.Subject = "From VBScript"
m.BodyText = ".dot" & vbCrLf & "line"
m.BodyText = m.BodyText & vbCrLf & ".more"
m.AddAttachment work & "tree\a.txt"
r = Empty
r = m.SendMail
Check "SendMail", r = True And m.Result = 1 And m.Response = ""
Check "the body as it was put", m.BodyText = ".dot" & vbCrLf & "line" & vbCrLf & ".more"

m.Reset
Check "Reset", m.Result = 0 And m.Recipients = "" And m.RemoteHost = "localhost"

WScript.Echo passed & " passed, " & failed & " failed"
WScript.Quit failed
