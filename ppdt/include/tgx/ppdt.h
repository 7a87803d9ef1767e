/* ppdtlib: the IEEE 1394 printer transport.
 *
 * Up to five ports, each served by one worker process (ppdtport) that holds
 * the printer's device open for every process using the port. A port opened
 * under the same name (without regard to case) by several handles, in any
 * processes, is one port. On an open port, one session at a time per handle:
 * job, administration or resource. Beside it, an exclusive-control facility
 * by which programs driving one printer take turns.
 *
 * Port functions return 0 on success or one of the PPDT_E_* codes. */
#ifndef TGX_PPDT_H
#define TGX_PPDT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define PPDT_EXPORT __attribute__((visibility("default")))

/* A port handle; its value is only meaningful in the process that opened it. */
typedef struct PpdtHandle* PPDT_HANDLE;
/* An exclusive-control handle (a named mutex). */
typedef void* PPDT_EXCLUSIVE_HANDLE;

enum {
  PPDT_OK = 0,
  PPDT_E_DEVICE = -1,          /* the device call failed (any other system error) */
  PPDT_E_NOT_INITIALIZED = -2, /* the library is not initialised */
  PPDT_E_INIT_FAILED = -3,     /* initialisation on demand failed (PPDT_OpenPort) */
  PPDT_E_ARGUMENT = -4,        /* missing pointer, zero size, name too long */
  PPDT_E_HANDLE = -5,          /* not a handle of this process */
  PPDT_E_NO_MEMORY = -6,
  PPDT_E_DEV_NOT_EXIST = -8, /* the device is gone (system error 55) */
  PPDT_E_NO_SESSION = -9,
  PPDT_E_SESSION = -10, /* a session is already open, or one of another kind */
  PPDT_E_NO_PORT = -13, /* all five ports are in use by other names */
  PPDT_E_WORKER_START = -14,
  PPDT_E_TIMEOUT = -16, /* the worker did not answer in time */
  PPDT_E_BUSY = -17     /* the device is busy (system error 170) */
};

/* Session kinds. */
enum {
  PPDT_SESSION_NONE = -1,
  PPDT_SESSION_JOB = 16,
  PPDT_SESSION_ADMIN = 32,
  PPDT_SESSION_RESOURCE = 48
};

/* Port names are shorter than this many characters. */
#define PPDT_PORT_NAME_LIMIT 24
/* The most one write or read carries. */
#define PPDT_MAX_TRANSFER 0x4000

/* 1 when initialised (now or before), 0 on failure. */
PPDT_EXPORT int32_t PPDT_Initialize(void);
/* 1 after releasing this process's shared objects, 0 when not initialised. */
PPDT_EXPORT int32_t PPDT_Terminate(void);

PPDT_EXPORT int32_t PPDT_OpenPort(const char* portName, PPDT_HANDLE* handle);
PPDT_EXPORT int32_t PPDT_ClosePort(PPDT_HANDLE handle);

PPDT_EXPORT int32_t PPDT_JobOpen(PPDT_HANDLE handle);
PPDT_EXPORT int32_t PPDT_JobClose(PPDT_HANDLE handle);
/* Writes at most PPDT_MAX_TRANSFER bytes; *transferred (when given) gets the
 * count the device took. */
PPDT_EXPORT int32_t PPDT_JobWrite(PPDT_HANDLE handle, const void* data, uint32_t length,
                                  uint32_t* transferred);
/* Returns once the device reports the job data delivered. */
PPDT_EXPORT int32_t PPDT_JobFlush(PPDT_HANDLE handle);
PPDT_EXPORT int32_t PPDT_JobCancel(PPDT_HANDLE handle);

PPDT_EXPORT int32_t PPDT_AdminOpen(PPDT_HANDLE handle);
PPDT_EXPORT int32_t PPDT_AdminClose(PPDT_HANDLE handle);
PPDT_EXPORT int32_t PPDT_AdminWrite(PPDT_HANDLE handle, const void* data, uint32_t length,
                                    uint32_t* transferred);
PPDT_EXPORT int32_t PPDT_AdminRead(PPDT_HANDLE handle, void* buffer, uint32_t size,
                                   uint32_t* transferred);

PPDT_EXPORT int32_t PPDT_ResOpen(PPDT_HANDLE handle);
PPDT_EXPORT int32_t PPDT_ResClose(PPDT_HANDLE handle);
PPDT_EXPORT int32_t PPDT_ResWrite(PPDT_HANDLE handle, const void* data, uint32_t length,
                                  uint32_t* transferred);
PPDT_EXPORT int32_t PPDT_ResRead(PPDT_HANDLE handle, void* buffer, uint32_t size,
                                 uint32_t* transferred);

/* The printer's device identifier, as the driver returns it; no session needed. */
PPDT_EXPORT int32_t PPDT_GetDeviceID(PPDT_HANDLE handle, void* buffer, uint32_t size,
                                     uint32_t* transferred);

/* Exclusive control: the mutex "QRS_PPDT1394_<name>_<NUMBER in hex>". */
PPDT_EXPORT PPDT_EXCLUSIVE_HANDLE PPDT_CreateExclusiveHandle(const char* name, uint32_t number);
PPDT_EXPORT int32_t PPDT_CloseExclusiveHandle(PPDT_EXCLUSIVE_HANDLE exclusiveHandle);
PPDT_EXPORT int32_t PPDT_AcquireExclusiveControlRight(PPDT_EXCLUSIVE_HANDLE exclusiveHandle);
PPDT_EXPORT int32_t PPDT_ReleaseExclusiveControlRight(PPDT_EXCLUSIVE_HANDLE exclusiveHandle);
/* 1 when the caller may go on, 0 when another process holds the right. */
PPDT_EXPORT int32_t PPDT_ConfirmContinuation(PPDT_EXCLUSIVE_HANDLE exclusiveHandle);

#ifdef __cplusplus
}
#endif

#endif /* TGX_PPDT_H */
