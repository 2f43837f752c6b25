/* An administration session as an outside client runs it: plain C, no
 * header of the library, every export bound by name and by ordinal. Writes
 * each call and its answer to <folder>\transcript.txt (and stdout); the
 * record layouts are spelled out here from the published offsets.
 *
 *   admin_client.exe <Api.dll> <folder holding install\ and empty\ and
 *                    what maintenance_files.py writes>
 */
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

typedef int32_t(__stdcall* FnV)(void);
typedef int32_t(__stdcall* FnS)(const char*);
typedef int32_t(__stdcall* FnI)(int32_t);
typedef int32_t(__stdcall* FnBL)(void*, int32_t);
typedef int32_t(__stdcall* FnBLI)(void*, int32_t, int32_t);
typedef int32_t(__stdcall* FnIBL)(int32_t, void*, int32_t);
typedef int32_t(__stdcall* FnISL)(int32_t, const char*, int32_t);
typedef int32_t(__stdcall* FnSBL)(const char*, void*, int32_t);
typedef int32_t(__stdcall* FnSS)(const char*, const char*);
typedef int32_t(__stdcall* FnSI)(const char*, int32_t);
typedef int32_t(__stdcall* FnSIBL)(const char*, int32_t, void*, int32_t);
typedef int32_t(__stdcall* FnSSS)(const char*, const char*, const char*);
typedef int32_t(__stdcall* FnSSSS)(const char*, const char*, const char*, const char*);
typedef int32_t(__stdcall* FnAuth)(const char*, const char*, const char*, int32_t*, void*, int32_t);
typedef int32_t(__stdcall* FnInitUsers)(void**, const char*);
typedef int32_t(__stdcall* FnNextUser)(void*, void*, int32_t);
typedef void(__stdcall* FnH)(void*);
typedef int32_t(__stdcall* FnSet)(int32_t, const void*, int32_t);
typedef void(__stdcall* FnStandinFail)(const char*);

/* Named as the exports, so that each line of the transcript is the call. */
static FnS Init, GetUserCount, GetDomainIndex, SpamIndexNow, BackupConfig, RestoreConfig;
static FnV GetDomainCount, GetRACount;
static FnBL GetDomainList, AddRA;
static FnBLI SetUserDefaults, SetDomainDefaults;
static FnIBL GetDomainName, LoadDomain, SaveDomain, GetDomainIP, LoadRA, SaveRA;
static FnISL SetDomainIP;
static FnSBL GetUserList, AddUser, AddDomain;
static FnSS GetUserIndex, RenameDomain;
static FnI DeleteDomain, DeleteRA;
static FnSI DeleteUser, MailboxConvertMessages;
static FnSIBL LoadUser, SaveUser;
static FnSSS CheckPasswordPolicy;
static FnSSSS GetUserStat;
static FnAuth AuthenticateUser;
static FnInitUsers APIInitUsers;
static FnNextUser APINextUser;
static FnH APIDoneUsers;
static FnSet SetConfigSetting;

