// Archive reindexing: checks and rebuilds the archive database from the
// files of Archive Path 1.  A quick reindex verifies each record against its
// file and repairs what it can; a full reindex gives every file its
// canonical name and builds a new database from them; a compression first
// closes the gaps in the numbering and then runs the full reindex.
//
// No operation loses a stored study: files are renamed only onto names that
// do not exist, and the full reindex builds the new database beside the old
// one and puts it in place whole at the end.  Before the first file is
// renamed a marker goes down beside the database; it goes once the rebuilt
// database is in place, so that a run cut short anywhere is seen by the next
// access, which rebuilds before it trusts a record.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vaslab {

constexpr const char* kDbIndexLog = "C:\\TEMP\\dbindex.log";
// Records the new database is created with (numbers 0 to 50000).
constexpr long kNewDbRecords = 50001;

// Appends a line and CR LF to the reindex log; nothing happens when the log
// cannot be opened.
void append_dbindex_log(const char* line);

struct QuickReindexCounts {
  long verified = 0, failed_verification = 0, short_files = 0, missing_files = 0;
  long enabled = 0, disabled = 0, checksum_faults = 0, checked = 0, last = 0;
};
struct FullReindexCounts {
  long processed = 0, removed = 0, renamed = 0, rename_failed = 0, skipped = 0, entries = 0, about = 0;
};
struct CompressCounts {
  long compressed = 0, last = 0;
};

// Called between files or records with nothing to say, so that a screen
// can redraw its counters; may be empty.
using ReindexTick = std::function<void()>;

// Completes a reindex or compression that was cut short (its marker is
// there) by running the full reindex now.  True when the database may be
// used: nothing was pending, or the rebuild ended the renumbering.
bool finish_interrupted_reindex();

// The quick reindex: false when it failed (a full reindex is then needed).
bool quick_reindex(QuickReindexCounts& c, const ReindexTick& tick = {});
// The full reindex; `about` is shown as the expected number of entries.
void full_reindex(FullReindexCounts& c, long about, const ReindexTick& tick = {});
// Closes the gaps in the numbering (the full reindex is not run).
void compress_archive(CompressCounts& c, const ReindexTick& tick = {});

// The counter lines of each operation's screen at their y positions; a
// line without text is a rule to x `rule_end`.
struct ReportLine {
  int y;
  std::string text;
  int rule_end = 0;
};
std::vector<ReportLine> quick_reindex_report(const QuickReindexCounts& c);
std::vector<ReportLine> full_reindex_report(const FullReindexCounts& c);
std::vector<ReportLine> compression_report(const CompressCounts& c);

// The screens: the menu until Exit, and the final state of each operation.
void reindex_archive_db();
void draw_reindex_menu();
void draw_quick_reindex_progress(const QuickReindexCounts& c, bool finished);
void draw_full_reindex_progress(const FullReindexCounts& c, bool finished);
void draw_compression_progress(const CompressCounts& c, bool finished);

// Tests: called after each record of the quick reindex and each file of the
// full reindex (step 1) and the compression (step 2), and once the new
// database is complete but not yet in place (step 3).
void set_reindex_hook(void (*hook)(int step));

}  // namespace vaslab
