/* The interface every link library offers the programming library: nine
 * entries with C linkage, looked up by name, each answering an int.
 *
 * One entry name serves several link kinds with different argument lists, so
 * "Open", "Write", "Read", "Close" and "UpdateRxFilter" take the mode number
 * first and the rest as C variadic arguments; the library reads what the mode
 * says.  Bytes and 16-bit values travel promoted to int, 32-bit values as
 * unsigned int, texts as const char*.
 *
 *   Open(0, const char* port, int baud, int 0, int 8, int 2)       serial
 *   Open(m, unsigned a, int b, int c, int d, int e, unsigned f)    CAN, m = 0, 1, 2 or 10
 *   Open(1, unsigned productId)                                    USB
 *   Write(0, const char* frame)                                    text frame
 *   Write(1, const char* setup, const char* payload, int ms)       USB request
 *   Read(0, char* buffer, int count, int endChar, int ms)          text; buffer holds
 *                                                                  OV_LINK_TEXT_CAPACITY bytes
 *   Read(2, OvLinkCanMessage* message, int ms)                     CAN message
 *   Read(1, unsigned char* buffer, int length, const char* setup, int ms)
 *                                                                  USB: byte count or -1
 *   Close(0)
 *   UpdateRxFilter(0, int cris)
 *   ClearDtr(), SetDtr(), ClearRts(), SetRts()
 *
 * 0 is success for every entry except the USB Read (a count) and Close (not
 * examined).  USB setup and payload texts are upper-case hexadecimal, two
 * digits a byte in the order the bytes travel. */
#ifndef OVISP_LINK_LIBRARY_H
#define OVISP_LINK_LIBRARY_H

#include <stdint.h>

/* Room, terminating NUL included, of the buffer a text Read fills. */
#define OV_LINK_TEXT_CAPACITY 8192

/* Mode numbers of the first argument. */
#define OV_LINK_MODE_SERIAL 0
#define OV_LINK_MODE_USB 1
#define OV_LINK_MODE_CAN_READ 2

/* A CAN message as "Read" mode 2 fills it: identifier at byte 0, length at
 * byte 5, data from byte 6 (at most 8 bytes on CAN). */
typedef struct OvLinkCanMessage {
  uint32_t id;
  uint8_t unused;
  uint8_t length;
  uint8_t data[8];
} OvLinkCanMessage;

typedef int (*OvLinkModeEntry)(int mode, ...);
typedef int (*OvLinkLineEntry)(void);

#ifdef __cplusplus
#include <cstddef>
static_assert(offsetof(OvLinkCanMessage, id) == 0);
static_assert(offsetof(OvLinkCanMessage, length) == 5);
static_assert(offsetof(OvLinkCanMessage, data) == 6);
#endif

#endif
