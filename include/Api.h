/* Public interface of Api.dll, the mail server's administration library.
 *
 * Plain C, readable by any C or C++ compiler for Windows. Every function uses
 * the standard Windows calling convention, takes zero-terminated 8-bit
 * strings and caller-owned buffers with an explicit length, and never hands
 * out memory the caller must free. Link against the DLL by name or by the
 * ordinals given, or load it at run time and use the pointer types below.
 */
#ifndef MAILSERVER_API_H
#define MAILSERVER_API_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#ifdef _WIN32
#define API_CALL __stdcall /* ignored by 64-bit compilers */
#else
#define API_CALL
#endif

/* Result codes of the exported functions (32-bit signed). Success is 0, a
 * count, an index or the number of bytes placed in the caller's buffer. */
enum ApiResult {
  API_OK = 0,
  API_FAILED = -1,              /* failure, not found, or a setting id that does not exist */
  API_BAD_ARGUMENT = -3,        /* buffer too small, index out of range, unusable argument */
  API_SETTINGS_UNREADABLE = -4, /* Init only: the settings record could not be read */
  API_NOT_INITIALISED = -5      /* the library is not initialised */
};

/* Sizes of the fixed records that cross the interface. */
enum ApiRecordSize {
  API_SETTINGS_RECORD_SIZE = 20864,
  API_ACCOUNT_RECORD_SIZE = 2848,
  API_DOMAIN_RECORD_SIZE = 913,
  API_REMOTE_ACCOUNT_RECORD_SIZE = 1828
};

/* Session (ordinals 52, 51, 50, 48, 47). Init(NULL) takes the installation
 * folder from the registry. */
int32_t API_CALL Init(const char* path);
void API_CALL Done(void);
void API_CALL SaveConfig(void);
void API_CALL UpdateConfiguration(void);
int32_t API_CALL ReloadServices(void); /* 1 delivered, 0 not */

/* Date and time buffers: 8-byte day counts since 1899-12-30 (ordinals 42-39). */
int32_t API_CALL SetBufferDate(void* buffer, int32_t bufLen, int32_t year, int32_t month, int32_t day);
int32_t API_CALL SetBufferTime(void* buffer, int32_t bufLen, int32_t hour, int32_t minute, int32_t second,
                               int32_t msec);
int32_t API_CALL GetBufferDate(const void* buffer, int32_t bufLen, int32_t* year, int32_t* month, int32_t* day);
int32_t API_CALL GetBufferTime(const void* buffer, int32_t bufLen, int32_t* hour, int32_t* minute, int32_t* second,
                               int32_t* msec);

/* Configuration settings by id (ordinals 46, 45). */
int32_t API_CALL GetConfigSetting(int32_t id, void* buffer, int32_t bufLen);
int32_t API_CALL SetConfigSetting(int32_t id, const void* buffer, int32_t bufLen);

/* Fields of a caller's account, domain or remote-account record by id
 * (ordinals 16, 15, 28, 26, 2, 1). */
int32_t API_CALL GetUserSetting(const void* record, int32_t recordLen, int32_t id, void* value, int32_t valueLen);
int32_t API_CALL SetUserSetting(void* record, int32_t recordLen, int32_t id, const void* value, int32_t valueLen);
int32_t API_CALL GetDomainSetting(const void* record, int32_t recordLen, int32_t id, void* value, int32_t valueLen);
int32_t API_CALL SetDomainSetting(void* record, int32_t recordLen, int32_t id, const void* value, int32_t valueLen);
int32_t API_CALL GetRASetting(const void* record, int32_t recordLen, int32_t id, void* value, int32_t valueLen);
int32_t API_CALL SetRASetting(void* record, int32_t recordLen, int32_t id, const void* value, int32_t valueLen);

/* Accounts of a domain (ordinals 23-17, 14-10, 8). Records are the
 * 2,848-byte account record; lists are items each ended by a zero byte plus
 * one more zero byte. AddUser answers 0; GetUserIndex with the first alias
 * finds the new account. */
