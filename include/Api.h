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

#ifdef __cplusplus
}
#endif

#endif /* MAILSERVER_API_H */
