/* The serial link library "ovrs232" (ovrs232.so beside ovisp.so): the nine
 * link entries of ovisp/link_library.h over a termios serial port.
 *
 *   Open(0, port, baud, parity, data bits, stop code)
 *       port: "COMn" or "comn:" (the device $VASLAB_COM<n>, else
 *       /dev/ttyS<n-1>) or a device path.  Parity 0 none, 1 odd, 2 even;
 *       stop code 0 one stop bit, 2 two.  The line is raw: every byte
 *       crosses unchanged.  Non-zero when the port cannot be opened or set.
 *   Write(0, text)
 *       Sends the text as given, adding no line end.  Whatever was received
 *       and not read before is dropped first, so that the answer read next
 *       belongs to this text.
 *   Read(0, buffer, count, end character, time-out ms)
 *       Fills the buffer (OV_LINK_TEXT_CAPACITY bytes, NUL included) with
 *       what arrives and returns:
 *         - at `count` characters (count > 0),
 *         - at the end character, which is kept in the text,
 *         - for a counted read, after OVRS232_QUIET_GAP_MS without a
 *           character once characters have come (a display whose lines are
 *           shorter than the count allows ends there; a one-line command
 *           waits for its end character, since its answer follows the echo
 *           only once the target has carried it out),
 *         - at the time-out.
 *       0 with the text when anything came; "" and non-zero when nothing
 *       came; "error" and non-zero when the port failed.
 *   Close(0)
 *   ClearDtr, SetDtr, ClearRts, SetRts: TIOCMBIC / TIOCMBIS; a
 *       pseudo-terminal has no modem lines and answers 0 without effect.
 *   UpdateRxFilter: not a CAN link; non-zero. */
#ifndef OVISP_LINKS_OVRS232_H
#define OVISP_LINKS_OVRS232_H

#define OVRS232_QUIET_GAP_MS 200

#endif
