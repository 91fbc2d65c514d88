// The archive: numbered study files in up to two archive folders, a counter
// file "0" in each holding the last number given out, and the database
// "c:\programs\DB" that indexes the studies of the first folder by number so
// that a search need not open every file.
//
// An archive file is a byte copy of a study's page description.  Record n of
// the database lies at n * 86; record 0 is never used.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vaslab/records/temp_studies.h"

namespace vaslab {

constexpr const char* kArchiveDbPath = "c:\\programs\\DB";
// Lies beside the database from before a reindex or compression renames its
// first archive file until the database rebuilt from the renamed files is in
// place: while it is there the database may name other files than those
// under its numbers, and nothing may take it for the index.
constexpr const char* kReindexMarkerPath = "c:\\programs\\~REINDEX.FLG";
bool archive_reindex_pending();
constexpr std::size_t kDbRecordBytes = 86;
constexpr int kMaxArchiveNumber = 65535;

// One database record.  A deleted or never-written record is all zeros
// (which passes its checksum).
struct __attribute__((packed)) ArchiveDbRecord {
  std::uint8_t flags;  // bit 0: in use
  char name[30];
  char id[30];
  char date[22];
  std::uint8_t type;  // low 8 bits of the study's template number; 0 unknown
  std::uint16_t checksum;  // 16-bit sum of bytes 0..83
};
static_assert(sizeof(ArchiveDbRecord) == kDbRecordBytes);
static_assert(offsetof(ArchiveDbRecord, id) == 31);
static_assert(offsetof(ArchiveDbRecord, date) == 61);
static_assert(offsetof(ArchiveDbRecord, type) == 83);
static_assert(offsetof(ArchiveDbRecord, checksum) == 84);

void decode_db_record(const std::uint8_t* in, ArchiveDbRecord& s);
void encode_db_record(const ArchiveDbRecord& s, std::uint8_t* out);

// True when the record's stored checksum equals its computed one; the
// computed sum goes to `sum` when given.
bool check_db_record(const ArchiveDbRecord& record, std::uint16_t* sum = nullptr);

// The last archive number of Archive Path 1 (`path` 1) or 2 (any other):
// the counter file's number, trusted only while the file the next number
// would get does not exist; else the largest leading number of a file name
// in the folder.  Numbers above 65535 are never taken.
int last_archive_number(int path);

// Archive Path 1 (`path` 1) or 2 as a Windows folder ending in its
// separator, and that folder's file extension ("" when none is set).
std::string archive_folder_text(int path);
std::string archive_extension(int path);

// The archive file name of a number in a folder's form: "12" or "12.ZVT".
std::string archive_file_name(int path, int number);

// Results of archive_temp_study().
enum ArchiveSaveResult {
  kSaveDone = 0,
  kSaveNoSource,      // the page description cannot be read whole
  kSaveArchiveFull,   // the next number would pass 65535
  kSaveWriteFailed,   // the archive copy could not be written
  kSaveNameTaken,     // a file of the new number exists already
  kSaveCounterFailed,
  kSaveRecordFailed,
  kSaveDeleteFailed,  // archived, but the temporary study could not go
};
// Saves a temporary study ("3.PDF") into the archive and deletes it from
// the temporary store.  Each archive copy is written under a temporary name,
// flushed and then given its number without replacing anything; the
// temporary study is deleted only once every copy, counter and record is on
// disk.  Before the copy may take its number the save journals what it is
// about to do (kSaveJournal), and a save cut off is settled from that entry
// alone (settle_interrupted_save) before the next one begins.  On failure
// nothing partial is left under a number and the temporary study stays; the
// folder or file and the system error are noted as the failure's cause
// (platform/failure_cause.h).
int archive_temp_study(const char* file_name);
// The operator's text for a result.
const char* archive_save_message(int result);

// Settles the entry of a save that a kill or a failure cut off, as the next
// save does first; the start runs it before the temporary studies are
// purged.  When the copy has its number the save is finished (its record
// written when missing, its second copy made, its temporary study deleted);
// otherwise what it did is taken back and the study stays.  kSaveDone when
// nothing is pending any more, else the failure (the entry stays for the
// next try, its cause noted).
int settle_interrupted_save();

// The name an archive copy is written under before it gets its number (no
// leading digits, so no scan, count or reindex takes it for a study).  It
// is a temporary name of the file layer's, so that the next start sweeps
// the copy of a save that was killed.
constexpr const char* kSaveTemporary = "~SAVING.tmp~";
// The journal of the save under way, beside Archive Path 1's counter: no
// leading digits and no temporary name, so that neither a reindex nor the
// start's sweep takes it away.
constexpr const char* kSaveJournal = "~SAVING.JNL";

// Linux paths: gives `from` the name `to` unless `to` exists (never
// replacing a file); flushes a folder's entries.  False on failure, errno
// set.
bool rename_no_replace(const std::string& from, const std::string& to);
bool fsync_folder(const std::string& linux_folder);

// The leading decimal number of a name; -1 when it is above 65535 (it is
// then never taken as an archive number).
long leading_number(const char* p, std::size_t max);

// Tests: called with each step of a save just completed, in this order, so
// that a save can be killed between any two of them.
enum ArchiveSaveStep {
  kStepJournalled = 1,   // the journal names the study, its number and record
  kStepCopyWritten,      // the copy is whole under the temporary name
  kStepNumbered,         // it has its number
  kStepCounted,          // the counter says so
  kStepRecorded,         // the database record is written
  kStepJournalRecorded,  // the journal says so, naming the second copy's number
  kStepSecondWritten,    // the same three in Archive Path 2
  kStepSecondNumbered,
  kStepSecondCounted,
  kStepStudyDeleted,     // the temporary study is gone
  kStepDone,             // and the journal
};
void set_archive_save_hook(void (*hook)(int step));

// Removes the archive file of row `row` of an archive search result from
// Archive Path 1, then clears its record.  False when the file could not be
// removed (its record is then kept).
bool delete_archived_study(int row);

// The search patterns the archive screen edits; empty matches anything.
struct ArchivePatterns {
  char name[30];
  char id[30];
  char date[22];
};
ArchivePatterns& archive_patterns();

// The list's second column holds study captions (database search) rather
// than patient IDs (folder scan).
bool& list_has_type_column();
// The database is used for searches; cleared when one finds it missing or
// damaged.
bool& archive_db_in_use();

// Fills the study list from the database, or from search_archive_files()
// when the database is not in use.  A missing or damaged database is
// reported on the message line and in a box, and clears archive_db_in_use.
void search_archive_db();
// Fills the study list by reading the header of every numbered file of
// Archive Path 1.
void search_archive_files();

// Reads the first 114 bytes of an archive file of Archive Path 1 into
// archive_header(); 1 when it cannot be opened or read whole.
int read_archive_header(const char* file_name);
HeaderFields& archive_header();

// 1 when `text` matches `pattern`, without regard to case: "?" is any one
// character, "*" any run; a pattern without "*" matches every text that
// begins with it.
int match_wildcard(const char* text, const char* pattern);

// The caption of a study type into `out` (30 bytes): "*Unknown*" for 0,
// else the title of template "c:\studies\%08d.sty", empty when unreadable.
void study_type_caption(int type, char* out);

}  // namespace vaslab
