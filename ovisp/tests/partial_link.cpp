// A link library that lacks one of the nine entries ("SetRts").
#define LINK_API extern "C" __attribute__((visibility("default")))

LINK_API int Open(int, ...) { return 0; }
LINK_API int Write(int, ...) { return 0; }
LINK_API int Read(int, ...) { return 0; }
LINK_API int Close(int, ...) { return 0; }
LINK_API int UpdateRxFilter(int, ...) { return 0; }
LINK_API int ClearDtr(void) { return 0; }
LINK_API int SetDtr(void) { return 0; }
LINK_API int ClearRts(void) { return 0; }
