// The data page of one captured step: a 12013-byte file
// "<data directory><step>.<exam id>" (little-endian), optionally followed by
// a 236802-byte waveform block that only the report side reads and writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vaslab {

constexpr std::size_t STUDY_PAGE_BYTES = 12013;
constexpr std::size_t EXTENDED_WAVEFORM_BYTES = 236802;
constexpr int PAGE_SAMPLES = 2960;

// Flags byte (offset 13).
constexpr std::uint8_t kPageDeletedSide = 0x01;     // no measurement of its own
constexpr std::uint8_t kPageExtendedBlock = 0x02;   // the waveform block follows

struct __attribute__((packed)) StudyPage {
  char template_name[13];      // "00000123.sty"
  std::uint8_t flags;
  std::int16_t count;          // valid samples, 0..2960
  std::int16_t report_start;   // ring index just before the first reported sample; -1 none
  std::int16_t newest;         // ring index of the newest sample
  std::int16_t baseline;
  std::int16_t point_1;        // first measured point (other uses per module); -1 none
  std::int16_t point_2;
  std::int16_t gain;
  std::int16_t filter_code;
  std::uint16_t status;        // module status, low 13 bits
  std::int16_t probe;
  std::int16_t channel_1[PAGE_SAMPLES];
  std::int16_t channel_2[PAGE_SAMPLES];
  char short_text[5];
  char text[130];
  std::int32_t save_time;      // seconds since 1970, UTC
};
static_assert(sizeof(StudyPage) == STUDY_PAGE_BYTES);
static_assert(offsetof(StudyPage, flags) == 13);
static_assert(offsetof(StudyPage, count) == 14);
static_assert(offsetof(StudyPage, report_start) == 16);
static_assert(offsetof(StudyPage, newest) == 18);
static_assert(offsetof(StudyPage, baseline) == 20);
static_assert(offsetof(StudyPage, point_1) == 22);
static_assert(offsetof(StudyPage, point_2) == 24);
static_assert(offsetof(StudyPage, gain) == 26);
static_assert(offsetof(StudyPage, filter_code) == 28);
static_assert(offsetof(StudyPage, status) == 30);
static_assert(offsetof(StudyPage, probe) == 32);
static_assert(offsetof(StudyPage, channel_1) == 34);
static_assert(offsetof(StudyPage, channel_2) == 5954);
static_assert(offsetof(StudyPage, short_text) == 11874);
static_assert(offsetof(StudyPage, text) == 11879);
static_assert(offsetof(StudyPage, save_time) == 12009);

// "<data_directory><step>.<exam id>", the directory from the hardware settings.
std::string page_file_name(int step, int exam_id);

// The page as bytes and back.  Decoding forces a NUL into the last byte of
// the template name and of the text.
void encode_study_page(const StudyPage& p, std::uint8_t* out);
void decode_study_page(const std::uint8_t* in, StudyPage& p);

// The sample test of the reading check: count 0..2960, newest at or after the
// report start, report start below the count, and the newest index inside
// the ring and below the count whenever there are samples.
bool page_samples_valid(const StudyPage& p);

// The output a pressure page shows: its output text when set, else the cuff
// pressure stored at the newest sample (its low 9 bits), as text.
void shown_output(const StudyPage& p, char* out, std::size_t size);

// Reads and checks a page, as the modules do.  0: a valid page is in `page`
// (its flags now 0).  1: no usable page (missing, wrong size, another
// template, samples out of range).  4: the file has the right size but
// cannot be read.  On 1 whatever was read stays in `page`.  `template_base`
// is the template's 12-character name; `check_samples` is false for the notes
// pages, whose words hold no samples.
int read_study_page(int step, int exam_id, const std::string& template_base, StudyPage& page,
                    bool check_samples = true);

// Stamps the save time and writes the page whole (under a temporary name,
// renamed over the old file).  0, or 4 when it could not be written.
[[nodiscard]] int write_study_page(int step, int exam_id, StudyPage& page);

// Removes the page file.
void delete_study_page(int step, int exam_id);

}  // namespace vaslab
