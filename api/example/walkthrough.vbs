' Example of the main job through the automation classes: a script
' administers a fresh installation folder (the argument) and prints every
' answer with the object's LastErr. Register Api.dll first
' (regsvr32 Api.dll), then run
'
'   cscript //nologo walkthrough.vbs C:\path\to\installation\
'
' The folder may hold the setting-names file APIConst.inc, which lets the
' script name its settings; numbers work without it.
Option Explicit
Dim root, api, com, org, ann, account, walker, remote, r, more, n

root = WScript.Arguments(0)
If Right(root, 1) <> "\" Then root = root & "\"

Sub Say(what, answer, lastErr)
  WScript.Echo Left(what & Space(50), 50) & "= " & CStr(answer) & "   LastErr " & lastErr
End Sub

' A list text shows its zero characters as \0.
Function Shown(text)
  Shown = Replace(text, Chr(0), "\0")
End Function

Set api = CreateObject("TolumCOM.APIObject")

' A fresh folder has no settings: Init answers false (-4) and works on the
' built-in ones; Save writes them, and the next Init reads them.
r = api.Init(root)
Say "Init(fresh folder)", r, api.LastErr
r = api.Save()
Say "Save", r, api.LastErr
r = api.Init(root)
Say "Init(folder)", r, api.LastErr

' Settings by name and by number.
r = api.SetProperty("config_mail_folder", root & "mail\")
Say "SetProperty(config_mail_folder, <folder>mail\)", r, api.LastErr
r = api.SetProperty("config_smtp_port", 2525)
Say "SetProperty(config_smtp_port, 2525)", r, api.LastErr
r = api.SetProperty(25, 1110)
Say "SetProperty(25, 1110)", r, api.LastErr
Say "GetProperty(config_pop3_port)", api.GetProperty("config_pop3_port"), api.LastErr

' Two domains, each with a setting of its own.
Set com = api.NewDomain("example.com")
Say "NewDomain(example.com)", IsObject(com), api.LastErr
r = com.SetProperty("domain_max_message_size", 10240)
Say "  SetProperty(domain_max_message_size, 10240)", r, com.LastErr
r = com.Save()
Say "  Save", r, com.LastErr
Set org = api.NewDomain("example.org")
r = org.SetProperty("domain_administrator_email", "hostmaster@example.org")
Say "  SetProperty(domain_administrator_email, ...)", r, org.LastErr
r = org.Save()
Say "NewDomain(example.org) and Save", r, org.LastErr
Say "GetDomainCount", api.GetDomainCount(), api.LastErr
Say "GetDomainList", Shown(api.GetDomainList()), api.LastErr

' Accounts with aliases.
Set ann = com.NewAccount("ann;anna.b")
r = ann.SetProperty("account_password", "Secret12")
r = ann.Save()
Say "NewAccount(ann;anna.b@example.com) and Save", r, ann.LastErr
Set account = com.NewAccount("bob")
r = account.SetProperty("account_password", "bobpass1")
r = account.Save()
Say "NewAccount(bob@example.com) and Save", r, account.LastErr
Set account = org.NewAccount("carol")
r = account.SetProperty("account_password", "carolpw1")
r = account.Save()
Say "NewAccount(carol@example.org) and Save", r, account.LastErr
Set account = com.NewAccount("x;bob")
r = account.Save()
Say "NewAccount(x;bob@example.com): alias in use", r, account.LastErr
Say "GetAccountCount(example.com)", com.GetAccountCount(), com.LastErr
Say "GetAccountList(example.com)", Shown(com.GetAccountList()), com.LastErr

' The walk over a domain's accounts.
Set walker = CreateObject("TolumCOM.AccountObject")
r = walker.FindInit("example.com")
Say "FindInit(example.com)", r, walker.LastErr
n = 0
Do
  more = walker.FindNext()
  If Not more Or n > 100 Then Exit Do
  n = n + 1
  WScript.Echo "  account: " & walker.GetProperty("account_alias_list") & ", mailbox " & _
    walker.GetProperty("account_mailbox_name")
Loop
Say "FindNext at the end", more, walker.LastErr
walker.FindDone

' A login opens the stored account, which can then be changed and saved.
Set account = CreateObject("TolumCOM.AccountObject")
r = account.AuthenticateUser("ann", "Secret12", "127.0.0.1")
Say "AuthenticateUser(ann, Secret12)", r, account.LastErr
Say "  Domain", account.Domain, account.LastErr
r = account.SetProperty("account_max_message_size", 2048)
r = account.Save()
Say "  SetProperty(account_max_message_size) and Save", r, account.LastErr
Say "GetAccountCount(example.com)", com.GetAccountCount(), com.LastErr

' A remote account (collected from another server into ann's mailbox).
Set remote = CreateObject("TolumCOM.RemoteAccountObject")
r = remote.New()
r = remote.SetProperty("remote_text224", "pop.example.net")
r = remote.Save()
Say "RemoteAccountObject: New, SetProperty, Save", r, remote.LastErr
Say "  Count", remote.Count(), remote.LastErr
Say "  GetProperty(remote_text235)", remote.GetProperty("remote_text235"), remote.LastErr

' Renaming a domain, deleting an account, saving and ending the session.
r = api.RenameDomain("example.org", "example.net")
Say "RenameDomain(example.org, example.net)", r, api.LastErr
Say "GetDomainList", Shown(api.GetDomainList()), api.LastErr
r = com.DeleteAccount("bob")
Say "DeleteAccount(bob@example.com)", r, com.LastErr
Say "GetAccountList(example.com)", Shown(com.GetAccountList()), com.LastErr
r = api.Save()
Say "Save", r, api.LastErr
api.Done
Say "Done", "", api.LastErr