int32_t API_CALL GetUserCount(const char* domain);
int32_t API_CALL GetUserList(const char* domain, void* buffer, int32_t bufLen);
int32_t API_CALL GetUserIndex(const char* domain, const char* alias);
int32_t API_CALL LoadUser(const char* domain, int32_t index, void* record, int32_t recordLen);
int32_t API_CALL SaveUser(const char* domain, int32_t index, const void* record, int32_t recordLen);
int32_t API_CALL AddUser(const char* domain, const void* record, int32_t recordLen);
int32_t API_CALL DeleteUser(const char* domain, int32_t index);
int32_t API_CALL SetUserDefaults(void* record, int32_t recordLen, int32_t force);
/* 2848 and the account's domain index when the login is accepted; -1, after
 * a pause of three seconds, when it is refused. */
int32_t API_CALL AuthenticateUser(const char* user, const char* password, const char* ip, int32_t* domainIndex,
                                  void* record, int32_t recordLen);
/* Walking a domain's accounts: the handle is valid from a true APIInitUsers
 * to APIDoneUsers; the booleans are 1 or 0. */
int32_t API_CALL APIInitUsers(void** handle, const char* domain);
int32_t API_CALL APINextUser(void* handle, void* record, int32_t recordLen);
void API_CALL APIDoneUsers(void* handle);
/* 1 when the password passes the policy (or the policy is off), 0 when not. */
int32_t API_CALL CheckPasswordPolicy(const char* password, const char* mailbox, const char* aliases);
/* Writes the user statistics report of the days from..to ("yyyy/mm/dd") for
 * the accounts the filter names ("*" or empty: all) into fileName: 0 written,
 * -1 failed (no partial file is left), -3 fileName null or over 259
 * characters. */
int32_t API_CALL GetUserStat(const char* from, const char* to, const char* filter, const char* fileName);

/* Domains (ordinals 37-24 but 28 and 26). Records are the 913-byte domain
 * record; a domain is addressed by its index in the domain table. */
int32_t API_CALL GetDomainCount(void);
int32_t API_CALL GetDomainList(void* buffer, int32_t bufLen);
int32_t API_CALL GetDomainName(int32_t index, void* buffer, int32_t bufLen);
int32_t API_CALL GetDomainIndex(const char* name);
int32_t API_CALL LoadDomain(int32_t index, void* record, int32_t recordLen);
int32_t API_CALL SaveDomain(int32_t index, const void* record, int32_t recordLen);
int32_t API_CALL AddDomain(const char* name, const void* record, int32_t recordLen);
int32_t API_CALL RenameDomain(const char* oldName, const char* newName);
int32_t API_CALL DeleteDomain(int32_t index);
int32_t API_CALL SetDomainDefaults(void* record, int32_t recordLen, int32_t force);
int32_t API_CALL GetDomainIP(int32_t index, void* buffer, int32_t bufLen);
int32_t API_CALL SetDomainIP(int32_t index, const char* value, int32_t valueLen);

/* Remote accounts (ordinals 7-3), 1,828-byte records. */
int32_t API_CALL GetRACount(void);
int32_t API_CALL LoadRA(int32_t index, void* record, int32_t recordLen);
int32_t API_CALL SaveRA(int32_t index, const void* record, int32_t recordLen);
int32_t API_CALL AddRA(const void* record, int32_t recordLen);
int32_t API_CALL DeleteRA(int32_t index);

/* Maintenance (ordinals 49, 44, 43, 38). SpamIndexNow marks and copies the
 * messages of the account's inbox and "~Spam\" folder for the anti-spam
 * index, then asks the SMTP service to build its index (NULL: only asks);
 * -1 for an unknown account or one not indexed. BackupConfig packs the
 * configuration folder as it is on disk (call SaveConfig first to include
 * unsaved settings), with "webmail\config\" under "..webmail\config\";
 * RestoreConfig unpacks into the configuration folder and neither reloads
 * nor notifies (call Init afterwards). A file name over 255 characters
 * answers -1. MailboxConvertMessages converts a mailbox folder (relative to
 * the mail folder, or absolute) to ".imap" files under "inbox\" (low byte of
 * fromImap 0) or back to ".tmp" files (low byte non-zero); it answers 1 when
 * at least one message was found, else 0, and works before Init. */
int32_t API_CALL SpamIndexNow(const char* email);
int32_t API_CALL BackupConfig(const char* file);
int32_t API_CALL RestoreConfig(const char* file);
int32_t API_CALL MailboxConvertMessages(const char* path, int32_t fromImap);

