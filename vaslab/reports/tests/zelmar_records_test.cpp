// The sibling database's finishing call over capture streams written here
// byte by byte; the record files are read back by an independent reader
// (zelmar_reader.py) that knows only the record layout.
#include "vaslab/reports/zelmar_records.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "platform/find.h"
#include "platform/paths.h"
#include "testsupport/temp_root.h"
#include "testsupport/write_faults.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/reports/module_entries.h"
#include "vaslab/reports/page_description.h"
#include "vaslab/reports/tests/report_test_support.h"
#include "vaslab/reports/zelmar_tables.h"

namespace vaslab {
namespace {

// A capture stream as the study calls write it.
struct Stream {
  std::string bytes;

  void data(std::uint8_t b) {
    bytes += static_cast<char>(b);
    if (b == 15) bytes += '\0';
  }
  void tag(int t) {
    bytes += '\x0F';
    bytes += static_cast<char>(t);
  }
  void line(const std::string& text) {
    for (char c : text) data(static_cast<std::uint8_t>(c));
    bytes += '\r';
  }
  void fixed_lines() {
    line("DATE:12/13/94");
    line("TIME:04:38 PM  ");
    line("FAC.:Facility");
    bytes += "\r\r";
  }
  // A sample run with a 15,4 mark before sample `mark` (none when negative).
  Stream& run(int gain, const std::vector<std::uint8_t>& samples, int mark = -1) {
    tag(3);
    bytes += static_cast<char>((gain + 128) & 255);
    for (std::size_t k = 0; k < samples.size(); ++k) {
      if (static_cast<int>(k) == mark) tag(4);
      data(samples[k]);
    }
    return *this;
  }
  Stream& header(const std::string& id, int test, int location, int probe, int gain, int sweep,
                 const std::string& pressure_line = "") {
    tag(2);
    line("I.D.:" + id);
    line("TEST:" + std::string(zelmar_test_text(test)));
    line("LOC.:" + std::string(zelmar_test_text(location)));
    line("PRBE:" + std::string(zelmar_probe_text(probe)));
    line("GAIN:" + std::string(zelmar_gain_text(gain)));
    line("SPD.:" + std::string(zelmar_sweep_text(sweep)));
    if (!pressure_line.empty()) line(pressure_line);
    fixed_lines();
    return *this;
  }
  Stream& pressures(const std::string& id, int test, const std::vector<std::string>& lines) {
    tag(1);
    line("I.D.:" + id);
    line("TEST:" + std::string(zelmar_test_text(test)));
    fixed_lines();
    bytes += "RIGHT           LEFT\r\r";
    for (const std::string& l : lines) bytes += l;
    return *this;
  }
};

// Samples that pass through every byte value, the escape among them.
std::vector<std::uint8_t> wave(int count, int seed) {
  std::vector<std::uint8_t> s(count);
  for (int k = 0; k < count; ++k) s[k] = static_cast<std::uint8_t>(k * 7 + seed);
  return s;
}

std::string hex(const std::vector<std::uint8_t>& s, std::size_t from = 0) {
  static const char digits[] = "0123456789abcdef";
  std::string h;
  for (std::size_t k = from; k < s.size(); ++k) {
    h += digits[s[k] >> 4];
    h += digits[s[k] & 15];
  }
  return h;
}

struct ZelmarRecordsTest : ::testing::Test {
  testsupport::TempRoot root;

  void SetUp() override {
    hardware_settings() = HardwareSettings{};
    std::strcpy(hardware_settings().data_directory, "C:\\DATA\\");
    platform::map_path_create_dirs("C:\\EXPORT\\");
  }

  // A report header with the fields a record takes.
  void report(int exam, const char* name, const char* right_line_2 = "", const char* left_line_4 = "") {
    std::string h(kPageHeaderBytes, '\0');
    auto put = [&](std::size_t at, const char* text) { std::memcpy(&h[at], text, std::strlen(text)); };
    put(0, "\xFE\x01");
    put(2, "Lower Arterial");
    put(32, name);
    put(62, ("ID-" + std::to_string(exam)).c_str());
    put(92, "03/04/2026 09:05 PM");
    put(114, left_line_4);
    put(155, right_line_2);
    root.write("C:\\DATA\\" + std::to_string(exam) + ".PDF", h);
  }

