// The archive side of the compressor: the in-memory entry list and the
// records written for it, loading an existing archive, the selection of the
// files an operation takes, the compression of one entry, and the operation
// driver that puts a new archive in the place of the old one.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace platform {
struct FoundFile;
}

namespace ziplib {

struct ZipState;

// What an old entry brought from its archive besides its headers: the
// extra fields (without their Zip64 blocks) and the comment.  Few entries
// have any, so an entry holds them apart and only when it has them.
struct ZipEntryExtras {
  std::vector<std::uint8_t> local_extra;
  std::vector<std::uint8_t> central_extra;
  std::vector<std::uint8_t> comment;
};
class ExtrasBox {
 public:
  ExtrasBox() = default;
  ExtrasBox(const ExtrasBox& o) : p_(o.p_ ? std::make_unique<ZipEntryExtras>(*o.p_) : nullptr) {}
  ExtrasBox& operator=(const ExtrasBox& o) {
    p_ = o.p_ ? std::make_unique<ZipEntryExtras>(*o.p_) : nullptr;
    return *this;
  }
  ExtrasBox(ExtrasBox&&) noexcept = default;
  ExtrasBox& operator=(ExtrasBox&&) noexcept = default;
  const ZipEntryExtras& get() const {
    static const ZipEntryExtras none;
    return p_ ? *p_ : none;
  }
  ZipEntryExtras& set() {
    if (!p_) p_ = std::make_unique<ZipEntryExtras>();
    return *p_;
  }

 private:
  std::unique_ptr<ZipEntryExtras> p_;
};

// One archive entry, old or new.  An archive of many small files holds
// tens of thousands of them: the fields stand widest first, without gaps.
struct ZipEntry {
  std::uint64_t csize = 0;   // with the 12-byte encryption header
  std::uint64_t usize = 0;
  std::uint64_t offset = 0;  // of the local header on its disk
  // Old entries: bytes of the local header on disk and of the data
  // descriptor after the data (0, 12, 16 or 24).
  std::uint64_t local_len = 0;
  std::uint32_t descriptor_len = 0;
  std::uint32_t time = 0;  // DOS date (high half) and time (low half)
  std::uint32_t crc = 0;
  std::uint32_t disk = 0;
  std::uint32_t external_attr = 0;
  std::uint32_t zip64_local_len = 0;
  std::uint32_t zip64_central_len = 0;
  std::uint16_t made_by = 0;
  std::uint16_t needed = 0;
  std::uint16_t flags = 0;        // as they go into the central header
  std::uint16_t local_flags = 0;  // as they go into the local header
  std::uint16_t method = 0;
  std::uint16_t internal_attr = 0;
  bool selected = false;
  bool updated = false;
  bool is_new = false;         // found new in this operation (rename callback)
  bool local_zip64 = false;    // the local header carries a Zip64 block
  bool zip64_decided = false;  // taken at the first write of the local header
  std::string name;      // stored name, as the file system spells it (UTF-8)
  std::string raw_name;  // stored name as the archive holds it
  std::string disk_name; // source file (Windows path); empty for none
  // The spelling of the found file that matched this entry; it becomes the
  // stored name only when the entry is compressed anew.
  std::string found_name;
  ExtrasBox extras;
};

// A file, folder or label found for the item list.
struct FoundNode {
  std::string disk_name;  // Windows path; empty for the memory entry
  std::string name;       // stored name
  std::uint32_t time = 0; // DOS date and time
  std::uint32_t attributes = 0;
  std::uint64_t size = 0;  // or one of the size codes below
};

// Size codes of the file facts: (high half << 32) | low half.
constexpr std::uint64_t kSizeDirectory = 0xFFFFFFFFFFFFFFFDull;  // -3 / -1
constexpr std::uint64_t kSizeLabel = 0xFFFFFFFFFFFFFFFEull;      // -2 / -1
constexpr std::uint64_t kSizeUnknown = 0x0000000FFFFFFFFFull;    // all ones / 15
constexpr std::uint64_t kSizeUnknownLarge = 0x7FFFFFFFFFFFFFFFull;

struct Pattern {
  std::string name;  // stored-name form
  char kind;         // 'i' include, 'x' exclude
};

struct ArchiveWork {
  // The loaded archive; kept between calls while the file is unchanged.
  std::string loaded_path;
  std::int64_t loaded_mtime = 0;
  long loaded_nsec = 0;
  std::uint64_t loaded_size = 0;
  bool loaded = false;
  std::deque<ZipEntry> entries;
  // By stored name, ignoring case; made at the first lookup after the list
  // changed, since most operations never look a name up.
  std::vector<ZipEntry*> index;
  bool index_made = false;
  std::vector<std::uint8_t> comment;
  std::uint64_t cd_offset = 0;
  std::uint64_t cd_size = 0;
  std::uint64_t preamble = 0;
  std::uint64_t old_count = 0;  // entries read from the archive

