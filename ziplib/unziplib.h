// The decompressor's entry functions and the records the host hands to them.
//
// As with the compressor, the host starts the library once (unzipInit),
// attaches each thread that uses it and hands one UNZIPCMDSTRUCT per call to
// unzipCommand.  The record's first field names its version: 100, 110, 142
// or 170.  Those were its byte sizes with 32-bit pointers; here they are
// version tags of a native struct whose fields stand in the same order, and
// a host that fills an older version leaves the later fields alone.  The item
// information and rename records hold no pointers and keep their exact bytes.
#pragma once

#include "ziplib/ziplib.h"

#include <cstdint>

constexpr std::int32_t kUnzipCmdV100 = 100;  // up to lpszDecryptCode
constexpr std::int32_t kUnzipCmdV110 = 110;  // + message display and option word
constexpr std::int32_t kUnzipCmdV142 = 142;  // + callback record, rename, title, memory block
constexpr std::int32_t kUnzipCmdV170 = 170;  // + long item information, 64-bit sizes, long rename

#pragma pack(push, 1)
// Short item information (current layout).
struct ZINFO {
  std::uint16_t index;
  std::uint32_t uncompressedSize;
  std::uint32_t compressedSize;
  std::uint16_t method;
  std::uint16_t flags;
  std::uint16_t pathFlag;  // 1 when the stored name holds a folder
  std::uint32_t crc;
  char dateTime[18];  // "mm/dd/yy  hh:mm"
  char name[260];
  std::uint32_t attributes;  // external & 0x7FFF, +0x8000 encrypted, +0x10000 not 8.3
  std::uint32_t seconds;
  std::uint32_t reserved;
};
static_assert(sizeof(ZINFO) == 310);

// Short item information of 100- and 110-version records.
struct ZINFO_OLD {
  std::uint16_t index;
  std::uint32_t uncompressedSize;
  std::uint32_t compressedSize;
  std::uint16_t method;
  std::uint16_t pathFlag;
  std::uint32_t crc;
  char dateTime[18];
  char name[128];
  std::uint32_t attributes;
};
static_assert(sizeof(ZINFO_OLD) == 168);

// Long item information.
struct ZINFOEX {
  std::uint32_t reserved0;  // not written
  std::uint32_t index;
  std::uint64_t uncompressedSize;
  std::uint64_t compressedSize;
  std::uint32_t attributes;
  std::uint32_t crc;
  std::uint16_t method;
  std::uint16_t flags;
  std::uint16_t pathFlag;
  char dateTime[32];  // "mm/dd/yyyy  hh:mm:ss"
  char name[2048];
  std::uint32_t seconds;
  std::uint32_t versions;  // version made by (low half) and needed (high half)
  std::uint8_t reserved[24];
};
static_assert(sizeof(ZINFOEX) == 2150);

// Rename records: the host may change the target path and attributes.
struct UNZIPRENAME {
  std::uint32_t unused;
  char path[256];
  std::uint32_t dosDate;
  std::uint32_t dosTime;
  std::uint32_t attributes;
};
static_assert(sizeof(UNZIPRENAME) == 272);

struct UNZIPRENAMEEX {
  std::uint32_t structSize;  // 4,120
  char path[2048];
  std::uint32_t dosDate;
  std::uint32_t dosTime;
  std::uint32_t attributes;
  std::uint8_t unused[2048];
  std::uint64_t uncompressedSize;
};
static_assert(sizeof(UNZIPRENAMEEX) == 4120);
#pragma pack(pop)

