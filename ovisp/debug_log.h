// The debug trace: every export call and every link frame, written to a
// console and to a log file while debug mode is on.  The on/off flag lives in
// the manager; this module holds the console and the open file.
#pragma once

#include <cstdint>
#include <string>

namespace ovisp {

// Starts the log: stores the console (a FILE*; null means standard output),
// prints "Debug Mode ON" to standard output and opens the file at `path`,
// truncating it.  A non-null console gets the "Running Plyx on <date>" line
// first.  False when the file could not be opened (debug mode stays off).
bool startDebugLog(void* console, const std::string& path);

// Closes the log file (writing after this reaches the console only).
void closeDebugLogFile();

// Writes one trace text to the console (or standard output) and the file.
void writeLog(const std::string& text);

// Traces of the frames exchanged with the link library, written only while
// debug mode is on.  Sent frames are traced before sending, received ones
// only after a successful read.
void traceTextSent(const std::string& frame);
void traceTextReceived(const std::string& text);
void traceCanReceived(std::uint32_t id, std::uint8_t length, const std::uint8_t* data);
void traceUsbSent(const std::string& request, const std::string& payload);
// `count` is the read's result: the byte count, or -1 (no bytes shown).
void traceUsbReply(const std::string& request, const std::uint8_t* bytes, int count);

}  // namespace ovisp
