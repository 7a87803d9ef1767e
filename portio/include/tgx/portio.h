/* Port access library (libportio.so): one handle-based interface to a printer
 * port, whatever kind of port its name denotes.
 *
 *   "LPT" + one digit (+ ":")   parallel port, /dev/lp<digit-1>
 *   "USB" + three digits        usblp printer whose port number matches, /dev/usb/lp<N-1>
 *   any other name              the port monitor plug-in that serves it (tgx/portmon.h)
 *
 * Every function returns 1 on success and 0 on failure with the Win32 error
 * code of the failure as the calling thread's last error (tgx::GetLastError).
 * Count outputs are set to 0 before anything else is done. Handles are numbers
 * from 1 upwards; 0 is never a valid handle. One thread uses a handle at a time.
 *
 * What the library does to its host process: the first USB or parallel write
 * with a time-out starts one helper thread (all signals blocked) that enforces
 * write time-outs, and takes one real-time signal that has no handler yet (the
 * first from SIGRTMIN + 2). The helper signals a writing thread only while it
 * is inside Vi1284_WritePort past its time-out; a thread that writes must not
 * block that signal.
 *
 * The per-port worker binds these functions by name (dlsym); the typedefs below
 * are their pointer types. */
#ifndef TGX_PORTIO_H
#define TGX_PORTIO_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t VI1284_HANDLE;

/* Access rights of Vi1284_OpenPort. */
#define VI1284_GENERIC_READ 0x80000000u
#define VI1284_GENERIC_WRITE 0x40000000u

/* Device I/O control codes every port kind answers with the printer's IEEE 1284
 * device ID: the ID text without its length prefix, followed by a NUL when the
 * output has room. VI1284_IOCTL_DEVICE_ID_9X is the code the 9x build uses. */
#define VI1284_IOCTL_PAR_QUERY_DEVICE_ID 0x0016000Cu
#define VI1284_IOCTL_DEVICE_ID_9X 17u

/* Time-outs in milliseconds, in the order and meaning of the Win32 COMMTIMEOUTS
 * record. USB defaults: 0, 0, 3000, 0, 5000. */
typedef struct VI1284_COMMTIMEOUTS {
  uint32_t ReadIntervalTimeout;
  uint32_t ReadTotalTimeoutMultiplier;
  uint32_t ReadTotalTimeoutConstant;
  uint32_t WriteTotalTimeoutMultiplier;
  uint32_t WriteTotalTimeoutConstant;
} VI1284_COMMTIMEOUTS;

/* Opens a port; stores the new handle, or 0 on failure. */
int Vi1284_OpenPort(const char* name, uint32_t access, VI1284_HANDLE* handle);
/* As Vi1284_OpenPort, but a monitor port loads monitor_library (a file name or
 * path) instead of looking its monitor up in the registry. */
int Vi1284_OpenPort2(const char* name, const char* monitor_library, uint32_t access,
                     VI1284_HANDLE* handle);
int Vi1284_ClosePort(VI1284_HANDLE handle);
int Vi1284_ReadPort(VI1284_HANDLE handle, void* buffer, uint32_t size, uint32_t* read);
int Vi1284_WritePort(VI1284_HANDLE handle, const void* buffer, uint32_t size, uint32_t* written);
int Vi1284_IoControlPort(VI1284_HANDLE handle, uint32_t code, const void* input,
                         uint32_t input_size, void* output, uint32_t output_size,
                         uint32_t* returned);
int Vi1284_SetCommTimeouts(VI1284_HANDLE handle, const VI1284_COMMTIMEOUTS* timeouts);

typedef int (*VI1284_OPENPORT_FN)(const char*, uint32_t, VI1284_HANDLE*);
typedef int (*VI1284_OPENPORT2_FN)(const char*, const char*, uint32_t, VI1284_HANDLE*);
typedef int (*VI1284_CLOSEPORT_FN)(VI1284_HANDLE);
typedef int (*VI1284_READPORT_FN)(VI1284_HANDLE, void*, uint32_t, uint32_t*);
typedef int (*VI1284_WRITEPORT_FN)(VI1284_HANDLE, const void*, uint32_t, uint32_t*);
typedef int (*VI1284_IOCONTROLPORT_FN)(VI1284_HANDLE, uint32_t, const void*, uint32_t, void*,
                                       uint32_t, uint32_t*);
typedef int (*VI1284_SETCOMMTIMEOUTS_FN)(VI1284_HANDLE, const VI1284_COMMTIMEOUTS*);

#ifdef __cplusplus
}
#endif

#endif /* TGX_PORTIO_H */