struct UNZIPCMDSTRUCT {
  // version 100
  std::int32_t structSize;
  std::int32_t Function;
  const char* lpszZIPFile;
  void* zInfo;  // ZINFO, or ZINFO_OLD for versions 100 and 110
  const char* lpszFilespec;
  std::int32_t index;
  const char* lpszDestination;
  std::int32_t freshenFlag;
  std::int32_t updateFlag;
  std::int32_t overWriteFlag;
  std::int32_t quietFlag;
  std::int32_t testFlag;
  std::int32_t noDirectoryNamesFlag;
  std::int32_t recurseFlag;
  std::int32_t noDirectoryItemsFlag;
  ZIPSTATUSPROC lpMinorStatus;
  void* lpMinorUserData;
  ZIPSTATUSPROC lpMajorStatus;
  void* lpMajorUserData;
  std::int32_t returnCount;
  // Function 6 writes returnCount characters and a NUL: the buffer needs
  // returnCount + 1 bytes.
  char* lpszReturnString;
  std::int32_t diagnosticFlag;
  std::int32_t convertLFtoCRLFFlag;
  std::int32_t decryptFlag;
  const char* lpszDecryptCode;
  // version 110
  ZIPMESSAGEPROC lpMessageDisplay;
  void* lpMessageDisplayData;
  std::uint16_t wUnzipSubOptions;
  // version 142
  CALLBACKSTRUCT* lpCallbackStruct;
  std::int32_t lResv2;
  ZIPRENAMEPROC lpRenameProc;  // UNZIPRENAME
  void* lpRenameUserData;
  const char* lpszExtProgTitle;
  void* lpMemBlock;
  std::uint32_t lMemBlockSize;
  std::uint32_t lStartingOffset;
  // version 170
  ZINFOEX* pZipInfoEx;
  std::int32_t lUnZipSubOptions2;
  std::uint32_t lMemBlockSizeH;
  std::uint32_t lStartingOffsetH;
  ZIPRENAMEPROC lpRenameProcEX;  // UNZIPRENAMEEX
  std::int32_t lResv7;
  std::int32_t lResv8;
};

// Function codes.
constexpr std::int32_t UNZIP_COUNTALLITEMS = 1;
constexpr std::int32_t UNZIP_GETNEXTZINFO = 2;
constexpr std::int32_t UNZIP_COUNTNAMEDITEMS = 3;
constexpr std::int32_t UNZIP_GETNEXTNAMEDZINFO = 4;
constexpr std::int32_t UNZIP_GETCOMMENTSIZE = 5;
constexpr std::int32_t UNZIP_GETCOMMENT = 6;
constexpr std::int32_t UNZIP_GETINDEXEDZINFO = 7;
constexpr std::int32_t UNZIP_EXTRACT = 8;
constexpr std::int32_t UNZIP_FILETOMEM = 9;
constexpr std::int32_t UNZIP_MEMTOMEM = 10;
constexpr std::int32_t UNZIP_FILETOMEM_EX = 11;

// wUnzipSubOptions bits.
constexpr std::uint16_t kUnzDeleteFirst = 0x0001;
constexpr std::uint16_t kUnzMinorCancels = 0x0002;
constexpr std::uint16_t kUnzProgressProgram = 0x0004;
constexpr std::uint16_t kUnzProgressSwitchC = 0x0008;
constexpr std::uint16_t kUnzSkipNon83 = 0x0010;
constexpr std::uint16_t kUnzCut83 = 0x0020;
constexpr std::uint16_t kUnzKeepFailed = 0x0040;
constexpr std::uint16_t kUnzAllRemovable = 0x0080;
constexpr std::uint16_t kUnzItemLog = 0x0100;
constexpr std::uint16_t kUnzAnyLabel = 0x0200;
constexpr std::uint16_t kUnzNamesAsStored = 0x0800;
constexpr std::uint16_t kUnzEchoInput = 0x1000;
constexpr std::uint16_t kUnzSplit = 0x2000;
constexpr std::uint16_t kUnzNoPump = 0x4000;

int unzipInit(void* module);
int unzipAttachThread();
int unzipDetachThread();
int unzipTerm();
int unzipCommand(UNZIPCMDSTRUCT* cmd);

namespace ziplib {
// The library's own dialogs.  Defaults for a machine without them: the
// overwrite question answers No, the rename dialog gives an empty name.
using OverwriteDialogFn = int (*)(const char* text, const char* title);  // 6, 100, 101, 7 or 2
using RenameDialogFn = bool (*)(const char* original, char* path, std::size_t size);
void set_unzip_overwrite_dialog(OverwriteDialogFn fn);
void set_unzip_rename_dialog(RenameDialogFn fn);
// The label of a drive's root; by default (and after nullptr) the label of
// the diskette in A:, as platform/diskette reads it.
using VolumeLabelFn = bool (*)(char drive, char* label, std::size_t size);
void set_unzip_volume_label(VolumeLabelFn fn);
}  // namespace ziplib
