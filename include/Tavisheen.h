/* Public interface of Tavisheen.dll, which grants a Windows account the right
 * to log on as a service on the local machine.
 *
 * Plain C. The one export uses the C calling convention (the caller removes
 * the arguments) and is exported by name, and by ordinal 1.
 */
#ifndef MAILSERVER_TAVISHEEN_H
#define MAILSERVER_TAVISHEEN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#ifdef _WIN32
#define TAVISHEEN_CALL __cdecl
#else
#define TAVISHEEN_CALL
#endif

/* The caller's message buffer must hold this many bytes. */
#define TAVISHEEN_MESSAGE_SIZE 256

/* Results:
 *   0  granted, or the account already held the right; message empty
 *   1  advapi32 or one of its entry points is missing; message empty
 *   1  no SID for the account (unknown, empty or a domain name);
 *      message "<code> = Could not retrieve a security identifier (SID)"
 *   2  an LSA call failed; message "[Halvercot] [Qrn Library] <code> - <text>",
 *      or with -1 and "Unknown Exception" for any other failure
 * A null message is allowed and receives nothing. */
int32_t TAVISHEEN_CALL AddLogonAsService(const char* account, char* message);

typedef int32_t(TAVISHEEN_CALL* AddLogonAsServiceFunction)(const char* account, char* message);

#ifdef __cplusplus
}
#endif

#endif /* MAILSERVER_TAVISHEEN_H */
