// A programming library with 24 of the 25 exports the updater binds: it lacks
// "ispEnterIspMode".  None of them may ever be called.
#include <cstdlib>

#define ISP_STUB(name) extern "C" __attribute__((visibility("default"))) void name() { std::abort(); }

ISP_STUB(ispInit)
ISP_STUB(ispGetLastError)
ISP_STUB(ispSelectDevice)
ISP_STUB(ispSelectCommHardware)
ISP_STUB(ispOpenRs232Port)
ISP_STUB(ispOpenUsbPort)
ISP_STUB(ispOpenCanPort)
ISP_STUB(ispSyncTarget)
ISP_STUB(ispSelectCanNode)
ISP_STUB(ispReadSpecialByte)
ISP_STUB(ispWriteSpecialByte)
ISP_STUB(ispGetLastResult)
ISP_STUB(ispEraseBlock)
ISP_STUB(ispEraseDevice)
ISP_STUB(ispBlankCheckDevice)
ISP_STUB(ispCancel)
ISP_STUB(ispFillBuffer)
ISP_STUB(ispParseHexFile)
ISP_STUB(ispReadSingleByteFromBuffer)
ISP_STUB(ispProgramDevice)
ISP_STUB(ispVerifyDevice)
ISP_STUB(ispReadAddrRange)
ISP_STUB(ispSelectMemory)
ISP_STUB(ispEnterAppliMode)
