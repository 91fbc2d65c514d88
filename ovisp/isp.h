/* The programming library's interface: 66 functions, loaded by name from
 * ovisp.so.
 *
 * Call ispInit first, then select a device and a communication hardware,
 * open the port, and run device and buffer operations; ispCancel ends the
 * session.  Functions answering unsigned char answer 1 for success and 0 for
 * failure; ispGetLastError then gives the code, whose text is the entry at
 * that index of the table from ispGetErrorVecPtr.  Text results
 * (ispGetLastResult) belong to the library and stay valid until its next
 * call.  Numbers in results are upper-case hexadecimal, except the memory
 * size, which is decimal.
 *
 * ispGetTaskPeriodicEventHandle gives an auto-reset event (a
 * platform::Event*, see platform/event.h) that is signalled each time the
 * completion percent of a running task advances; another thread may wait on
 * it and read ispGetTaskCompletionPercent.
 *
 * ispGetErrorVecPtr gives the 59 message texts as an array of C strings
 * ended by a null pointer; the library owns them for its whole life. */
#ifndef OVISP_ISP_H
#define OVISP_ISP_H

#include <stdint.h>

#ifdef __cplusplus
#define ISP_API extern "C" __attribute__((visibility("default")))
#else
#define ISP_API __attribute__((visibility("default")))
#endif

/* Library state, results and debug mode. */
ISP_API unsigned char ispInit(void);
ISP_API void ispCancel(void);
ISP_API int ispGetLastError(void);
ISP_API const char* ispGetLastResult(void);
ISP_API const char* const* ispGetErrorVecPtr(void);
ISP_API void ispSetDemoMode(void);
ISP_API void ispCancelDemoMode(void);
/* console: a FILE* for the trace, or null for standard output. */
ISP_API void ispSetDebugMode(void* console, const char* logPath);
ISP_API void ispCancelDebugMode(void);
ISP_API int ispGetTaskCompletionPercent(void);
ISP_API void ispResetTaskCompletionPercent(void);
ISP_API void* ispGetTaskPeriodicEventHandle(void);
ISP_API void ispCheckUsbDriver(unsigned char check);
ISP_API int ispGetDeviceIndex(const char* deviceName);

/* Selection. */
ISP_API unsigned char ispSelectDevice(int device);
ISP_API unsigned char ispSelectCommHardware(int hardware);
ISP_API unsigned char ispSelectMemory(int memory);
ISP_API unsigned char ispSelectCanNode(int node);
ISP_API unsigned char ispUpdateCmdsIds(int cris);

/* Port and control lines. */
ISP_API unsigned char ispOpenRs232Port(const char* port, int baud);
ISP_API unsigned char ispOpenCanPort(uint32_t a, unsigned char b, uint16_t c, unsigned char d, unsigned char e,
                                     uint32_t f);
ISP_API unsigned char ispOpenUsbPort(void);
ISP_API unsigned char ispClosePort(void);
ISP_API unsigned char ispSetDtrLow(void);
ISP_API unsigned char ispSetDtrHigh(void);
ISP_API unsigned char ispSetRtsLow(void);
ISP_API unsigned char ispSetRtsHigh(void);
ISP_API unsigned char ispSetAutoIsp(unsigned char dtrFirst, unsigned char rtsFirst);

/* Device operations. */
ISP_API unsigned char ispSyncTarget(void);
ISP_API unsigned char ispEnterIspMode(unsigned char a, int b);
ISP_API unsigned char ispEnterAppliMode(unsigned char reset, int value);
ISP_API unsigned char ispEraseDevice(void);
ISP_API unsigned char ispEraseBlock(int block);
ISP_API unsigned char ispEraseSbvBsb(void);
ISP_API unsigned char ispSetSecurityLev1(void);
ISP_API unsigned char ispSetSecurityLev2(void);
ISP_API unsigned char ispGetExpectedSsbValue(int level);
ISP_API unsigned char ispReadSpecialByte(int code);
ISP_API unsigned char ispWriteSpecialByte(int code, unsigned char value);
ISP_API unsigned char ispExecSpecialCmd(int command);
ISP_API unsigned char ispReadSignatureBytes(void);
ISP_API unsigned char ispGetDefaultByteValue(int code);
ISP_API unsigned char ispEnableFuseBit(int fuse);
ISP_API unsigned char ispDisableFuseBit(int fuse);
ISP_API unsigned char ispProgramAddrRange(unsigned int start, unsigned int end);
ISP_API unsigned char ispProgramDevice(void);
ISP_API unsigned char ispReadAddrRange(unsigned int start, unsigned int end, const char* hexPath);
ISP_API unsigned char ispReadDevice(const char* hexPath);
ISP_API unsigned char ispVerifyAddrRange(unsigned int start, unsigned int end);
ISP_API unsigned char ispVerifyDevice(void);
ISP_API unsigned char ispBlankCheckAddrRange(unsigned int start, unsigned int end);
ISP_API unsigned char ispBlankCheckDevice(void);

/* Buffer and HEX files. */
ISP_API unsigned char ispParseHexFile(const char* hexPath);
ISP_API unsigned char ispWriteHexFile(unsigned int start, unsigned int end, const char* hexPath);
ISP_API unsigned char ispFillBuffer(const char* byteText);
ISP_API unsigned char ispFillBufferAddrRange(unsigned int start, unsigned int end, const char* byteText);
ISP_API void ispResetBuffer(void);
ISP_API void ispRandomizeBuffer(void);
ISP_API void ispGetBufferAddrLo(void);
ISP_API void ispGetBufferAddrHi(void);
ISP_API void ispGetMemorySize(void);
ISP_API unsigned char ispComputeBufferChecksum(unsigned int start, unsigned int end);
ISP_API unsigned char ispComputeCrc(void);
ISP_API unsigned char ispWriteSingleByteToBuffer(unsigned int offset, const char* byteText);
ISP_API void ispReadSingleByteFromBuffer(unsigned int offset);
ISP_API unsigned char ispSerialize(int memory, unsigned int start, int64_t value, unsigned char base,
                                   const char* form);

#endif