#define EXPORT(name, ordinal) \
  { #name, ordinal, (void*)&name }
static const struct {
  const char* name;
  int ordinal;
  void* slot;
} exports[] = {
    /* clang-format off */
    EXPORT(Init, 52), EXPORT(SetConfigSetting, 45), EXPORT(GetUserCount, 23), EXPORT(GetUserList, 22),
    EXPORT(GetUserIndex, 21), EXPORT(LoadUser, 20), EXPORT(SaveUser, 19), EXPORT(AddUser, 18),
    EXPORT(DeleteUser, 17), EXPORT(SetUserDefaults, 14), EXPORT(AuthenticateUser, 13), EXPORT(APIInitUsers, 12),
    EXPORT(APINextUser, 11), EXPORT(APIDoneUsers, 10), EXPORT(CheckPasswordPolicy, 8), EXPORT(GetUserStat, 9), EXPORT(GetDomainCount, 37),
    EXPORT(GetDomainList, 36), EXPORT(GetDomainName, 35), EXPORT(GetDomainIndex, 34), EXPORT(LoadDomain, 33),
    EXPORT(SaveDomain, 32), EXPORT(AddDomain, 31), EXPORT(RenameDomain, 30), EXPORT(DeleteDomain, 29),
    EXPORT(SetDomainDefaults, 27), EXPORT(GetDomainIP, 25), EXPORT(SetDomainIP, 24), EXPORT(GetRACount, 7),
    EXPORT(LoadRA, 6), EXPORT(SaveRA, 5), EXPORT(AddRA, 4), EXPORT(DeleteRA, 3), EXPORT(SpamIndexNow, 49),
    EXPORT(BackupConfig, 44), EXPORT(RestoreConfig, 43), EXPORT(MailboxConvertMessages, 38)
    /* clang-format on */
};
#define COUNT (sizeof exports / sizeof exports[0])

static FILE* transcript;
static void say(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vfprintf(transcript, format, args);
  va_end(args);
  va_start(args, format);
  vprintf(format, args);
  va_end(args);
}
/* Each call as written here, with its answer; SHOWA first names the
 * aliases and password of the account record the call takes. */
#define SHOW(call) say("%s = %d\n", #call, (int)(call))
#define SHOWA(call) (Label(), SHOW(call))

static uint8_t acct[2848], dom[913], ra[1828], buf[4096];

static void Put(uint8_t* record, int offset, const char* text) {
  record[offset] = (uint8_t)strlen(text);
  memcpy(record + offset + 1, text, strlen(text));
}
static const char* Text(const uint8_t* record, int offset) {
  static char out[256];
  memcpy(out, record + offset + 1, record[offset]);
  out[record[offset]] = '\0';
  return out;
}
static void Account(const char* aliases, const char* mailbox, const char* password) {
  memset(acct, 0, sizeof acct);
  Put(acct, 260, aliases);
  Put(acct, 516, mailbox);
  Put(acct, 772, password);
}
/* The aliases and password of the record a call takes. */
static void Label(void) {
  say("[%s ", Text(acct, 260));
  say("/ %s] ", Text(acct, 772));
}
/* A list text: items joined by "|". */
static void ShowList(const char* what, int32_t length) {
  int32_t i;
  say("%s = %d:", what, (int)length);
  for (i = 0; i + 1 < length; ++i)
    say("%c", buf[i] ? buf[i] : '|');
  say("\n");
}
/* Elapsed time from the performance counter: under Wine the tick count is
   refreshed only when the wine server wakes, so it can lag a sleep by far
   more than the margin the pause check allows. */
static LONGLONG Milliseconds(void) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return now.QuadPart / frequency.QuadPart * 1000 + now.QuadPart % frequency.QuadPart * 1000 / frequency.QuadPart;
}

static int32_t Setting(int32_t id, int32_t value) { return SetConfigSetting(id, &value, 4); }

/* A call on a file below base, shown by its name there. */
static void OnFile(const char* what, FnS call, const char* base, const char* name) {
  char file[MAX_PATH];
  snprintf(file, sizeof file, "%s%s", base, name);
  say("%s(%s) = %d\n", what, name, (int)call(file));
}

/* The names at the top of a folder, joined: enough to see one added. */
static void TopLevel(const char* pattern, char* out, size_t size) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern, &found);
  out[0] = '\0';
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (strlen(out) + strlen(found.cFileName) + 2 < size) {
      strcat(out, found.cFileName);
      strcat(out, "|");
    }
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

