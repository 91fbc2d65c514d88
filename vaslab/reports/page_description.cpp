#include "vaslab/reports/page_description.h"

#include <algorithm>
#include <cstring>

#include "platform/file_io.h"
#include "platform/le_bytes.h"
#include "platform/paths.h"

namespace vaslab {

#define TRACE_FIELDS(F, B)                                                                \
  F(PageTraceEntry, x); F(PageTraceEntry, y); F(PageTraceEntry, start);                  \
  F(PageTraceEntry, count); F(PageTraceEntry, level); F(PageTraceEntry, flags);          \
  F(PageTraceEntry, first_point); F(PageTraceEntry, second_point);                       \
  F(PageTraceEntry, label_1); F(PageTraceEntry, label_2)
#define PRESSURE_FIELDS(F, B) \
  F(PagePressureValue, x); F(PagePressureValue, y); F(PagePressureValue, flags); B(PagePressureValue, text)
#define TEXT_ITEM_FIELDS(F, B) \
  F(PageTextItem, x); F(PageTextItem, y); F(PageTextItem, attribute); F(PageTextItem, text)
#define GRAPHIC_FIELDS(F, B)                                                              \
  F(PageGraphicItem, x); F(PageGraphicItem, y); B(PageGraphicItem, reserved);            \
  B(PageGraphicItem, picture); F(PageGraphicItem, mirror); F(PageGraphicItem, gap);      \
  F(PageGraphicItem, width); F(PageGraphicItem, height); F(PageGraphicItem, source_x);   \
  F(PageGraphicItem, source_rows); F(PageGraphicItem, draw_width);                       \
  F(PageGraphicItem, draw_height)
#define LINK_FIELDS(F, B) \
  F(PageBlockLink, type); F(PageBlockLink, reserved); F(PageBlockLink, count); F(PageBlockLink, next)
#define LINE_FIELDS(F, B)                                                                 \
  F(PageLineItem, x1); F(PageLineItem, y1); F(PageLineItem, x2); F(PageLineItem, y2);    \
  F(PageLineItem, clip_left); F(PageLineItem, clip_top); F(PageLineItem, clip_right);    \
  F(PageLineItem, clip_bottom); F(PageLineItem, style); F(PageLineItem, symbols)
#define HEADER_FIELDS(F, B)                                                                 \
  B(PageDescriptionHeader, magic); B(PageDescriptionHeader, title);                        \
  B(PageDescriptionHeader, patient_name); B(PageDescriptionHeader, patient_id);            \
  B(PageDescriptionHeader, exam_date); B(PageDescriptionHeader, left_line_4);              \
  B(PageDescriptionHeader, right_line_2); B(PageDescriptionHeader, right_line_3);          \
  B(PageDescriptionHeader, right_line_4); B(PageDescriptionHeader, trace_labels);          \
  B(PageDescriptionHeader, samples); B(PageDescriptionHeader, sample_flags);               \
  F(PageDescriptionHeader, text_offset); F(PageDescriptionHeader, text_count);             \
  F(PageDescriptionHeader, graphic_offset); F(PageDescriptionHeader, graphic_count);       \
  F(PageDescriptionHeader, first_link); F(PageDescriptionHeader, end_word)

namespace {

void decode(const std::uint8_t* in, PageTraceEntry& s) { TRACE_FIELDS(LE_LOAD_FIELD, LE_LOAD_BYTES); }
void encode(const PageTraceEntry& s, std::uint8_t* out) { TRACE_FIELDS(LE_STORE_FIELD, LE_STORE_BYTES); }
void decode(const std::uint8_t* in, PagePressureValue& s) { PRESSURE_FIELDS(LE_LOAD_FIELD, LE_LOAD_BYTES); }
void encode(const PagePressureValue& s, std::uint8_t* out) { PRESSURE_FIELDS(LE_STORE_FIELD, LE_STORE_BYTES); }
void decode(const std::uint8_t* in, PageTextItem& s) { TEXT_ITEM_FIELDS(LE_LOAD_FIELD, LE_LOAD_BYTES); }
void encode(const PageTextItem& s, std::uint8_t* out) { TEXT_ITEM_FIELDS(LE_STORE_FIELD, LE_STORE_BYTES); }
void decode(const std::uint8_t* in, PageGraphicItem& s) { GRAPHIC_FIELDS(LE_LOAD_FIELD, LE_LOAD_BYTES); }
void encode(const PageGraphicItem& s, std::uint8_t* out) { GRAPHIC_FIELDS(LE_STORE_FIELD, LE_STORE_BYTES); }
void decode(const std::uint8_t* in, PageBlockLink& s) { LINK_FIELDS(LE_LOAD_FIELD, LE_LOAD_BYTES); }
void encode(const PageBlockLink& s, std::uint8_t* out) { LINK_FIELDS(LE_STORE_FIELD, LE_STORE_BYTES); }
void decode(const std::uint8_t* in, PageLineItem& s) { LINE_FIELDS(LE_LOAD_FIELD, LE_LOAD_BYTES); }
void encode(const PageLineItem& s, std::uint8_t* out) { LINE_FIELDS(LE_STORE_FIELD, LE_STORE_BYTES); }

void decode(const std::uint8_t* in, PageWaveformBlock& w) {
  std::memcpy(w.upper, in, sizeof w.upper);
  std::memcpy(w.lower, in + sizeof w.upper, sizeof w.lower);
  std::memcpy(w.spectra, in + sizeof w.upper + sizeof w.lower, sizeof w.spectra);
}
void encode(const PageWaveformBlock& w, std::uint8_t* out) {
  std::memcpy(out, w.upper, sizeof w.upper);
  std::memcpy(out + sizeof w.upper, w.lower, sizeof w.lower);
  std::memcpy(out + sizeof w.upper + sizeof w.lower, w.spectra, sizeof w.spectra);
}

// A text as the renderer wants it: ended by a NUL inside its field, bytes
// 8..31 (not colour switches) shown as blanks.
void clean_text(char* p, std::size_t n) {
  if (n == 0) return;
  for (std::size_t i = 0; i < n; ++i) {
    auto c = static_cast<unsigned char>(p[i]);
    if (c == 0) return;
    if (c >= 8 && c <= 31) p[i] = ' ';
  }
  p[n - 1] = '\0';
}

template <std::size_t N>
void clean_field(char (&text)[N]) {
  clean_text(text, N);
}

// x of 2400 or more (or below 0) is put at the left edge, y at row 200.
std::int16_t page_x(std::int16_t x) { return x < 0 || x >= kPageWidth ? 0 : x; }
std::int16_t page_y(std::int16_t y) { return y < 0 || y >= kPageHeight ? 200 : y; }
std::int16_t limited(std::int16_t v, int max) { return v < 0 || v > max ? 0 : v; }

void normalise_graphic(PageGraphicItem& g) {
  g.x = page_x(g.x);
  g.y = page_y(g.y);
  std::memset(g.reserved, 0, sizeof g.reserved);
  clean_field(g.picture);
  g.width = limited(g.width, kPageWidth);
  g.source_x = limited(g.source_x, kPageWidth);
  g.draw_width = limited(g.draw_width, kPageWidth);
  g.height = limited(g.height, kPageHeight);
  g.source_rows = limited(g.source_rows, kPageHeight);
  g.draw_height = limited(g.draw_height, kPageHeight);
  if (g.mirror != 0 && g.x - g.draw_width - g.gap < 0) g.mirror = 0;
}

// Step 9 of reading: spectral traces get their envelopes limited to 155 and
// both envelopes and samples scaled to the 233 rows of the spectrum area.
void scale_spectral_traces(PageDescription& d) {
  if (!d.waveform) return;
  PageWaveformBlock& w = *d.waveform;
  for (PageTraceEntry& t : d.header.traces) {
    if (!(t.flags & 0x50)) continue;
    for (int i = t.start; i < t.start + t.count; ++i) {
      for (std::uint8_t* env : {w.upper, w.lower}) {
        int v = env[i];
        if (v > 0) --v;
        env[i] = static_cast<std::uint8_t>(std::min(v, 155) * 233 / 155);
      }
      d.header.samples[i] = static_cast<std::uint8_t>(d.header.samples[i] * 233 / 255);
    }
    if (t.flags & 0x04) t.level = static_cast<std::uint8_t>(t.level * 233 / 255);
  }
}

bool fits(std::int64_t offset, std::int64_t length, std::size_t size) {
  return offset >= 0 && length >= 0 && offset + length <= static_cast<std::int64_t>(size);
}

}  // namespace

void encode_page_header(const PageDescriptionHeader& s, std::uint8_t* out) {
  HEADER_FIELDS(LE_STORE_FIELD, LE_STORE_BYTES);
  for (int i = 0; i < kPageTraces; ++i)
    encode(s.traces[i], out + offsetof(PageDescriptionHeader, traces) + i * sizeof(PageTraceEntry));
  for (int i = 0; i < kPagePressures; ++i)
    encode(s.pressures[i],
           out + offsetof(PageDescriptionHeader, pressures) + i * sizeof(PagePressureValue));
}

void decode_page_header(const std::uint8_t* in, PageDescriptionHeader& s) {
  HEADER_FIELDS(LE_LOAD_FIELD, LE_LOAD_BYTES);
  for (int i = 0; i < kPageTraces; ++i)
    decode(in + offsetof(PageDescriptionHeader, traces) + i * sizeof(PageTraceEntry), s.traces[i]);
  for (int i = 0; i < kPagePressures; ++i)
    decode(in + offsetof(PageDescriptionHeader, pressures) + i * sizeof(PagePressureValue),
           s.pressures[i]);
}

#undef TRACE_FIELDS
#undef PRESSURE_FIELDS
#undef TEXT_ITEM_FIELDS
#undef GRAPHIC_FIELDS
#undef LINK_FIELDS
#undef LINE_FIELDS
#undef HEADER_FIELDS

void normalise_line_item(PageLineItem& l) {
  // Packed fields go through int copies: no reference may bind to them.
  l.clip_left = std::max<int>(l.clip_left, 11);
  l.clip_right = std::min<int>(l.clip_right, 2388);
  l.clip_top = std::max<int>(l.clip_top, 216);
  l.clip_bottom = std::min<int>(l.clip_bottom, 3138);
  // Packed fields cannot be bound to std::swap's references: swap by value.
  if (l.clip_left > l.clip_right) {
    const std::int16_t t = l.clip_left;
    l.clip_left = l.clip_right;
    l.clip_right = t;
  }
  if (l.clip_top > l.clip_bottom) {
    const std::int16_t t = l.clip_top;
    l.clip_top = l.clip_bottom;
    l.clip_bottom = t;
  }

  int sym1 = l.symbols >> 4, sym2 = l.symbols & 0x0F;
  auto inside = [&l](int x, int y) {
    return x >= l.clip_left && x <= l.clip_right && y >= l.clip_top && y <= l.clip_bottom;
  };
  if (!inside(l.x1, l.y1)) sym1 = 0;
  if (!inside(l.x2, l.y2)) sym2 = 0;
  sym1 = std::min(sym1, 9);
  sym2 = std::min(sym2, 9);

  l.x1 = std::clamp<int>(l.x1, 0, kPageWidth - 1);
  l.x2 = std::clamp<int>(l.x2, 0, kPageWidth - 1);
  l.y1 = std::clamp<int>(l.y1, 0, kPageHeight - 1);
  l.y2 = std::clamp<int>(l.y2, 0, kPageHeight - 1);

  int width = (l.style >> 4) & 7;
  if (width == 0) width = 1;
  if (width > 5) width = 5;
  l.style = static_cast<std::uint8_t>((l.style & 0x8F) | (width << 4));

  if (l.y1 > l.y2 || (l.y1 == l.y2 && l.x1 > l.x2)) {
    const std::int16_t x = l.x1, y = l.y1;
    l.x1 = l.x2;
    l.y1 = l.y2;
    l.x2 = x;
    l.y2 = y;
    std::swap(sym1, sym2);
  }
  l.symbols = static_cast<std::uint8_t>((sym1 << 4) | sym2);
}

int read_page_description(const std::uint8_t* data, std::size_t size, PageDescription& out) {
  if (size < kPageHeaderBytes) return kPageTooShort;
  if (data[0] != kPageMagic0 || data[1] != kPageMagic1) return kPageBadFormat;
  PageDescription d;
  PageDescriptionHeader& h = d.header;
  decode_page_header(data, h);

  clean_field(h.title);
  clean_field(h.patient_name);
  clean_field(h.patient_id);
  clean_field(h.exam_date);
  clean_field(h.left_line_4);
  clean_field(h.right_line_2);
  clean_field(h.right_line_3);
  clean_field(h.right_line_4);

  for (PagePressureValue& p : h.pressures) {
    p.x = page_x(p.x);
    p.y = page_y(p.y);
    p.flags &= 0x07;
    clean_field(p.text);
  }

  for (PageTraceEntry& t : h.traces) {
    t.x = page_x(t.x);
    t.y = page_y(t.y);
    if (t.start < 0 || t.start > kTraceSampleCount - 8 || t.start % 8 != 0) return kPageBadFormat;
    // Never more samples than the array holds after the start.
    t.count = std::clamp<int>(t.count, 2, kTraceSampleCount - t.start);
    // Labels are cleaned inside the label pool only; one outside it reads
    // as empty (trace_label()).
    for (std::int16_t label : {t.label_1, t.label_2}) {
      if (label < 0 || label >= kTraceLabelPoolBytes) continue;
      clean_text(h.trace_labels + label,
                 std::min<std::size_t>(133, static_cast<std::size_t>(kTraceLabelPoolBytes - label)));
    }
  }

  // Text items and their pool.
  const std::int64_t text_off = h.text_offset, text_count = h.text_count;
  if (text_count < 0) return kPageBadFormat;
  const std::int64_t pool_size =
      std::min<std::int64_t>(std::int64_t{h.graphic_offset} - text_off, 30000) - 7 * text_count;
  if (pool_size < 0) return kPageBadFormat;
  if (!fits(text_off, 7 * text_count + pool_size, size)) return kPageBadFormat;
  d.text_items.resize(static_cast<std::size_t>(text_count));
  for (std::int64_t i = 0; i < text_count; ++i) decode(data + text_off + 7 * i, d.text_items[i]);
  const std::uint8_t* pool = data + text_off + 7 * text_count;
  d.text_pool.assign(pool, pool + pool_size);
  for (PageTextItem& t : d.text_items) {
    t.x = page_x(t.x);
    t.y = page_y(t.y);
    t.attribute &= 0x7F;
    if (t.text < 0 || t.text > pool_size) return kPageBadFormat;
    clean_text(d.text_pool.data() + t.text, static_cast<std::size_t>(pool_size - t.text));
  }

  // Graphic items.
  const std::int64_t graphic_off = h.graphic_offset, graphic_count = h.graphic_count;
  if (graphic_count < 0) return kPageBadFormat;
  if (graphic_count > 0 && !fits(graphic_off, 36 * graphic_count, size)) return kPageBadFormat;
  d.graphic_items.resize(static_cast<std::size_t>(graphic_count));
  for (std::int64_t i = 0; i < graphic_count; ++i) {
    decode(data + graphic_off + 36 * i, d.graphic_items[i]);
    normalise_graphic(d.graphic_items[i]);
  }

  // The block chain.  Offset 0 is the header itself, never a link.  Every
  // link must lie beyond the one before it, so a damaged chain cannot loop.
  std::int64_t link_off = h.first_link;
  std::int64_t lines_off = -1, lines_count = 0, waveform_off = -1;
  std::int64_t previous = -1;
  while (link_off != 0) {
    if (link_off <= previous) return kPageBadFormat;
    if (!fits(link_off, sizeof(PageBlockLink), size)) break;
    PageBlockLink link;
    decode(data + link_off, link);
    if (link.type == kLinkEnd) break;
    const std::int64_t body = link_off + static_cast<std::int64_t>(sizeof link);
    if (link.type == kLinkLines) {
      if (!fits(body, 18 * std::int64_t{link.count}, size)) return kPageBadFormat;
      lines_off = body;
      lines_count = link.count;
    } else if (link.type == kLinkWaveform) {
      if (!fits(body, kPageWaveformBytes, size)) return kPageBadFormat;
      waveform_off = body;
    }
    previous = link_off;
    link_off = link.next;
  }
  d.lines.resize(static_cast<std::size_t>(lines_count));
  for (std::int64_t i = 0; i < lines_count; ++i) {
    decode(data + lines_off + 18 * i, d.lines[i]);
    normalise_line_item(d.lines[i]);
  }
  if (waveform_off >= 0) {
    d.waveform = std::make_unique<PageWaveformBlock>();
    decode(data + waveform_off, *d.waveform);
    scale_spectral_traces(d);
  } else {
    // Spectral display needs the block: without it the traces are plain.
    for (PageTraceEntry& t : h.traces) t.flags &= 0x0F;
  }
  out = std::move(d);
  return kPageOk;
}

std::vector<std::uint8_t> build_page_description(const PageDescription& d) {
  const std::size_t texts = d.text_items.size(), graphics = d.graphic_items.size();
  // Counts are 16-bit in the file.
  const std::size_t line_count = std::min<std::size_t>(d.lines.size(), 32767);
  PageDescriptionHeader h = d.header;
  h.magic[0] = kPageMagic0;
  h.magic[1] = kPageMagic1;
  h.text_offset = static_cast<std::int32_t>(kPageHeaderBytes);
  h.text_count = static_cast<std::int16_t>(texts);
  h.graphic_offset = static_cast<std::int32_t>(kPageHeaderBytes + 7 * texts + d.text_pool.size());
  h.graphic_count = static_cast<std::int16_t>(graphics);
  h.first_link = static_cast<std::int32_t>(h.graphic_offset + 36 * graphics);

  std::size_t total = static_cast<std::size_t>(h.first_link) + sizeof(PageBlockLink);
  if (d.waveform) total += sizeof(PageBlockLink) + kPageWaveformBytes;
  if (line_count) total += sizeof(PageBlockLink) + 18 * line_count;
  std::vector<std::uint8_t> out(total);
  std::uint8_t* p = out.data();
  encode_page_header(h, p);
  p += kPageHeaderBytes;
  for (const PageTextItem& t : d.text_items) {
    encode(t, p);
    p += 7;
  }
  if (!d.text_pool.empty()) std::memcpy(p, d.text_pool.data(), d.text_pool.size());
  p += d.text_pool.size();
  for (const PageGraphicItem& g : d.graphic_items) {
    encode(g, p);
    p += 36;
  }
  auto link = [&](std::uint8_t type, std::size_t count, std::size_t body) {
    const auto here = static_cast<std::int32_t>(p - out.data());
    PageBlockLink l{type, 0, static_cast<std::int16_t>(count),
                    type == kLinkEnd ? 0 : static_cast<std::int32_t>(here + 8 + body)};
    encode(l, p);
    p += 8;
  };
  if (d.waveform) {
    link(kLinkWaveform, 1, kPageWaveformBytes);
    encode(*d.waveform, p);
    p += kPageWaveformBytes;
  }
  if (line_count) {
    link(kLinkLines, line_count, 18 * line_count);
    for (std::size_t i = 0; i < line_count; ++i) {
      encode(d.lines[i], p);
      p += 18;
    }
  }
  link(kLinkEnd, 0, 0);
  return out;
}

int save_page_description(const std::string& win_path, const PageDescription& d) {
  std::vector<std::uint8_t> bytes = build_page_description(d);
  return platform::write_file_atomic(platform::map_path(win_path), bytes.data(),
                                     bytes.size());
}

std::string_view trace_label(const PageDescriptionHeader& h, int offset) {
  if (offset < 0 || offset >= kTraceLabelPoolBytes) return {};
  const char* p = h.trace_labels + offset;
  return {p, strnlen(p, static_cast<std::size_t>(kTraceLabelPoolBytes - offset))};
}

std::string_view pool_text(const PageDescription& d, int offset) {
  if (offset < 0 || static_cast<std::size_t>(offset) >= d.text_pool.size()) return {};
  const char* p = d.text_pool.data() + offset;
  return {p, strnlen(p, d.text_pool.size() - static_cast<std::size_t>(offset))};
}

bool sample_flag(const PageDescriptionHeader& h, int i) {
  if (i < 0 || i >= kTraceSampleCount) return false;
  return (h.sample_flags[i / 8] >> (7 - i % 8)) & 1;
}

void set_sample_flag(PageDescriptionHeader& h, int i, bool on) {
  if (i < 0 || i >= kTraceSampleCount) return;
  const auto bit = static_cast<std::uint8_t>(0x80 >> (i % 8));
  if (on)
    h.sample_flags[i / 8] |= bit;
  else
    h.sample_flags[i / 8] &= static_cast<std::uint8_t>(~bit);
}

int page_colour(int index) {
  static constexpr int kMap[8] = {7, 3, 5, 1, 6, 2, 4, 0};
  return kMap[index & 7];
}

}  // namespace vaslab
