// The report page file: a 4869-byte header (magic 0xFE 0x01), then the text
// items, the text pool, the graphic items and a chain of blocks (line items,
// an optional spectral waveform block).  Coordinates are pixels of a 2400 by
// 3150 page, y downwards.  All integers little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vaslab {

constexpr std::size_t kPageHeaderBytes = 4869;
constexpr int kPageWidth = 2400;
constexpr int kPageHeight = 3150;
constexpr int kPageTraces = 12;
constexpr int kPagePressures = 26;
constexpr int kTraceLabelPoolBytes = 800;
constexpr int kTraceSampleCount = 2960;
constexpr int kSpectrumBins = 78;
constexpr std::uint8_t kPageMagic0 = 0xFE;
constexpr std::uint8_t kPageMagic1 = 0x01;

// Results of reading.
constexpr int kPageOk = 0;
constexpr int kPageTooShort = 3;
constexpr int kPageBadFormat = 104;

// Block link types.
constexpr std::uint8_t kLinkEnd = 0;
constexpr std::uint8_t kLinkLines = 1;
constexpr std::uint8_t kLinkWaveform = 2;

struct __attribute__((packed)) PageTraceEntry {
  std::int16_t x, y;          // x and y both 0: empty
  std::int16_t start;         // first sample, a multiple of 8, at most 2952
  std::int16_t count;         // samples, at least 2
  std::uint8_t level;         // 0..255, valid with flag bit 2
  std::uint8_t flags;         // bit 2 level; 3 no pattern; 4 spectrum; 5 grey; 6 envelopes; 7 curve
  std::int16_t first_point;   // relative to start, or -1
  std::int16_t second_point;
  std::int16_t label_1;       // offsets in the trace label pool
  std::int16_t label_2;
};
static_assert(sizeof(PageTraceEntry) == 18);
static_assert(offsetof(PageTraceEntry, level) == 8);
static_assert(offsetof(PageTraceEntry, label_2) == 16);

struct __attribute__((packed)) PagePressureValue {
  std::int16_t x, y;
  std::uint8_t flags;         // bit 0 framed, bit 1 left-aligned, bit 2 hidden
  char text[5];
};
static_assert(sizeof(PagePressureValue) == 10);
static_assert(offsetof(PagePressureValue, text) == 5);

struct __attribute__((packed)) PageTextItem {
  std::int16_t x, y;
  std::uint8_t attribute;     // bits 0-1 size, 2-4 colour, 5 bold, 6 underlined
  std::int16_t text;          // offset in the text pool
};
static_assert(sizeof(PageTextItem) == 7);
static_assert(offsetof(PageTextItem, text) == 5);

struct __attribute__((packed)) PageGraphicItem {
  std::int16_t x, y;
  std::uint8_t reserved[4];
  char picture[13];           // 8.3 name of the picture file
  std::uint8_t mirror;        // 0 normal, 1 copied mirrored gap pixels left, 2 mirrored
  std::int16_t gap;
  std::int16_t width, height;
  std::int16_t source_x, source_rows;
  std::int16_t draw_width, draw_height;
};
static_assert(sizeof(PageGraphicItem) == 36);
static_assert(offsetof(PageGraphicItem, picture) == 8);
static_assert(offsetof(PageGraphicItem, mirror) == 21);
static_assert(offsetof(PageGraphicItem, draw_height) == 34);

struct __attribute__((packed)) PageBlockLink {
  std::uint8_t type;
  std::uint8_t reserved;
  std::int16_t count;
  std::int32_t next;          // file offset of the next link
};
static_assert(sizeof(PageBlockLink) == 8);

struct __attribute__((packed)) PageLineItem {
  std::int16_t x1, y1, x2, y2;
  std::int16_t clip_left, clip_top, clip_right, clip_bottom;
  std::uint8_t style;         // bits 0-3 colour, 4-6 width 1..5
  std::uint8_t symbols;       // high nibble first end, low nibble second end
};
static_assert(sizeof(PageLineItem) == 18);
static_assert(offsetof(PageLineItem, style) == 16);

struct PageWaveformBlock {
  std::uint8_t upper[kTraceSampleCount];
  std::uint8_t lower[kTraceSampleCount];
  std::uint8_t spectra[kTraceSampleCount][kSpectrumBins];
};
constexpr std::size_t kPageWaveformBytes = 236800;
static_assert(sizeof(PageWaveformBlock) == kPageWaveformBytes);