int main(int argc, char** argv) {
  char folder[MAX_PATH], install[MAX_PATH], empty[MAX_PATH], path[MAX_PATH];
  HMODULE api;
  size_t i, mismatches = 0;
  void *handle = NULL, *stale;
  int32_t domainIndex = -7, value = 1;
  LONGLONG started;
  char longName[100], tooLong[301], line[512], convert[MAX_PATH], maint[MAX_PATH], restore[MAX_PATH];
  char driveC[4096], driveC2[4096], current[4096], current2[4096];
  HANDLE held;
  FILE* report;
  const char* same = "b.test";
  FnStandinFail fail;
  HMODULE db;
  FARPROC proc;

  if (argc != 3) return 2;
  /* A host path becomes the drive Wine maps the host's root to. */
  snprintf(folder, sizeof folder, "%s%s\\", argv[2][0] == '/' ? "Z:" : "", argv[2]);
  for (i = 0; folder[i]; ++i)
    if (folder[i] == '/') folder[i] = '\\';
  snprintf(install, sizeof install, "%sinstall\\", folder);
  snprintf(empty, sizeof empty, "%sempty\\", folder);
  snprintf(convert, sizeof convert, "%sconvert\\", folder);
  snprintf(maint, sizeof maint, "%smaint\\", folder);
  snprintf(restore, sizeof restore, "%srestore\\", folder);
  snprintf(path, sizeof path, "%stranscript.txt", folder);
  transcript = fopen(path, "wb");
  api = LoadLibraryA(argv[1]);
  if (transcript == NULL || api == NULL) return 1;
  for (i = 0; i < COUNT; ++i) {
    proc = GetProcAddress(api, exports[i].name);
    if (proc == NULL || proc != GetProcAddress(api, MAKEINTRESOURCEA(exports[i].ordinal))) ++mismatches;
    memcpy(exports[i].slot, &proc, sizeof proc); /* into the variable of the export's type */
  }
  say("bound %d exports by name and ordinal, %d mismatches\n", (int)COUNT, (int)mismatches);
  if (mismatches) return 1;
  say("-- mailbox conversion before Init, absolute path\n");
  SHOW(MailboxConvertMessages(convert, 0x100));
  say("-- a failed Init leaves the library not initialised\n");
  SHOW(Init(empty));
  OnFile("BackupConfig", BackupConfig, folder, "before-init.ilds");
  OnFile("RestoreConfig", RestoreConfig, folder, "before-init.ilds");
  SHOW(SpamIndexNow(NULL));
  SHOW(MailboxConvertMessages(convert, 0x101));
  SHOW(MailboxConvertMessages(NULL, 0));
  SHOW(GetDomainCount());
  SHOW(GetUserCount("a.test"));
  SHOW(GetRACount());
  SHOW(CheckPasswordPolicy("", "", ""));
  SHOW(APIInitUsers(&handle, "a.test"));
  SHOW(Init(install));
  db = GetModuleHandleA("DB.dll");
  proc = db ? GetProcAddress(db, "StandinFailCall") : NULL;
  memcpy(&fail, &proc, sizeof fail);

  say("-- domains\n");
  memset(longName, 'x', 92);
  strcpy(longName + 88, ".com");
  SHOW(AddDomain("a.test", dom, 913));
  SHOW(AddDomain("b.test", dom, 913));
  SHOW(AddDomain("a_b.com", dom, 913));
  SHOW(AddDomain("..", dom, 913));
  SHOW(AddDomain(longName, dom, 913));
  SHOW(AddDomain("A.TEST", dom, 913));
  SHOW(AddDomain("c.test", dom, 912));
  SHOW(AddDomain(NULL, dom, 913));
  if (fail) {
    fail("DBAddDomain");
    say("[db] ");
    SHOW(AddDomain("e.test", dom, 913));
    say("[db] ");
    SHOW(GetDomainCount());
    fail("");
  }
  SHOW(GetDomainCount());
  ShowList("GetDomainList", GetDomainList(buf, sizeof buf));
  SHOW(GetDomainList(buf, 14));
  SHOW(GetDomainName(1, buf, 6));
  SHOW(GetDomainName(2, buf, 6));
  SHOW(GetDomainIndex("B.Test"));
  SHOW(GetDomainIndex(NULL));
  SHOW(LoadDomain(0, dom, 913));
  SHOW(LoadDomain(2, dom, 913));
  SHOW(LoadDomain(0, NULL, 913));
  Put(dom, 128, "postmaster");
  SHOW(SaveDomain(0, dom, 913));

  say("-- bindings\n");
  SHOW(SetDomainIP(1, "192.0.2.7;\r\n198.51.100.1\0ignored", 40));
  ShowList("GetDomainIP(1)", GetDomainIP(1, buf, sizeof buf) + 1);
  SHOW(GetDomainIP(1, buf, 3));
  SHOW(SetDomainIP(1, NULL, 5));
  SHOW(SetDomainIP(1, "x", -1));
  SHOW(SetDomainIP(2, "x", 1));

  say("-- defaults from default.ini\n");
  SHOW(SetUserDefaults(acct, 2848, 0));
  SHOW(SetUserDefaults(acct, 100, 1));
  SHOW(SetUserDefaults(acct, 2848, 1));
  say("MaxMessageSize at 760: %d\n", acct[760]);
  SHOW(SetDomainDefaults(dom, 913, 1));
  say("DomainMBLimit at 885: %d\n", dom[885]);

  say("-- accounts\n");
  Account("ann;Anna.B", "", "Secret12");
  acct[1022] = 1;
  SHOWA(AddUser("a.test", acct, 2848));
  say("caller's mailbox name still '%s'\n", Text(acct, 516));
  Account("bob", "bob", "bobpass1");
  SHOWA(AddUser("a.test", acct, 2848));
  Account("x;ANNA.b ", "x", "p");
  SHOWA(AddUser("a.test", acct, 2848));
  Account("ann2", "ann", "Secret12");
  SHOWA(AddUser("a.test", acct, 2848));
  Account("c@d", "c", "p");
  SHOWA(AddUser("a.test", acct, 2848));
  Account("", "e", "p");
  SHOWA(AddUser("a.test", acct, 2848));
  SHOW(AddUser("nowhere.test", acct, 2848));
  SHOWA(AddUser("a.test", acct, 100));
  SHOW(GetUserCount("a.test"));
  ShowList("GetUserList(a.test)", GetUserList("a.test", buf, sizeof buf));
  SHOW(GetUserList("a.test", buf, 8));
  SHOW(GetUserList("b.test", buf, 1));
  SHOW(GetUserList("b.test", buf, 0));
  SHOW(GetUserIndex("a.test", "anna.b"));
  SHOW(GetUserIndex("a.test", "nobody"));
  SHOW(LoadUser("a.test", 0, acct, 2848));
  say("stored mailbox '%s', ", Text(acct, 516));
  say("folder '%s'\n", Text(acct, 1028));
  SHOW(LoadUser("a.test", 5, acct, 2848));
  SHOW(LoadUser("a.test", 0, acct, 10));

  say("-- the password policy\n");
  SHOW(CheckPasswordPolicy("", "", ""));
  SHOW(Setting(155, 1));
  SHOW(Setting(156, 8));
  SHOW(Setting(157, 2));
  SHOW(CheckPasswordPolicy("abc", "", ""));
  SHOW(CheckPasswordPolicy("abcdef12", "", ""));
  Account("bob", "bob", "short");
  SHOWA(SaveUser("a.test", 1, acct, 2848));
  Account("bob", "bob", "longpass12");
  SHOWA(SaveUser("a.test", 1, acct, 2848));
  SHOWA(SaveUser("a.test", -1, acct, 2848));
  SHOWA(SaveUser("a.test", 2, acct, 2848));
  Account("bob;ann", "bob", "longpass12");
  SHOWA(SaveUser("a.test", 1, acct, 2848));
  SHOW(LoadUser("a.test", 0, acct, 2848));
  Put(acct, 260, "ANN;anna.b");
  SHOWA(SaveUser("a.test", 0, acct, 2848));

  say("-- enumeration\n");
  SHOW(APIInitUsers(&handle, "a.test"));
  SHOW(APINextUser(handle, acct, 100));
  SHOW(APINextUser(handle, acct, 2848));
  say("record: '%s'\n", Text(acct, 260));
  SHOW(APINextUser(handle, acct, 2848));
  APIDoneUsers(handle);
  stale = handle;
  SHOW(APINextUser(stale, acct, 2848));
  APIDoneUsers(stale);
  SHOW(APINextUser(&value, acct, 2848));
  APIDoneUsers(&value);
  APIDoneUsers(NULL);
  SHOW(APIInitUsers(NULL, "a.test"));
  SHOW(APIInitUsers(&handle, "nowhere.test"));
  say("handle after a failed open: %s\n", handle == NULL ? "null" : "set");

  say("-- logins\n");
  SHOW(AuthenticateUser("ann", "Secret12", "", &domainIndex, acct, 2848));
  say("domain index %d, aliases '%s'\n", (int)domainIndex, Text(acct, 260));
  started = Milliseconds();
  SHOW(AuthenticateUser("ann", "wrong", "", &domainIndex, acct, 2848));
  say("refused after at least 2.9 s: %s\n", Milliseconds() - started >= 2900 ? "yes" : "no");
  started = Milliseconds();
  SHOW(AuthenticateUser("ann", "Secret12", "", NULL, acct, 2848));
  say("answered at once: %s\n", Milliseconds() - started < 1000 ? "yes" : "no");

  say("-- statistics\n");
  memset(tooLong, 'x', 300);
  tooLong[300] = 0;
  snprintf(path, sizeof path, "%snowhere\\stat.csv", folder);
  SHOW(GetUserStat("2026/01/01", "2026/01/31", "*", NULL));
  SHOW(GetUserStat("2026/01/01", "2026/01/31", "*", tooLong));
  SHOW(GetUserStat("2026/01/01", "2026/01/31", "*", path));
  snprintf(path, sizeof path, "%sstat.csv", folder);
  SHOW(GetUserStat("2026/01/01", "2026/01/31", "a.test", path));
  report = fopen(path, "rb");
  while (report != NULL && fgets(line, sizeof line, report) != NULL) {
    line[strcspn(line, "\r\n")] = 0;
    say("report: %s\n", line);
  }
  if (report != NULL) fclose(report);

  say("-- remote accounts\n");
  SHOW(GetRACount());
  memset(ra, 0, sizeof ra);
  Put(ra, 0, "pop3");
  SHOW(AddRA(ra, 1828));
  SHOW(AddRA(ra, 1827));
  SHOW(LoadRA(3, ra, 1828));
  SHOW(LoadRA(1, ra, 1828));
  say("record 1: '%s'\n", Text(ra, 0));
  Put(ra, 0, "pop2b");
  SHOW(SaveRA(1, ra, 1828));
  SHOW(SaveRA(-1, ra, 1828));
  SHOW(SaveRA(3, ra, 1828));
  SHOW(DeleteRA(3));
  SHOW(DeleteRA(0));
  SHOW(GetRACount());

  say("-- renames\n");
  SHOW(RenameDomain(same, same));
  SHOW(RenameDomain(NULL, "c.test"));
  SHOW(RenameDomain("b.test", "a.test"));
  SHOW(RenameDomain("b.test", "bad_name"));
  SHOW(RenameDomain("nowhere.test", "d.test"));
  SHOW(RenameDomain("b.test", "c.test"));
  SHOW(GetDomainIndex("c.test"));
  ShowList("GetDomainIP(1)", GetDomainIP(1, buf, sizeof buf) + 1);
  SHOW(RenameDomain("c.test", "C.TEST"));
  if (fail) {
    fail("DBRenameDomain");
    say("[db] ");
    SHOW(RenameDomain("c.test", "f.test"));
    say("[db] ");
    SHOW(GetDomainIndex("c.test"));
    fail("");
  }

  say("-- deletions\n");
  Account("carl", "carl", "carlpass12");
  Put(acct, 1028, "..\\..\\");
  SHOWA(AddUser("a.test", acct, 2848));
  SHOW(DeleteUser("a.test", 2));
  say("installation folder stays: %s\n", GetFileAttributesA(install) != INVALID_FILE_ATTRIBUTES ? "yes" : "no");
  SHOW(DeleteUser("a.test", 1));
  SHOW(DeleteUser("a.test", 1));
  SHOW(DeleteUser("a.test", -1));
  SHOW(DeleteDomain(2));
  SHOW(DeleteDomain(1));
  SHOW(GetDomainCount());
  SHOW(SetDomainIP(0, "192.0.2.9", 9));

  say("-- null pointers\n");
  SHOW(GetUserCount(NULL));
  SHOW(GetUserIndex("a.test", NULL));
  SHOW(LoadUser("a.test", 0, NULL, 2848));
  SHOW(SaveUser(NULL, 0, acct, 2848));
  SHOW(GetDomainList(NULL, 10));
  SHOW(GetDomainName(0, NULL, 10));
  SHOW(LoadRA(0, NULL, 1828));
  SHOW(AddRA(NULL, 1828));
  SHOW(AuthenticateUser(NULL, NULL, NULL, &domainIndex, NULL, 2848));

  say("-- anti-spam index\n");
  Account("spam1", "", "longpass12");
  acct[764] = 1;
  SHOWA(AddUser("a.test", acct, 2848));
  Account("spam2", "", "longpass12");
  acct[764] = acct[665] = 1;
  SHOWA(AddUser("a.test", acct, 2848));
  Account("spam3", "", "longpass12");
  SHOWA(AddUser("a.test", acct, 2848));
  SHOW(SpamIndexNow("spam1@a.test"));
  SHOW(SpamIndexNow("<SPAM2@A.Test>"));
  SHOW(SpamIndexNow("spam3@a.test"));
  SHOW(SpamIndexNow("nobody@a.test"));
  SHOW(SpamIndexNow("spam1@nowhere.test"));
  SHOW(SpamIndexNow(""));
  SHOW(SpamIndexNow(NULL));
  SHOW(SpamIndexNow("spam1"));

  say("-- backup\n");
  SHOW(Init(maint));
  OnFile("BackupConfig", BackupConfig, folder, "full.ilds");
  OnFile("BackupConfig", BackupConfig, maint, "config\\self.ilds");
  snprintf(path, sizeof path, "%sconfig\\held.dat", maint);
  held = CreateFileA(path, GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
  say("held.dat held without read sharing: %s\n", held != INVALID_HANDLE_VALUE ? "yes" : "no");
  OnFile("BackupConfig", BackupConfig, folder, "held.ilds");
  CloseHandle(held);
  SHOW(BackupConfig(NULL));
  SHOW(BackupConfig(tooLong));

  say("-- restore\n");
  SHOW(Init(restore));
  OnFile("BackupConfig", BackupConfig, folder, "plain.ilds");
  SHOW(RestoreConfig(NULL));
  SHOW(RestoreConfig(tooLong));
  OnFile("RestoreConfig", RestoreConfig, folder, "missing.ilds");
  OnFile("RestoreConfig", RestoreConfig, folder, "plain.ilds");
  OnFile("RestoreConfig", RestoreConfig, folder, "round.ilds");
  TopLevel("C:\\*", driveC, sizeof driveC);
  TopLevel("\\*", current, sizeof current);
  OnFile("RestoreConfig", RestoreConfig, folder, "hostile.ilds");
  TopLevel("C:\\*", driveC2, sizeof driveC2);
  TopLevel("\\*", current2, sizeof current2);
  say("top level of C:\\ and of the current drive unchanged: %s\n",
      strcmp(driveC, driveC2) == 0 && strcmp(current, current2) == 0 ? "yes" : "no");
  fclose(transcript);
  FreeLibrary(api);
  return 0;
}
