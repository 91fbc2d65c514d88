/* The CAN link library over Linux SocketCAN (ovcan.so, installed beside
 * ovisp.so under the six names of the CAN hardware codes 3 to 8:
 * OvCanRs232.so, OvCanRM.so, OvCanVector.so, OvCanIxxat.so, OvCanPeak.so,
 * OvCanSystec.so).  The entries of ovisp/link_library.h:
 *
 *   Open(mode, six values)   opens a raw CAN socket on the interface named by
 *                            $OVCAN_INTERFACE (default can0).  The values are
 *                            only logged: a SocketCAN interface gets its bit
 *                            rate from "ip link set can0 type can bitrate N".
 *   Write(0, frame text)     one standard frame; a text whose length field
 *                            disagrees with its data, or longer than eight
 *                            bytes, is refused (non-zero).
 *   Read(2, message, ms)     the next data frame, waiting with poll up to the
 *                            time-out; non-zero when none came.
 *   UpdateRxFilter(0, cris)  CAN_RAW_FILTER: only the node's identifiers
 *                            cris * 16 + 0..6 are received.
 *   Close(0)                 closes the socket.
 *   ClearDtr, SetDtr, ClearRts, SetRts   no modem lines: non-zero.
 *
 * $OVCAN_LOG, when set, names a file that gets a line per open (with the
 * six values) and per failure to open. */
#ifndef OVISP_LINKS_OVCAN_H
#define OVISP_LINKS_OVCAN_H
#endif