  int finish(const Stream& s, int options = 0) {
    root.write("C:\\TEMP\\FREEDATA", s.bytes);
    root.write("C:\\TEMP\\ZELMARDB", std::string(43, 'x'));
    ExportArgs args;
    args.end = true;
    args.destination = "C:\\EXPORT\\";
    args.options = options;
    return finish_zelmar_export(args);
  }

  // What the reader found in the export folder.
  std::map<std::string, std::string> records() {
    const std::string out = root.path() + "/records.txt";
    EXPECT_TRUE(run_script(tests_dir() + "zelmar_reader.py", {platform::map_path("C:\\EXPORT\\"), out}));
    std::map<std::string, std::string> fields;
    std::ifstream in(out);
    for (std::string line; std::getline(in, line);) {
      const auto eq = line.find('=');
      if (eq != std::string::npos) fields[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return fields;
  }
};

const std::vector<std::string> kAnklePressures = {
    "  120  BRACHIAL  124\r\r\r", "  150 HIGH THIGH 148\r\r", "  140 ABOVE KNEE 138\r\r",
    "  130 BELOW KNEE ***\r\r",   "      ANKLE P.T.  85\r\r", "   90 ANKLE D.P.  88\r\r\r"};

// Two studies of one patient and one of another.  The patient's Doppler
// waveforms and ankle pressures share one record whose kind the pressures
// raise; a site measured again keeps its later waveform; runs are trimmed to
// the kind's last 296 samples; the carotid study is cut to 592 samples with
// its low and high points, and its left side sits at place 2, past the
// right side's long entry.
TEST_F(ZelmarRecordsTest, EachPatientGroupBecomesOneRecord) {
  report(4, "DOE^JANE", "CP:  Room 2", " Op.Name:  A. Tech");
  report(9, "ROE^RICHARD");
  root.write("C:\\EXPORT\\7.ZVT", "an older export");
  root.write("C:\\PLUS\\DEFAULT.INF", "One|x|\r\nLower Arterial|Vascular lab|\r\n" + std::string(2, '\n') +
                                          "Arterial w/ pressures|Lab 2|\r\n" + std::string(42, '\n') +
                                          "Carotid|Duplex room|\r\n");
  Stream s;
  const auto femoral_1 = wave(400, 1), popliteal = wave(200, 2), femoral_2 = wave(350, 3);
  s.run(2, femoral_1).header("4.pdf", 5, 13, 4, 2, 0);
  s.run(2, popliteal).header("4.pdf", 5, 15, 5, 3, 1);
  s.pressures("4.pdf", 1, kAnklePressures);
  // The patient's second study: the femoral again.
  s.run(-3, femoral_2).header("4.pdf", 5, 13, 4, 2, 0);
  // The other patient: both carotids, the left one longer than 592 samples.
  std::vector<std::uint8_t> right(300), left(700);
  for (int k = 0; k < 700; ++k) left[k] = static_cast<std::uint8_t>(100 + k % 50);
  for (int k = 0; k < 300; ++k) right[k] = static_cast<std::uint8_t>(90 + k % 40);
  left[50] = 0;   // the lowest point, cut away
  left[650] = 1;  // the lowest of the kept samples
  left[652] = 255;
  left[690] = 255;
  s.run(1, right).header("9.pdf", 3, 76, 5, 1, 0);
  s.run(1, left).header("9.pdf", 3, 78, 5, 1, 0);
  ASSERT_EQ(finish(s), 0);

  auto r = records();
  EXPECT_EQ(r["8.kind"], "5");
  EXPECT_EQ(r["8.patient_id"], "ID-4");
  EXPECT_EQ(r["8.patient_name"], "DOE^JANE");
  EXPECT_EQ(r["8.exam_date"], "03/04/2026 09:05 PM");
  EXPECT_EQ(r["8.title"], "Lower Arterial");
  EXPECT_EQ(r["8.site"], "Arterial w/ pressures");
  EXPECT_EQ(r["8.site_text"], "Room 2");
  EXPECT_EQ(r["8.operator"], "A. Tech");
  const char* texts[12] = {"120", "124", "150", "148", "140", "138", "130", "***", "   ", " 85", " 90", " 88"};
  for (int k = 0; k < 12; ++k) EXPECT_EQ(r["8.pressure." + std::to_string(k)], texts[k]) << k;
  EXPECT_EQ(r["8.entry.0"], "5,13,4,2,0,0,0,296,-3");
  EXPECT_EQ(r["8.samples.0"], hex(femoral_2, 350 - 296));
  EXPECT_EQ(r["8.entry.2"], "5,15,5,3,1,0,0,200,2");
  EXPECT_EQ(r["8.samples.2"], hex(popliteal));

  EXPECT_EQ(r["9.kind"], "48");
  EXPECT_EQ(r["9.patient_name"], "ROE^RICHARD");
  EXPECT_EQ(r["9.site"], "Carotid");
  EXPECT_EQ(r["9.site_text"], "Duplex room");
  EXPECT_EQ(r["9.operator"], "");
  EXPECT_EQ(r["9.pressure.0"], "");
  EXPECT_EQ(r["9.entry.0"], "3,76,5,1,0,0,39,300,1");
  EXPECT_EQ(r["9.entry.2"], "3,78,5,1,0," + std::to_string(650 - 108) + "," + std::to_string(652 - 108) + ",592,1");
  EXPECT_EQ(r["9.samples.2"], hex(left, 108));

  EXPECT_EQ(r.count("10.kind"), 0u);
  EXPECT_FALSE(root.exists("C:\\TEMP\\FREEDATA"));
  EXPECT_FALSE(root.exists("C:\\TEMP\\ZELMARDB"));
  // A blank at its start, after each of the four stages, after each record
  // and at the end.
  EXPECT_EQ(root.read("C:\\TEMP\\TEMP.001"), std::string(1 + 4 + 2 + 1, ' '));
}

// Each kind's places, sample limits and reference values: the long entries
// of venous outflow and refill leave their following places empty, the
// thoracic outlet's short entries sit 132 bytes apart, the penile study puts
// its ankles first, a pressure line of a header block gives the values, and
// period pressures fill their three columns (an ABI line keeps its
// position, texts past the twelfth are not kept).
TEST_F(ZelmarRecordsTest, KindsKeepTheirPlacesAndLimits) {
  report(5, "DOE^JANE");
  Stream s;
  const auto outflow = wave(1200, 6), outflow_left = wave(100, 7);
  s.run(0, outflow, 400).header("5.pdf", 4, 53, 3, 0, 5);
  s.run(0, outflow_left).header("5.pdf", 4, 58, 3, 0, 5);
  std::vector<std::uint8_t> refill(700, 200), refill_left(40, 30);
  for (int k = 30; k < 80; ++k) refill[k] = static_cast<std::uint8_t>(10 + k - 30);  // low at 30, back at 50 by 70
  refill_left[20] = 3;
  s.run(50, refill).header("5.pdf", 2, 80, 1, 9, 1);
  s.run(60, refill_left).header("5.pdf", 2, 82, 1, 9, 1);  // never back to 60 after its low
  const auto baseline = wave(150, 8), maneuver = wave(20, 9);
  s.run(0, baseline).header("5.pdf", 98, 99, 0, 4, 2);
  s.run(0, maneuver).header("5.pdf", 98, 110, 0, 4, 2);
  s.pressures("5.pdf", 111, {"  130  BRACHIAL  128\r\r", "   90   PENILE    95\r\r", "  140   ANKLE    135\r\r",
                             "  150 BRA PST EX 155\r\r", "  100 PNL PST EX 105\r\r", "  160 ANK PST EX 158\r\r\r"});
  const auto penile = wave(30, 10), ankle_r = wave(30, 11), ankle_l = wave(30, 12);
  s.run(0, penile).header("5.pdf", 111, 114, 2, 3, 0);
  s.run(0, ankle_l).header("5.pdf", 111, 41, 2, 3, 0);
  s.run(0, ankle_r).header("5.pdf", 111, 36, 2, 3, 0);
  std::string two_values = "PS: 120";
  two_values.resize(14, ' ');
  two_values += "80";
  const auto thigh = wave(50, 13), knee = wave(50, 14);
  s.run(0, thigh).header("5.pdf", 8, 33, 2, 1, 0, "PRES:65");
  s.run(0, knee).header("5.pdf", 8, 34, 2, 1, 0, two_values);
  s.pressures("5.pdf", 122, {"  1.00   ABI    0.95\r\r", "PER1  120   110  115\r\r", "PER2  121   111  116\r\r",
                             "PER3  122   112  117\r\r", "PER4  123   113  118\r\r"});
  const auto single = wave(30, 15);
  s.run(0, single).header("5.pdf", 5, 81, 4, 0, 0);
  ASSERT_EQ(finish(s), 0);

  auto r = records();
  EXPECT_EQ(r["1.kind"], "16");
  EXPECT_EQ(r["1.entry.0"], "4,53,3,0,5,400,0,986,0");
  EXPECT_EQ(r["1.samples.0"], hex(outflow, 1200 - 986));
  EXPECT_EQ(r["1.entry.5"], "4,58,3,0,5,0,0,100,0");
  EXPECT_EQ(r.count("1.entry.1") + r.count("1.entry.3"), 0u);

  EXPECT_EQ(r["2.kind"], "24");
  EXPECT_EQ(r["2.entry.0"], "2,80,1,9,1,30,70,592,50");
  EXPECT_EQ(r["2.samples.0"], hex(refill, 700 - 592));
  EXPECT_EQ(r["2.entry.2"], "2,82,1,9,1,20,2000,40,60");

  EXPECT_EQ(r["3.kind"], "96");
  EXPECT_EQ(r["3.entry.0"], "98,99,0,4,2,0,0,119,0");
  EXPECT_EQ(r["3.samples.0"], hex(baseline, 150 - 119));
  EXPECT_EQ(r["3.entry.11"], "98,110,0,4,2,0,0,20,0");

  EXPECT_EQ(r["4.kind"], "110");
  EXPECT_EQ(r["4.entry.0"], "111,36,2,3,0,0,0,30,0");
  EXPECT_EQ(r["4.samples.0"], hex(ankle_r));
  EXPECT_EQ(r["4.entry.1"], "111,41,2,3,0,0,0,30,0");
  EXPECT_EQ(r["4.entry.2"], "111,114,2,3,0,0,0,30,0");
  EXPECT_EQ(r["4.pressure.0"], "130");
  EXPECT_EQ(r["4.pressure.11"], "158");

  EXPECT_EQ(r["5.kind"], "4");
  EXPECT_EQ(r["5.entry.0"], "8,33,2,1,0,65,0,50,0");
  EXPECT_EQ(r["5.entry.1"], "8,34,2,1,0,120,80,50,0");

  EXPECT_EQ(r["6.kind"], "112");
  EXPECT_EQ(r.count("6.entry.0"), 0u) << "pressures alone give no waveform entry";
  const char* periods[12] = {"", "", "", "120", "110", "115", "121", "111", "116", "122", "112", "117"};
  for (int k = 0; k < 12; ++k) EXPECT_EQ(r["6.pressure." + std::to_string(k)], periods[k]) << k;

  EXPECT_EQ(r["7.kind"], "56");
  EXPECT_EQ(r["7.entry.0"], "5,81,4,0,0,0,0,30,0");
  EXPECT_EQ(r.count("8.kind"), 0u);
}

// What a damaged stream gives: runs too short or not followed by their
// header make no entry, a run stops counting at 6000 samples, lines keep 79
// characters; a stream cut anywhere or with bytes changed gives fewer
// entries and reads nothing past its end.
TEST(ZelmarStream, DamagedStreamsGiveFewerEntries) {
  Stream s;
  s.run(0, wave(11, 1)).header("1.pdf", 5, 13, 4, 0, 0);  // too short
  s.header("1.pdf", 5, 14, 4, 0, 0);                       // no run before it
  s.run(0, wave(7000, 2), 5000).header("1.pdf", 5, 15, 4, 0, 0);
  s.run(0, wave(12, 3)).header("1.pdf", 5, 16, 4, 0, 0);
  s.pressures("1.pdf", 1, {"  120  BRACHIAL  124\r\r\r"});
  s.tag(2);
  s.line("I.D.:" + std::string(100, '9'));
  s.line("TEST:DOPPLER WAVEFORM" + std::string(80, ' '));
  auto whole = [&](const std::string& bytes) {
    return parse_zelmar_stream(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  };
  auto e = whole(s.bytes);
  ASSERT_EQ(e.size(), 3u);
  EXPECT_EQ(e[0].location, 15);
  EXPECT_EQ(e[0].samples.size(), 6000u);
  EXPECT_EQ(e[0].samples, wave(6000, 2));
  EXPECT_EQ(e[0].value_1, 5000);
  EXPECT_EQ(e[1].samples.size(), 12u);
  EXPECT_TRUE(e[2].pressure_block);
  EXPECT_EQ(e[2].pressures[1], "124");

  // A header block after a pressure block is no entry: a long line is cut,
  // so its text is in no table.
  Stream t;
  t.run(5, wave(20, 4)).bytes += "\x0F\x02I.D.:12.pdf\rTEST:" + std::string(90, 'A') + "\r";
  e = whole(t.bytes);
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].test, -1);
  EXPECT_EQ(e[0].group_file, "12.pdf");

  Stream small;
  small.run(3, wave(40, 5), 10).header("2.pdf", 4, 53, 3, 0, 5);
  small.pressures("2.pdf", 122, {"PER1  120   110  115\r\r", "PER2  120   110  115\r\r", "PER3  1\r",
                                 "PER4  120   110  115\r\r", "PER5  120   110  115\r\r", "P\r", "PER7  1  1  1  1  1\r"});
  const std::size_t full = whole(small.bytes).size();
  EXPECT_EQ(full, 2u);
  for (std::size_t cut = 0; cut <= small.bytes.size(); ++cut) {
    // Only the bytes before the cut are readable: anything read past them
    // stops the test under AddressSanitizer.
    std::vector<std::uint8_t> part(small.bytes.begin(), small.bytes.begin() + cut);
    EXPECT_LE(parse_zelmar_stream(part.data(), part.size()).size(), full) << cut;
  }
  std::uint32_t seed = 1;
  for (int round = 0; round < 3000; ++round) {
    std::vector<std::uint8_t> bytes(small.bytes.begin(), small.bytes.end());
    for (int k = 0; k < 4; ++k) {
      seed = seed * 1103515245 + 12345;
      bytes[(seed >> 8) % bytes.size()] = static_cast<std::uint8_t>((seed >> 20) % 3 == 0 ? 15 : seed >> 24);
    }
    for (const ZelmarEntry& x : parse_zelmar_stream(bytes.data(), bytes.size())) {
      EXPECT_LE(x.samples.size(), static_cast<std::size_t>(kZelmarMaxRunSamples));
      EXPECT_LE(x.group_file.size(), 12u);
    }
  }
}

// The finishing call's other outcomes: "c:\plus\default.inf" fields within
// their separators' limits, option 0x08 naming every record "1", a group
// whose report is gone writing no file, nothing to write, no stream, and a
// record that cannot be written being said.
TEST_F(ZelmarRecordsTest, SiteFieldsNumberingAndFailures) {
  report(1, "DOE^JANE");
  Stream pressures_only;
  pressures_only.pressures("1.pdf", 1, kAnklePressures);
  const std::string site_lines[] = {
      "",                                                     // no file
      "x\nAnkle pressures|Lab|\n",                            // both fields
      "x\n" + std::string(30, 'A') + "|Lab|\n",               // first bar too late
      "x\nAnkle pressures|" + std::string(20, 'B') + "|\n",   // second bar too late
      "x\nAnkle pressures|Lab\n",                             // no second bar
      "x\n",                                                  // no line for the kind
  };
  const char* expected[][2] = {{"", ""},
                               {"Ankle pressures", "Lab"},
                               {"", ""},
                               {"Ankle pressures", ""},
                               {"Ankle pressures", ""},
                               {"", ""}};
  for (int k = 0; k < 6; ++k) {
    if (k > 0) root.write("C:\\PLUS\\DEFAULT.INF", site_lines[k]);
    ASSERT_EQ(finish(pressures_only), 0) << k;
  }
  auto r = records();
  for (int k = 0; k < 6; ++k) {
    const std::string n = std::to_string(k + 1);
    EXPECT_EQ(r[n + ".kind"], "2");
    EXPECT_EQ(r[n + ".site"], expected[k][0]) << k;
    EXPECT_EQ(r[n + ".site_text"], expected[k][1]) << k;
  }
  EXPECT_EQ(r["1.pressure.7"], "***");

  // 0x08: each group's record is "1", the last one standing.
  testsupport::remove_tree(platform::map_path("C:\\EXPORT\\"));
  Stream two_groups = pressures_only;
  two_groups.run(0, wave(30, 1)).header("1.pdf", 6, 23, 0, 0, 0);
  ASSERT_EQ(finish(two_groups, 0x08), 0);
  r = records();
  EXPECT_EQ(r["1.kind"], "11");
  EXPECT_EQ(r.count("2.kind"), 0u);

  // The second group's report is gone: only the first is written.
  testsupport::remove_tree(platform::map_path("C:\\EXPORT\\"));
  Stream gone = pressures_only;
  gone.pressures("3.pdf", 0, {"  100 GREAT TOE  100\r\r"});
  gone.pressures("..\\1.pdf", 0, {"  100 GREAT TOE  100\r\r"});
  ASSERT_EQ(finish(gone), 0);
  r = records();
  EXPECT_EQ(r["1.kind"], "2");
  EXPECT_EQ(r.count("2.kind"), 0u);

  // Nothing to write: no record, no trace, both work files gone.
  root.write("C:\\TEMP\\TEMP.001", "old");
  Stream nothing;
  nothing.run(0, wave(5, 1)).header("1.pdf", 5, 13, 4, 0, 0);
  ASSERT_EQ(finish(nothing), 0);
  EXPECT_EQ(root.read("C:\\TEMP\\TEMP.001"), "old");
  EXPECT_FALSE(root.exists("C:\\TEMP\\FREEDATA"));
  EXPECT_FALSE(root.exists("C:\\TEMP\\ZELMARDB"));
  EXPECT_EQ(records().count("2.kind"), 0u);

  ExportArgs args;
  args.end = true;
  args.destination = "C:\\EXPORT\\";
  EXPECT_EQ(finish_zelmar_export(args), 11) << "no stream";

  // Cut off at any write, flush or rename, or failed there, the batch is
  // handed over whole or not at all: once the next start has run and the
  // batch has been sent again, each group's record is there exactly once.
  testsupport::remove_tree(platform::map_path("C:\\EXPORT\\"));
  auto names = [] {
    std::vector<std::string> n;
    for (const auto& f : platform::list_files("C:\\EXPORT\\*")) n.push_back(f.name);
    std::sort(n.begin(), n.end());
    return n;
  };
  const std::vector<testsupport::StoredFile> numbered = {{platform::map_path("C:\\EXPORT\\1")},
                                                         {platform::map_path("C:\\EXPORT\\2")}};
  testsupport::check_write_faults(
      root.path(), numbered, [&] { testsupport::remove_tree(platform::map_path("C:\\EXPORT\\")); },
      [&] { return finish(two_groups) == 0; },
      [&](bool done) {
        if (!done) {
          take_back_unfinished_zelmar_batch();  // the next start
          EXPECT_EQ(names(), std::vector<std::string>{}) << "a part of the batch was handed over";
          ASSERT_EQ(finish(two_groups), 0);  // and the batch sent again
        }
        EXPECT_EQ(names(), (std::vector<std::string>{"1", "2"}));
        EXPECT_FALSE(root.exists(kZelmarJournal));
      });
  // The destination cannot hold files: the failure is said, nothing is left.
  root.write("C:\\BLOCKED", "a file where the folder should be");
  args.destination = "C:\\BLOCKED\\";
  root.write("C:\\TEMP\\FREEDATA", pressures_only.bytes);
  EXPECT_EQ(finish_zelmar_export(args), 11);
  EXPECT_EQ(root.read("C:\\BLOCKED"), "a file where the folder should be");
}

// A whole batch through the module entry: two studies of one patient, each
// with a femoral Doppler waveform and ankle pressures, and the END call.
// The patient's record holds both sites, the later study's pressures, and
// the samples of each page's run.
TEST_F(ZelmarRecordsTest, BatchThroughTheModuleEntry) {
  ASSERT_TRUE(make_study_file("template", "C:\\STUDIES\\00000123.sty", R"({"steps": [
    {"type": 6, "caption": "CFA", "set": {"198": 14, "199": 0, "39": 0}},
    {"type": 2, "caption": "R brachial", "set": {"60": 128, "61": 0}},
    {"type": 2, "caption": "R ankle", "set": {"60": 132, "61": 0}},
    {"type": 255}]})"));
  auto call = [](std::string id) {
    std::string program = "C:\\PLUS\\ZELMAR", folder = "C:\\EXPORT\\", options = "0";
    char* argv[] = {program.data(), id.data(), folder.data(), options.data()};
    return run_zelmar_export(4, argv);
  };
  std::vector<std::uint8_t> femoral[2];
  for (int exam : {3, 8}) {
    report(exam, "DOE^JANE");
    auto& samples = femoral[exam == 8];
    std::string run;
    for (int k = 0; k <= 40; ++k) {
      const int v = (k * 29 + exam) % 200;
      run += (k ? "," : "") + std::to_string(v);
      if (k > 0) samples.push_back(static_cast<std::uint8_t>(v));
    }
    const std::string n = std::to_string(exam);
    const std::string common = R"({"template": "00000123.sty", "gain": 3, "filter": 1, "probe": 15)";
    for (const auto& [step, extra] : std::vector<std::pair<int, std::string>>{
             {0, ""},
             {1, R"(, "start": 0, "newest": 40, "ch1_run": [0, [)" + run + "]]"},
             {2, R"(, "short": "1)" + n + "0\""},
             {3, R"(, "short": " 9)" + n + "\""}})
      ASSERT_TRUE(make_study_file("page", "C:\\DATA\\" + std::to_string(step) + "." + n, common + extra + "}"));
    ASSERT_EQ(call(n), 0) << exam;
  }
  ASSERT_EQ(call("END"), 0);
  auto r = records();
  EXPECT_EQ(r["1.kind"], "5");
  EXPECT_EQ(r["1.patient_id"], "ID-3");
  EXPECT_EQ(r["1.pressure.0"], "180");
  EXPECT_EQ(r["1.pressure.8"], " 98");
  EXPECT_EQ(r["1.entry.0"], "5,13,4,7,3,0,0,40,3");
  EXPECT_EQ(r["1.samples.0"], hex(femoral[1]));
  EXPECT_EQ(r.count("2.kind"), 0u);
  EXPECT_FALSE(root.exists("C:\\TEMP\\FREEDATA"));
}

}  // namespace
}  // namespace vaslab
