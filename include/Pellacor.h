/* Public interface of Pellacor.dll, the installer plug-in that reads or
 * writes one mail-server setting for its host through the administration
 * library's automation class APIObject (Api.dll registered as a COM server).
 *
 * Plain C. Both exports use the standard calling convention (the plug-in
 * removes its one argument) and are exported by name and by ordinal:
 * SetKTZConfigSetting 2, GetKTZConfigSetting 3.
 *
 * The host owns its table of named text variables and passes its address;
 * the plug-in reads and changes it in place. Entry i has its name at
 * names + i * nameSlotSize and its value at values + i * valueSlotSize, both
 * zero-terminated 8-bit texts in the system's ANSI code page; a variable's
 * name is stored with percent signs around it ("%M_ERROR%").
 *
 * Layout: in the 32-bit library every field is 4 bytes (the two block
 * addresses at offsets 24 and 28, 32 bytes in all). In the 64-bit build the
 * two addresses are pointer-sized, at offsets 24 and 32 (40 bytes in all): a
 * 64-bit host cannot store an address in 4 bytes.
 *
 * Variables:
 *   M_KTZ_SETTING  the setting's name from APIConst.inc (set by the host)
 *   M_KTZ_BUFFER   the value to write, or the value read
 *   M_ERROR        the outcome: "0" done, "2" refused, "1" failed
 * Results: 1 when the call ran to its end (whatever M_ERROR says), 0 when
 * COM could not start, APIObject could not be made or lacks IAPIObject, or
 * anything else failed (M_ERROR "1"), and 0 for a null table. */
#ifndef MAILSERVER_PELLACOR_H
#define MAILSERVER_PELLACOR_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#ifdef _WIN32
#define PELLACOR_CALL __stdcall
#else
#define PELLACOR_CALL
#endif

typedef struct PellacorHostTable {
  uint8_t unused[8];      /* not touched by the plug-in */
  uint32_t capacity;      /* entries the blocks can hold */
  uint32_t nameSlotSize;  /* bytes per name slot */
  uint32_t valueSlotSize; /* bytes per value slot */
  uint32_t count;         /* entries in use */
  char* names;            /* capacity name slots one after another */
  char* values;           /* capacity value slots one after another */
} PellacorHostTable;

/* Writes the setting M_KTZ_SETTING names to the text of M_KTZ_BUFFER. */
int32_t PELLACOR_CALL SetKTZConfigSetting(PellacorHostTable* table);
/* Reads the setting M_KTZ_SETTING names into M_KTZ_BUFFER. */
int32_t PELLACOR_CALL GetKTZConfigSetting(PellacorHostTable* table);

typedef int32_t(PELLACOR_CALL* PellacorFunction)(PellacorHostTable* table);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
#define PELLACOR_ASSERT(condition, text) static_assert(condition, text)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define PELLACOR_ASSERT(condition, text) _Static_assert(condition, text)
#endif
#ifdef PELLACOR_ASSERT
PELLACOR_ASSERT(offsetof(PellacorHostTable, capacity) == 8, "capacity at 8");
PELLACOR_ASSERT(offsetof(PellacorHostTable, nameSlotSize) == 12, "name slot size at 12");
PELLACOR_ASSERT(offsetof(PellacorHostTable, valueSlotSize) == 16, "value slot size at 16");
PELLACOR_ASSERT(offsetof(PellacorHostTable, count) == 20, "count at 20");
PELLACOR_ASSERT(offsetof(PellacorHostTable, names) == 24, "names block at 24");
#if UINTPTR_MAX == 0xFFFFFFFFu
PELLACOR_ASSERT(offsetof(PellacorHostTable, values) == 28, "values block at 28");
PELLACOR_ASSERT(sizeof(PellacorHostTable) == 32, "32 bytes");
#else
PELLACOR_ASSERT(offsetof(PellacorHostTable, values) == 32, "values block at 32 (64-bit build)");
PELLACOR_ASSERT(sizeof(PellacorHostTable) == 40, "40 bytes (64-bit build)");
#endif
#undef PELLACOR_ASSERT
#endif

#endif /* MAILSERVER_PELLACOR_H */
