// The data packager from JScript, late bound by ProgID. Argument: the same
// folder as for kelpa_test.vbs. Every check runs inside try/catch, so that
// a failing call is counted instead of ending the script silently. Ends
// with "N passed, M failed" and quits with M.
var passed = 0, failed = 0;
var work = WScript.Arguments(0);
var fso = new ActiveXObject("Scripting.FileSystemObject");
var k = null;

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

function read(path) { return fso.OpenTextFile(path).ReadAll(); }

check("create by ProgID", function () { k = new ActiveXObject("VelmoraCOM.Kelpa"); return k !== null; });
check("AddFiles", function () { return k.AddFiles(work + "one.ilds", work + "tree") === true; });
check("ListFiles", function () {
  var lines = k.ListFiles(work + "one.ilds").split("\r\n");
  return lines.length === 4 && lines[3] === "" && k.ListFiles(work + "one.ilds").indexOf("sub\\c.txt;") >= 0;
});
// JScript passes the outcome's variable by value: the restore runs, the variable stays.
check("RestoreFiles", function () {
  var outcome = "unset";
  k.RestoreFiles(work + "one.ilds", work + "out", outcome);
  return outcome === "unset" && read(work + "out\\sub\\c.txt") === "charlie";
});
check("AddFilesEx raw, prefix, skip list", function () {
  return k.AddFilesEx(work + "two.ilds", work + "tree", false, "p\\", false, "b.txt;x") === true &&
         k.ListFiles(work + "two.ilds").indexOf("p\\a.txt;5\r\n") >= 0 &&
         k.ListFiles(work + "two.ilds").indexOf("b.txt") < 0;
});
check("AddFilesEx append takes the archive's flag", function () {
  return k.AddFilesEx(work + "two.ilds", work + "more", true, "", true, "") === true &&
         k.ListFiles(work + "two.ilds").indexOf("d.txt;5\r\n") >= 0;
});
check("keep list", function () {
  fso.CreateTextFile(work + "out\\a.txt", true).Write("changed");
  fso.CreateTextFile(work + "out\\b.txt", true).Write("changed");
  return k.RestoreFilesEx(work + "one.ilds", work + "out", false, "x;A.TXT", 0) === true &&
         read(work + "out\\a.txt") === "changed" && read(work + "out\\b.txt") === "bravo";
});
check("FileSeek", function () {
  return k.RestoreFilesEx(work + "seek.bin", work + "out3", true, "", 100) === true &&
         read(work + "out3\\s.txt") === "seek" &&
         k.RestoreFilesEx(work + "seek.bin", work + "out4", true, "", -5) === false &&
         !fso.FolderExists(work + "out4");
});
check("missing package", function () {
  return k.ListFiles(work + "missing.ilds") === "" &&
         k.RestoreFilesEx(work + "missing.ilds", work + "out5", true, "", 0) === false;
});

WScript.Echo(passed + " passed, " + failed + " failed");
WScript.Quit(failed);
