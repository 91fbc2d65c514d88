// The study menu: the tree of submenus and study templates that the outside
// configuration program stores in "c:\studies\uconfig.mnu", and the screen
// that walks it five rows at a time and returns the chosen template number.
//
// The file holds n 44-byte entries followed by the same n entries again;
// entry 0 is the root submenu.  Every entry carries the 16-bit sum of its
// first 42 bytes, each taken as a signed byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vaslab {

extern const char kStudyMenuFile[];

constexpr std::size_t kStudyMenuEntrySize = 44;
// The in-memory table; a file of this many entries or more is refused.
constexpr int kStudyMenuTableSize = 255;
// The study menu's EXIT (tests).
constexpr int kStudyMenuExit = 208;

constexpr std::uint8_t kMenuKindSubmenu = 0;
constexpr std::uint8_t kMenuKindStudy = 1;

struct StudyMenuEntry {
  std::uint8_t kind = 0;         // kMenuKindSubmenu or kMenuKindStudy
  char label[29] = {};
  std::int16_t child_count = 0;  // a submenu's entries: consecutive from first_child
  std::int16_t first_child = 0;
  char template_name[8] = {};    // 8 decimal digits, no NUL
  std::uint16_t checksum = 0;    // on file the checksum; in memory the visit count
};
static_assert(sizeof(StudyMenuEntry) == kStudyMenuEntrySize);
static_assert(offsetof(StudyMenuEntry, child_count) == 30);
static_assert(offsetof(StudyMenuEntry, first_child) == 32);
static_assert(offsetof(StudyMenuEntry, template_name) == 34);
static_assert(offsetof(StudyMenuEntry, checksum) == 42);

// The checksum of an entry's bytes 0..41.
std::uint16_t study_menu_checksum(const std::uint8_t* entry44);
void decode_study_menu_entry(const std::uint8_t* in44, StudyMenuEntry& e);
// Writes the entry with its checksum computed afresh.
void encode_study_menu_entry(const StudyMenuEntry& e, std::uint8_t* out44);
// The whole file image: the entries twice.
std::vector<std::uint8_t> encode_study_menu_file(const std::vector<StudyMenuEntry>& entries);
// A ready entry (label cut to 28 characters, name as 8 digits).
StudyMenuEntry make_submenu_entry(const char* label, int first_child, int child_count);
StudyMenuEntry make_study_entry(const char* label, int template_number);

// The template number of an entry's name: -1 unless all eight are digits.
int study_menu_template_number(const StudyMenuEntry& e);

// Checks a file image and decodes it into `table` (kStudyMenuTableSize
// entries, zeroed first): nullptr when sound, else the fault's text.  Both
// copies must agree, every checksum hold, and the walk from the root, which
// must be a submenu, reach every entry exactly once.
const char* check_study_menu_image(const std::vector<std::uint8_t>& bytes, std::vector<StudyMenuEntry>& table,
                                   int* entry_count);

// Reads and checks the file into `table` (kStudyMenuTableSize entries,
// zeroed first): 0 when valid, 1 when refused.  A root that is not a
// submenu is refused too: its child fields would index outside the table.
int load_study_menu_file(std::vector<StudyMenuEntry>& table, int* entry_count = nullptr);

// The row text of an entry: the label left-aligned in 29 characters, then
// ">" for a submenu or a blank for a study, so that the marks of the rows
// line up in the fixed-pitch face.
std::string study_menu_row_text(const StudyMenuEntry& e);

// The screen: the chosen template number, or -1 when the operator left or
// the file was refused.
int run_study_menu();

}  // namespace vaslab