struct __attribute__((packed)) PageDescriptionHeader {
  std::uint8_t magic[2];
  char title[30];
  char patient_name[30];
  char patient_id[30];
  char exam_date[22];
  char left_line_4[41];
  char right_line_2[30];
  char right_line_3[30];
  char right_line_4[30];
  PageTraceEntry traces[kPageTraces];
  char trace_labels[kTraceLabelPoolBytes];
  std::uint8_t samples[kTraceSampleCount];
  std::uint8_t sample_flags[kTraceSampleCount / 8];  // MSB first
  PagePressureValue pressures[kPagePressures];
  std::int32_t text_offset;
  std::int16_t text_count;
  std::int32_t graphic_offset;
  std::int16_t graphic_count;
  std::int32_t first_link;
  std::uint16_t end_word;
};
static_assert(sizeof(PageDescriptionHeader) == kPageHeaderBytes);
static_assert(offsetof(PageDescriptionHeader, title) == 2);
static_assert(offsetof(PageDescriptionHeader, patient_name) == 32);
static_assert(offsetof(PageDescriptionHeader, patient_id) == 62);
static_assert(offsetof(PageDescriptionHeader, exam_date) == 92);
static_assert(offsetof(PageDescriptionHeader, left_line_4) == 114);
static_assert(offsetof(PageDescriptionHeader, right_line_2) == 155);
static_assert(offsetof(PageDescriptionHeader, right_line_3) == 185);
static_assert(offsetof(PageDescriptionHeader, right_line_4) == 215);
static_assert(offsetof(PageDescriptionHeader, traces) == 245);
static_assert(offsetof(PageDescriptionHeader, trace_labels) == 461);
static_assert(offsetof(PageDescriptionHeader, samples) == 1261);
static_assert(offsetof(PageDescriptionHeader, sample_flags) == 4221);
static_assert(offsetof(PageDescriptionHeader, pressures) == 4591);
static_assert(offsetof(PageDescriptionHeader, text_offset) == 4851);
static_assert(offsetof(PageDescriptionHeader, text_count) == 4855);
static_assert(offsetof(PageDescriptionHeader, graphic_offset) == 4857);
static_assert(offsetof(PageDescriptionHeader, graphic_count) == 4861);
static_assert(offsetof(PageDescriptionHeader, first_link) == 4863);
static_assert(offsetof(PageDescriptionHeader, end_word) == 4867);

// A whole page in memory.  The header's offsets and counts describe the file
// it came from; writing recomputes them.
struct PageDescription {
  PageDescriptionHeader header{};
  std::vector<PageTextItem> text_items;
  std::vector<char> text_pool;
  std::vector<PageGraphicItem> graphic_items;
  std::vector<PageLineItem> lines;
  std::unique_ptr<PageWaveformBlock> waveform;  // null: no waveform block
};

// The header alone, as bytes and back, without any normalising (for the
// readers that only copy or compare the first 4869 bytes).
void encode_page_header(const PageDescriptionHeader& h, std::uint8_t* out);
void decode_page_header(const std::uint8_t* in, PageDescriptionHeader& h);

// Reads a whole file held in memory and normalises it for drawing:
// out-of-range coordinates are replaced, texts cleaned (bytes 8..31 become
// blanks, every text ends inside its field), line items clipped and ordered,
// spectral traces scaled.  kPageOk, kPageTooShort (under 4869 bytes) or
// kPageBadFormat (wrong magic, a bad trace start, a text item outside its
// pool, counts or offsets that are negative or run past the data, a block
// chain that does not move forward).
int read_page_description(const std::uint8_t* data, std::size_t size, PageDescription& out);

// Lays the page out back to back (header, text items, pool, graphic items,
// waveform link and block when present, line link and items when any, end
// link) with the header's offsets and counts set to match.
std::vector<std::uint8_t> build_page_description(const PageDescription& d);

// Writes build_page_description() as a file, whole or not at all.  0, or a
// negative value on failure (the old file is then untouched).
[[nodiscard]] int save_page_description(const std::string& win_path, const PageDescription& d);

// One line item made drawable: clip rectangle inside 11..2388 x 216..3138
// and in order, symbols of ends outside it dropped, coordinates on the page,
// width 1..5, symbols 0..9, ends ordered top to bottom (then left to right).
void normalise_line_item(PageLineItem& l);

// A trace label: the text at `offset` in the label pool; empty when the
// offset lies outside the pool.
std::string_view trace_label(const PageDescriptionHeader& h, int offset);
// A text item's string in the text pool; empty when outside it.
std::string_view pool_text(const PageDescription& d, int offset);

// The flag bit of trace sample i (0..2959).
bool sample_flag(const PageDescriptionHeader& h, int i);
void set_sample_flag(PageDescriptionHeader& h, int i, bool on);

// File colour index 0..7 to page colour (7 is the white background).
int page_colour(int index);

}  // namespace vaslab