/* Pointer types for callers that load the library at run time. */
typedef int32_t(API_CALL* ApiInitProc)(const char* path);
typedef void(API_CALL* ApiVoidProc)(void);
typedef int32_t(API_CALL* ApiReloadServicesProc)(void);
typedef int32_t(API_CALL* ApiGetConfigSettingProc)(int32_t id, void* buffer, int32_t bufLen);
typedef int32_t(API_CALL* ApiSetConfigSettingProc)(int32_t id, const void* buffer, int32_t bufLen);
typedef int32_t(API_CALL* ApiGetRecordSettingProc)(const void* record, int32_t recordLen, int32_t id, void* value,
                                                   int32_t valueLen);
typedef int32_t(API_CALL* ApiSetRecordSettingProc)(void* record, int32_t recordLen, int32_t id, const void* value,
                                                   int32_t valueLen);

typedef int32_t(API_CALL* ApiCountProc)(void);
typedef int32_t(API_CALL* ApiNameProc)(const char* name);
typedef int32_t(API_CALL* ApiIndexProc)(int32_t index);
typedef int32_t(API_CALL* ApiTextOutProc)(void* buffer, int32_t bufLen);
typedef int32_t(API_CALL* ApiIndexTextOutProc)(int32_t index, void* buffer, int32_t bufLen);
typedef int32_t(API_CALL* ApiRecordInProc)(int32_t index, const void* record, int32_t recordLen);
typedef int32_t(API_CALL* ApiDefaultsProc)(void* record, int32_t recordLen, int32_t force);
typedef int32_t(API_CALL* ApiGetUserListProc)(const char* domain, void* buffer, int32_t bufLen);
typedef int32_t(API_CALL* ApiGetUserIndexProc)(const char* domain, const char* alias);
typedef int32_t(API_CALL* ApiLoadUserProc)(const char* domain, int32_t index, void* record, int32_t recordLen);
typedef int32_t(API_CALL* ApiSaveUserProc)(const char* domain, int32_t index, const void* record, int32_t recordLen);
typedef int32_t(API_CALL* ApiAddUserProc)(const char* domain, const void* record, int32_t recordLen);
typedef int32_t(API_CALL* ApiDeleteUserProc)(const char* domain, int32_t index);
typedef int32_t(API_CALL* ApiAuthenticateUserProc)(const char* user, const char* password, const char* ip,
                                                   int32_t* domainIndex, void* record, int32_t recordLen);
typedef int32_t(API_CALL* ApiInitUsersProc)(void** handle, const char* domain);
typedef int32_t(API_CALL* ApiNextUserProc)(void* handle, void* record, int32_t recordLen);
typedef void(API_CALL* ApiDoneUsersProc)(void* handle);
typedef int32_t(API_CALL* ApiCheckPasswordPolicyProc)(const char* password, const char* mailbox, const char* aliases);
typedef int32_t(API_CALL* ApiGetUserStatProc)(const char* from, const char* to, const char* filter,
                                              const char* fileName);
typedef int32_t(API_CALL* ApiAddDomainProc)(const char* name, const void* record, int32_t recordLen);
typedef int32_t(API_CALL* ApiRenameDomainProc)(const char* oldName, const char* newName);
typedef int32_t(API_CALL* ApiSetDomainIPProc)(int32_t index, const char* value, int32_t valueLen);
typedef int32_t(API_CALL* ApiAddRAProc)(const void* record, int32_t recordLen);
typedef int32_t(API_CALL* ApiMailboxConvertMessagesProc)(const char* path, int32_t fromImap);
/* ApiIndexTextOutProc also serves LoadDomain, GetDomainIP and LoadRA;
 * ApiRecordInProc SaveDomain and SaveRA; ApiCountProc GetDomainCount and
 * GetRACount; ApiNameProc GetUserCount, GetDomainIndex, SpamIndexNow,
 * BackupConfig and RestoreConfig; ApiIndexProc
 * DeleteDomain and DeleteRA; ApiTextOutProc GetDomainList; ApiDefaultsProc
 * SetUserDefaults and SetDomainDefaults. */
#ifdef __cplusplus
}
#endif

#endif /* MAILSERVER_API_H */
