// The ZIP library's entry functions and the records the host hands to them.
//
// The host starts the compressor once per process (zipInit), attaches each
// thread that uses it, hands one ZIPCMDSTRUCT per operation to zipCompress,
// then detaches and stops.  The record begins with its own size, which names
// its version: 148, 160, 188 or 220.  Those numbers were the byte sizes of the
// record with 32-bit pointers; here they are only version tags and the record
// is a native struct whose fields stand in the same order, so that a host that
// fills an older version simply leaves the later fields alone.
#pragma once

#include <cstdint>

// Callbacks.  Status: (text, percent, user data) -> non-zero asks to cancel.
using ZIPSTATUSPROC = int (*)(const char* text, int percent, void* user);
// Message display: for a fetched text (code 13, 0, id, 0, text, scratch,
// user) the host may rewrite the text in place; for a prompt (type, buttons,
// number 1, number 2, text, title, user) its result is the answer.
using ZIPMESSAGEPROC = int (*)(int code, int a, int b, int c, char* text, char* text2, void* user);
// Rename: (rename record, user data); the result is not read.
using ZIPRENAMEPROC = void (*)(void* record, void* user);
// Data callback: direction 0 asks for input, 1 hands output over.  *length is
// the room (or the count offered) on entry and the count delivered (or taken)
// on return; *status is 3 on entry: 3 go on, 0 end of input, 2 cancel.
using ZIPDATAPROC = void (*)(int direction, unsigned char* buffer, std::uint32_t* length,
                             std::uint64_t in_position, std::uint64_t out_position, void* user,
                             int* status);

struct CALLBACKSTRUCT {
  std::int32_t unused;  // never read by the library
  ZIPDATAPROC lpDataProc;
  void* lpUserData;
};

// Version tags of ZIPCMDSTRUCT.
constexpr std::int32_t kZipCmdV148 = 148;  // up to lpszEncryptCode
constexpr std::int32_t kZipCmdV160 = 160;  // + message display, multi-volume and option words
constexpr std::int32_t kZipCmdV188 = 188;  // + callback record, rename, title, memory block
constexpr std::int32_t kZipCmdV220 = 220;  // + Zip64, part sizes, second options, long rename

struct ZIPCMDSTRUCT {
  // version 148
  std::int32_t structSize;
  std::int32_t Function;
  const char* lpszZIPFile;
  const char* lpszItemList;
  ZIPSTATUSPROC lpMajorStatus;
  void* lpMajorUserData;
  ZIPSTATUSPROC lpMinorStatus;
  void* lpMinorUserData;
  std::int32_t dosifyFlag;
  std::int32_t recurseFlag;
  std::int32_t compFactor;
  std::int32_t quietFlag;
  std::int32_t pathForTempFlag;
  const char* lpszTempPath;
  std::int32_t fixFlag;
  std::int32_t fixHarderFlag;
  std::int32_t includeVolumeFlag;
  std::int32_t deleteOriginalFlag;
  std::int32_t growExistingFlag;
  std::int32_t noDirectoryNamesFlag;
  std::int32_t convertLFtoCRLFFlag;
  std::int32_t addCommentFlag;
  const char* lpszComment;
  std::int32_t afterDateFlag;
  const char* lpszDate;
  std::int32_t oldAsLatestFlag;
  std::int32_t includeOnlyFollowingFlag;
  const char* lpszIncludeFollowing;
  std::int32_t excludeFollowingFlag;
  const char* lpszExludeFollowing;
  std::int32_t noDirectoryEntriesFlag;
  std::int32_t includeSysHiddenFlag;
  std::int32_t dontCompressTheseSuffixesFlag;
  const char* lpszStoreSuffixes;
  std::int32_t diagnosticFlag;
  std::int32_t encryptFlag;
  const char* lpszEncryptCode;
  // version 160
  ZIPMESSAGEPROC lpMessageDisplay;
  void* lpMessageDisplayData;
  std::uint16_t wMultiVolControl;
  std::uint16_t wZipSubOptions;
  // version 188
  CALLBACKSTRUCT* lpCallbackStruct;
  std::int32_t lResv2;
  ZIPRENAMEPROC lpRenameProc;
  void* lpRenameUserData;
  const char* lpszExtProgTitle;
  void* lpMemBlock;
  std::uint32_t lMemBlockSize;
  // version 220
  std::int32_t LargeZIPFilesFlag;
  std::uint32_t* pulFileSizeArray;
  std::int32_t lZipSubOptions2;
  std::uint32_t lMemBlockSizeH;
  ZIPRENAMEPROC lpRenameProcEX;
  std::int32_t lResv6;
  std::int32_t lResv7;
  std::int32_t lResv8;
};

// Function codes.
constexpr std::int32_t ZIP_FRESHEN = 1;
constexpr std::int32_t ZIP_DELETE = 2;
constexpr std::int32_t ZIP_UPDATE = 3;
constexpr std::int32_t ZIP_ADD = 4;
constexpr std::int32_t ZIP_MOVE = 5;  // add, as 4
constexpr std::int32_t ZIP_MEMTOMEM = 6;
constexpr std::int32_t ZIP_CALLBACK_ADD = 7;

// Error codes returned by zipCompress (0 is success).
enum ZipError : int {
  ZE_OK = 0,
  ZE_BUSY = 1,
  ZE_EOF = 2,
  ZE_FORM = 3,
  ZE_MEM = 4,
  ZE_LOGIC = 5,
  ZE_BIG = 6,
  ZE_NOTE = 7,
  ZE_TEST = 8,
  ZE_ABORT = 9,
  ZE_TEMP = 10,
  ZE_READ = 11,
  ZE_NONE = 12,
  ZE_NAME = 13,
  ZE_WRITE = 14,
  ZE_CREAT = 15,
  ZE_PARMS = 16,
  ZE_INCOMPLETE = 17,
  ZE_OPEN = 18,
  ZE_MEDIA = 19,
  ZE_MVPARMS = 20,
  ZE_MVUSAGE = 21,
};

int zipInit(void* module);
int zipAttachThread();
int zipDetachThread();
int zipTerm();
int zipCompress(ZIPCMDSTRUCT* cmd);
