// The four automation classes from JScript, late bound by ProgID, on a fresh
// installation folder (the argument, holding APIConst.inc only). Every call
// runs inside check(), which catches what the call raises, so that a failing
// call is counted instead of ending the script silently. Prints "plan N"
// first, "N passed, M failed" last, and quits with M. Only JScript's own
// kinds of values are checked here; the objects' behaviour is the
// walkthrough's and the in-process tests'. Wine's JScript reads no date
// values (VT_DATE) and has no getVarDate: dates go in as day numbers and are
// not read back here.
var passed = 0, failed = 0;
WScript.Echo("plan 14");

function check(what, test) {
  var ok = false;
  try {
    ok = test();
  } catch (e) {
    WScript.Echo("FAIL " + what + ": error 0x" + (e.number >>> 0).toString(16) + " " + e.description);
    failed++;
    return;
  }
  if (ok) {
    passed++;
  } else {
    WScript.Echo("FAIL " + what);
    failed++;
  }
}

// The error a call raises, as "0xNUMBER description"; "" when none.
function raised(call) {
  try {
    call();
  } catch (e) {
    return "0x" + (e.number >>> 0).toString(16) + " " + e.description;
  }
  return "";
}

var root = WScript.Arguments(0);
var api = new ActiveXObject("TolumCOM.APIObject");
var d, ra;
check("fresh folder, saved, loaded", function () {
  return api.Init(root) === false && api.LastErr === -4 && api.Save() === true && api.Init(root) === true;
});

// Numbers: integers (VT_I4) and fractions (VT_R8, rounded); booleans; null.
check("an integer", function () {
  return api.SetProperty("config_smtp_port", 2525) === true && api.GetProperty("config_smtp_port") === 2525;
});
check("a fraction", function () {
  return api.SetProperty("config_smtp_port", 2527.25) === true && api.GetProperty("config_smtp_port") === 2527;
});
check("booleans", function () {
  return api.SetProperty("config_flag16", true) === true && api.GetProperty("config_flag16") !== 0 &&
         api.SetProperty("config_flag16", false) === true && api.GetProperty("config_flag16") === 0;
});
check("a text", function () {
  return api.SetProperty("config_host_name", "mail.example.test") === true &&
         api.GetProperty("config_host_name") === "mail.example.test";
});
check("a null command names nothing", function () {
  return api.SetProperty(null, 1) === false && api.LastErr === -1;
});
check("a null value fails with its conversion's error", function () {
  return raised(function () { api.SetProperty("config_host_name", null); }) ===
         "0x80020005 The value is not a text.";
});

// Domains, with a date as a day number; a Date object is no date here.
d = api.NewDomain("one.test");
check("NewDomain", function () { return d.Name === "one.test" && d.LastErr === 0; });
check("a day number for a date", function () { return d.SetProperty("domain_date22", 45322) === true; });
check("a Date object fails cleanly", function () {
  return raised(function () { d.SetProperty("domain_date22", new Date(2024, 0, 31)); }) ===
         "0x80020005 The value is not a date.";
});
check("Save of a new domain", function () { return d.Save() === true && api.GetDomainCount() === 1; });
check("GetDomainList ends with ; and one zero character", function () {
  return api.GetDomainList() === "one.test;\0";
});
check("OpenDomain of a domain not served is empty", function () {
  return api.OpenDomain("none.test") === undefined && api.LastErr === -3;
});

// A record address is a number.
ra = new ActiveXObject("TolumCOM.RemoteAccountObject");
check("a Data property", function () { return typeof ra.Data === "number"; });
api.Done();

WScript.Echo(passed + " passed, " + failed + " failed");
WScript.Quit(failed);
