// The mail sender from JScript, late bound by ProgID, against the aiosmtpd
// peer whose port is in the environment (VM_SMTP4_PORT). Argument: the
// same folder as for mailer_test.vbs. Every check runs inside try/catch,
// so that a failing call is counted instead of ending the script silently.
// Ends with "N passed, M failed" and quits with M.
var passed = 0, failed = 0;
var work = WScript.Arguments(0);
var server = "127.0.0.1:" + new ActiveXObject("WScript.Shell").Environment("PROCESS")("VM_SMTP4_PORT");
var m = null;

function check(name, test) {
  try {
    if (test()) {
      passed++;
      return;
    }
    WScript.Echo("FAIL " + name);
  } catch (e) {
    WScript.Echo("FAIL " + name + ": " + e.message + " (0x" + (e.number >>> 0).toString(16) + ")");
  }
  failed++;
}

check("create by ProgID", function () { m = new ActiveXObject("VelmoraCOM.Mailer"); return m !== null; });
check("a new object", function () { return m.RemoteHost === "localhost" && m.Result === 0 && m.IsHTML === false; });
check("SendMail", function () {
  m.RemoteHost = server;
  m.FromName = "J Script";
  m.FromAddress = "js@script.test";
  m.MailFrom = "js@script.test";
  m.AddRecipient("rcpt@script.test", "Rcpt");
  m.Subject = "From JScript";
  m.IsHTML = true;
  m.BodyText = "<p>.dot</p>\r\n.line";
  m.AddEmbeddedImage(work + "tree\\a.txt", "<a@script.test>");
  return m.SendMail() === true && m.Result === 1 && m.Response === "";
});
check("a refused recipient", function () {
  m.AddBcc("bad@script.test", "");
  return m.SendMail() === false && m.Result === -3 && m.Response.substr(0, 4) === "550 ";
});
check("Reset", function () {
  m.Reset();
  return m.Result === 0 && m.Recipients === "" && m.IsHTML === false;
});
check("EncodeHeader in UTF-8", function () {
  m.Charset = "utf-8";
  return m.EncodeHeader("\u00e9") === "=?utf-8?Q?=c3=a9?=";
});
check("an unreadable attachment", function () {
  m.RemoteHost = server;
  m.AddRecipient("rcpt@script.test", "");
  m.AddAttachment(work + "missing.bin");
  return m.SendMail() === false && m.Result === -1;
});

WScript.Echo(passed + " passed, " + failed + " failed");
WScript.Quit(failed);
