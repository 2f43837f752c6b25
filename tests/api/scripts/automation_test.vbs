' The four automation classes from VBScript, late bound by ProgID, on a
' fresh installation folder (the argument, holding APIConst.inc only). Every
' call runs on a line of its own under On Error Resume Next and Check reads
' Err, so that a failing call is counted instead of ending the script
' silently. Prints "plan N" first, "N passed, M failed" last, and quits
' with M.
Option Explicit
Dim passed, failed, number, text, root, api, d, d2, a, w, ra, r, x, port, name, day
passed = 0
failed = 0
WScript.Echo "plan 31"

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
root = WScript.Arguments(0)
Set api = CreateObject("TolumCOM.APIObject")
Check "create APIObject by ProgID", IsObject(api)

' A fresh folder: no settings yet, then saved and loaded. (The answers of
' the calls this script shares with the walkthrough example are checked
' there; here the script's own kinds of values and answers.)
r = api.Init(root)
r = api.Save()
r = api.Init(root)

' Settings by name: literals (VT_I2, VT_BSTR), variables (by reference),
' booleans, dates, and a bare number with the kind of its value.
r = api.SetProperty("config_smtp_port", 2525)
Check "SetProperty by name, integer literal", r = True And api.GetProperty("config_smtp_port") = 2525
port = 2626
name = "config_smtp_port"
r = api.SetProperty(name, port)
Check "SetProperty from variables", r = True And api.GetProperty(name) = 2626
r = api.SetProperty("CONFIG_HOST_NAME", "mail.example.test")
Check "SetProperty of a text, name in any case", r = True And api.GetProperty("config_host_name") = "mail.example.test"
r = api.SetProperty("config_flag16", True)
Check "SetProperty of a boolean true", r = True And api.GetProperty("config_flag16") <> 0
r = api.SetProperty("config_flag16", False)
Check "SetProperty of a boolean false", r = True And api.GetProperty("config_flag16") = 0
r = api.SetProperty(27, 587)
Check "SetProperty by number", r = True And api.GetProperty("config_smtp_port") = 587
r = api.SetProperty(Null, 1)
Check "a Null command names nothing", r = False And api.LastErr = -1
x = api.GetProperty("no_such_setting")
Check "GetProperty of an unknown name is empty", IsEmpty(x) And api.LastErr = -1

' Domains.
Set d = api.NewDomain("one.test")
Check "NewDomain", IsObject(d) And d.Name = "one.test"
r = d.SetProperty("domain_date22", #2024-01-31#)
Check "a date setting", r = True And d.GetProperty("domain_date22") = #2024-01-31#
r = d.Save()
Check "Save of a new domain", r = True And d.LastErr = 0
Set d2 = api.NewDomain("two.test")
d2.IPAddress = "127.0.0.1"
r = d2.Save()
Check "GetDomain", api.GetDomain(1) = "two.test" And api.GetDomain(7) = ""
Check "GetDomainIndex", api.GetDomainIndex("TWO.test") = 1 And api.GetDomainIndex("none.test") = -1
Set d = api.OpenDomain("two.test")
Check "OpenDomain", IsObject(d) And d.IPAddress = "127.0.0.1" And d.LastErr = 0
Set d = api.OpenDomain("one.test")
day = d.GetProperty("domain_date22")
Check "the date read back", VarType(day) = vbDate And day = #2024-01-31#
x = api.OpenDomain("none.test")
Check "OpenDomain of a domain not served is empty", IsEmpty(x) And api.LastErr = -3

' Accounts.
Set a = d.NewAccount("ann")
r = a.SetProperty("account_password", "Secret12")
r = a.Save()
Set a = d.NewAccount("bob;robert@one.test")
r = a.SetProperty("account_password", "bobpass1")
r = a.Save()
Check "a second account with two aliases", r = True And d.GetAccountCount() = 2
Check "GetAccount", d.GetAccount(1) = "bob" And d.GetAccount(5) = ""
Check "GetAccountIndexByAlias", d.GetAccountIndexByAlias("robert") = 1
x = d.OpenAccount("nobody")
Check "OpenAccount of no account is empty", IsEmpty(x) And d.LastErr = -1
Set a = d.OpenAccount("robert@one.test")
Check "OpenAccount by another alias", IsObject(a) And a.GetProperty("account_alias_list") = "bob;robert"

' A failing member: the conversion's own error with our description.
r = "unset"
r = a.SetProperty("account_date19", "not a date")
number = Err.Number
text = Err.Description
Err.Clear
Check "the error number and description", number = &H80020005 And text = "The value is not a date."
Check "LastErr kept and nothing answered", r = "unset" And a.LastErr = 0

' Authentication makes the object the stored account.
Set a = CreateObject("TolumCOM.AccountObject")
r = a.AuthenticateUser("ann", "Secret12", "127.0.0.1")
r = a.CanCreateMailbox("cy", "ann", "Secret12", "")
Check "CanCreateMailbox of a taken mailbox", r = False
r = a.CanCreateMailbox("cy", "cy", "x", "one.test")
Check "CanCreateMailbox of a free one", r = True

' The end of a walk (FindInit leaves LastErr -1).
Set w = CreateObject("TolumCOM.AccountObject")
r = w.FindInit("one.test")
w.FindDone
Check "FindDone", w.LastErr = 0

' Remote accounts.
Set ra = CreateObject("TolumCOM.RemoteAccountObject")
r = ra.New()
r = ra.SetProperty("remote_text224", "r0")
r = ra.Save()
r = ra.Open(0)
Check "Open of a remote account", r = True And ra.GetProperty("remote_text224") = "r0"
r = ra.Delete()
Check "Delete of a remote account", r = True And ra.Count() = 0

' Domain deletion and the end of the session.
r = api.DeleteDomain("two.test")
Check "DeleteDomain", r = True And api.GetDomainCount() = 1
r = api.DeleteDomain("none.test")
Check "DeleteDomain of a domain not served", r = False And api.LastErr = -3
api.Done

WScript.Echo passed & " passed, " & failed & " failed"
WScript.Quit failed