  // Multi-volume bookkeeping of the central directory.
  std::uint32_t cd_start_disk = 0xFFFF;
  std::uint64_t cd_start_offset = 0;  // of the first central header on its disk
  std::uint32_t cd_on_disk = 0;
  std::uint32_t last_cd_disk = 0xFFFFFFFF;

  // The running operation.
  std::vector<Pattern> patterns;
  int include_count = 0;
  // In chunks: a growing array would copy every node it holds at each
  // doubling into pages never touched before.
  std::deque<FoundNode> found;
  // The folder of the last source file compressed, as written and mapped
  // (ending in '/'): the files found in one folder follow each other.
  std::string source_folder, source_folder_mapped;
  std::string base_dir;  // of the current item (relative names)
  bool label_done = false;
  bool have_memory_entry = false;
  FoundNode memory_node;
  ZipEntry* memory_entry = nullptr;  // the entry that takes memory input
  std::uint32_t cutoff = 0;          // DOS date and time; 0 for none
  int repair = 0;
  std::string pw_buffer;  // the password padded with zeros to its buffer length
  std::uint64_t out_pos = 0;
  int items_total = 0;
  bool growing = false;
  bool stream_input = false;  // Function 7
  bool level9 = false;
  bool comment_set = false;
};

// The thread's archive work area, made on first use (nullptr: no memory).
ArchiveWork* zip_archive(ZipState& s);

// --- time and names -------------------------------------------------------
// The drive of the current directory, 1 for A: (C: when it names none).
int zip_current_drive();
std::uint32_t zip_dos_time(std::int64_t unix_seconds);  // local time
std::int64_t zip_unix_time(std::uint32_t dos);
// Stored name to archive bytes: code page 437, or 1252 with wZipSubOptions
// bit 11.  False when a character has no place there.
bool zip_name_to_archive(const ZipState& s, const std::string& name, std::string* raw);
std::string zip_name_from_archive(const ZipState& s, const std::string& raw, std::uint16_t flags);
// The same without a compressor state, for the decompressor: a name flagged
// as UTF-8 (flag bit 11) is kept, and so is one the code page cannot read.
std::string zip_name_to_utf8(const std::string& raw, bool cp1252, std::uint16_t flags);
// The case folding that names are compared by: ASCII letters folded, other
// bytes kept (no table to build, so it holds before zipInit as well).
unsigned char zip_lower(unsigned char c);
unsigned char zip_upper(unsigned char c);

// --- records (every record goes out whole through the volume layer) -------
int zip_write_local_header(ZipState& s, ZipEntry& e);
// The local header's bytes, as zip_write_local_header() writes them.
std::vector<std::uint8_t> zip_local_header_bytes(ZipState& s, ZipEntry& e);
int zip_write_descriptor(ZipState& s, ZipEntry& e);
// The mark at the start of a multi-volume set.
int zip_write_span_signature(ZipState& s);
int zip_write_central_header(ZipState& s, ZipEntry& e);
// The central header of an entry as bytes (the password block included).
std::vector<std::uint8_t> zip_central_header_bytes(ZipState& s, ZipEntry& e);
int zip_write_end_records(ZipState& s, std::uint64_t total, std::uint64_t cd_size, std::uint64_t cd_offset);
// Bytes out through the volume layer in one piece: 0, 9, 10 or 19.
int zip_write_record(ZipState& s, const std::uint8_t* data, std::size_t size, std::uint64_t extra_room = 0);
// Finds the Zip64 block (tag 1) and takes each escaped value from it; with
// `remove` cuts it out of `extra`.  True when a block was found.
bool zip_read_zip64_extra(std::vector<std::uint8_t>& extra, std::uint64_t* usize, std::uint64_t* csize,
                          std::uint64_t* offset, std::uint32_t* disk, std::uint32_t* block_len, bool remove);
// The quick check of an existing archive: 0 (also for a missing file), 8,
// 11, 13, 18 or 21.
int zip_find_end_record(ZipState& s, const std::string& win_path);
// Loads the archive named by s.zip_path into the entry list.
int zip_read_archive(ZipState& s);
// The entry of a stored name (ignoring case), or nullptr.
ZipEntry* zip_lookup(ArchiveWork& a, const std::string& name);
// The entry list changed: the lookup's index is made again when next used.
void zip_entries_changed(ArchiveWork& a);

// --- the password block ----------------------------------------------------
// The block (tag 0x007F, length, data) for an entry; empty without a password.
std::vector<std::uint8_t> zip_password_block(const std::string& pw_buffer, std::uint32_t dos_time,
                                             std::uint64_t usize, std::uint64_t csize);

// --- selection -------------------------------------------------------------
bool zip_match(const ZipState& s, const std::string& pattern, const std::string& name);
int zip_build_patterns(ZipState& s);
bool zip_pattern_take(const ZipState& s, const std::string& name);
// Stored name of a path; empty when nothing is left.
std::string zip_stored_name(const ZipState& s, const std::string& path);
int zip_collect_files(ZipState& s, const std::string& item);
int zip_collect_memory(ZipState& s, const std::string& name);
// 0, 9, or -1 when nothing matched.
int zip_select_delete(ZipState& s, const std::string& item);
int zip_sort_found(ZipState& s);
// The DOS time, attributes and size of a path (size codes for folders,
// labels and missing input); false when it does not exist.
bool zip_file_facts(ZipState& s, const std::string& path, std::uint32_t* time, std::uint32_t* attrs,
                    std::uint64_t* size);
// The same facts from those the platform gives (an opened file's).
void zip_facts_of(const platform::FoundFile& f, std::uint32_t* time, std::uint32_t* attrs, std::uint64_t* size);
// Calls the rename callback for an entry about to be added; true when called.
bool zip_call_rename(ZipState& s, std::string* name, std::uint32_t* time, std::uint32_t* attrs,
                     const std::string& disk_name, std::uint64_t size, bool whole_name);

// --- one entry -------------------------------------------------------------
// Compresses a new or replaced entry from its source into the output.
int zip_compress_entry(ZipState& s, ZipEntry& e);
bool zip_store_suffix(const std::string& name, const std::string& list);
// Memory-to-memory compression (Function 6): one entry, no archive.
int zip_run_memory(ZipState& s);
// The password of the command and its padded buffer for the entries' password
// blocks: 0, or ZE_PARMS for a missing or over-long one.
int zip_password_buffer(ZipState& s);
// Wipes the password and its buffer when the operation ends.
struct PasswordScope {
  ZipState& s;
  ~PasswordScope();
};

// --- the operation ---------------------------------------------------------
// The operation calls down into the entry's functions above; they never call
// it.
int zip_run_operation(ZipState& s);
// Deletes the sources of the entries the operation took, then their emptied
// folders, deepest first: 0 or 4.
int zip_delete_originals(ZipState& s);

}  // namespace ziplib
