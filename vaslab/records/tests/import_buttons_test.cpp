#include "vaslab/records/import_buttons.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "records_test_support.h"

using namespace vaslab;

namespace {

struct ImportButtonsTest : RecordsFixture {
  ImportButtonSet set;

  bool load(const std::string& script) {
    root.write("C:\\PROGRAMS\\impbtns.dat", script);
    return load_import_buttons("C:\\IMPORT\\", set);
  }
  std::string errors() const { return root.read("C:\\IMPORT\\import.err"); }
  // The messages of "import.err", one per 80-byte line, blanks cut.
  std::vector<std::string> lines() const {
    std::vector<std::string> out;
    const std::string all = errors();
    for (std::size_t i = 0; i < all.size(); i += 80) {
      std::string l = all.substr(i, 80);
      l.erase(l.find_last_not_of(' ') + 1);
      out.push_back(l);
    }
    return out;
  }
  // Every line 80 bytes of text, checked apart from the C++ side.
  void expect_well_formed() {
    const std::string path = platform::map_path("C:\\IMPORT\\import.err");
    const std::string check =
        "python3 -c \"import sys; d = open(sys.argv[1], 'rb').read(); "
        "assert len(d) % 80 == 0, len(d); "
        "assert all(0x20 <= b < 0x7f or (i % 80 == 7 and b == 0xb3) for i, b in enumerate(d))\" '" +
        path + "'";
    EXPECT_EQ(std::system(check.c_str()), 0);
  }
};

const std::string kPrefix = "Warning\263impbtns.dat: ";

// A warning line as lines() gives it back: cut to 80, blanks off the end.
std::string warning(const std::string& message) {
  std::string l = (kPrefix + message).substr(0, 80);
  return l.erase(l.find_last_not_of(' ') + 1);
}

}  // namespace

TEST_F(ImportButtonsTest, ReadsButtonsInputsAndDefaults) {
  ASSERT_TRUE(load(
      "// site buttons\n"
      "<button ID=2 TEXT=\"Today\" ENABLED=TRUE></button>\n"
      "<BUTTON id=3 enabled=false>\n"
      "  <USERINPUT ID=4 MAXLENGTH=0>first</USERINPUT>\n"
      "  <userinput id=4 maxlength=12 required=true disallow=\"*?\" default=\"a//b\">Name // gone\n"
      " kept</USERINPUT>\n"
      "  <USERINPUT ID=1 DEFAULT=\"" + std::string(200, 'x') + "\">" + std::string(90, 'p') + "</USERINPUT>\n"
      "</BUTTON>\n"));
  ASSERT_FALSE(set.buttons[0]);
  ASSERT_TRUE(set.buttons[1] && set.buttons[2]);
  EXPECT_EQ(set.buttons[1]->text, "Today");
  EXPECT_TRUE(set.buttons[1]->enabled);
  EXPECT_EQ(set.buttons[2]->text, "Query 3");
  EXPECT_FALSE(set.buttons[2]->enabled);
  const ImportUserInput* in = set.buttons[2]->inputs[4].get();
  ASSERT_TRUE(in);
  EXPECT_EQ(in->max_length, 12);  // the latter of the two
  EXPECT_TRUE(in->required);
  EXPECT_EQ(in->disallow, "*?");
  EXPECT_EQ(in->default_text, "a//b");
  EXPECT_EQ(in->prompt, "Name  kept");
  ASSERT_TRUE(set.buttons[2]->inputs[1]);
  EXPECT_EQ(set.buttons[2]->inputs[1]->default_text, std::string(127, 'x'));
  EXPECT_EQ(set.buttons[2]->inputs[1]->prompt, std::string(80, 'p'));
  EXPECT_TRUE(set.warnings);
  EXPECT_EQ(lines(), (std::vector<std::string>{
                         warning("MAXLENGTH must be between 1 and 80 inclusive."),
                         warning("Duplicate USERINPUT tag given (two with same ID), using the latter."),
                         warning("STRING overlow, max of 127 characters allowed"),
                     }));
  expect_well_formed();
  // A clean script writes nothing.
  ASSERT_TRUE(load("<BUTTON ID=1></BUTTON>"));
  EXPECT_FALSE(set.warnings);
  EXPECT_EQ(errors(), "");
}

TEST_F(ImportButtonsTest, EveryFaultIsOneLineAndReadingGoesOn) {
  const std::string long_name(80, 'n');
  ASSERT_TRUE(load(
      "x\001<USERINPUT ID=1>\n"
      "<FOO>\n"
      "<BUTTON>\n"
      "<BUTTON ID=12 ID=0>\n"
      "<BUTTON TEXT=\"unclosed\n"
      "<BUTTON ID=1 MAXLENGTH=5 DISALLOW=a REQUIRED=true DEFAULT=d " + long_name + "=1 \001=2>\n"
      "  <BUTTON ID=2> </USERINPUT> <FOO>\n"
      "  <USERINPUT>no id</USERINPUT>\n"
      "  <USERINPUT ID=x ID=5 TEXT=t ENABLED=true AUTO=1 REQUIRED=maybe MAXLENGTH=-3>p<FOO></USERINPUT>\n"
      "  <USERINPUT ID=6 MAXLENGTH=99999999999 AUTO=2>p</USERINPUT>\n"
      "</BUTTON ID=1>\n"
      "<BUTTON ID=2 ENABLED=yes AUTO=3000000000 = junk>\n"
      "<USERINPUT ID=0 VALUE=" + std::string(130, 'v') + ">p</USERINPUT>\n"
      "<USERINPUT X=\"" + std::string(254, 's') + "\">\n"
      "</BUTTON>\n"
      "<BUTTON ID=3 AUTO=1></BUTTON><BUTTON ID=3></BUTTON>\n"
      "<BUTTON ID=2 TEXT=\"x\n"
      "<BUTTON ID=2 AUTO= >\n"
      "<>\n"
      "</BUTTON>\n"
      "<BUTTON ID=1><USERINPUT ID=2>never closed"));
  const auto got = lines();
  const std::vector<std::string> expected = {
      "Unrecognized character: x",
      "Unrecognized character: 0x01",
      "<USERINPUT> tag must appear between <BUTTON> and </BUTTON> tags.",
      "Invalid tag, <BUTTON> tag expected.",
      "No BUTTON ID specified (required attribute).",
      "Invalid tag, <BUTTON> tag expected.",
      "ID values are limited to single digit numbers",
      "Invalid BUTTON ID, must be between 1 and 3 inclusive.",
      "No BUTTON ID specified (required attribute).",
      "Invalid tag, <BUTTON> tag expected.",
      "Syntax error reading STRING",
      "Tag Format.  Possible unclosed STRING.",
      "Invalid tag, <BUTTON> tag expected.",
      "Invalid attribute (MAXLENGTH) for this tag.",
      "Invalid attribute (DISALLOW) for this tag.",
      "Invalid attribute (REQUIRED) for this tag, USERINPUT tag expected",
      "Invalid attribute (DEFAULT) for this tag.",
      "Unrecognized attribute: " + std::string(80, 'n'),
      "Unrecognized attribute: 0x01",
      "Nested <BUTTON> tag found.",
      "Mismatched </USERINPUT> found.",
      "Invalid tag, </BUTTON> or <USERINPUT> tag expected.",
      "No USERINPUT ID specified (required attribute).",
      "Error reading USERINPUT data.",
      "ID values are limited to single digit numbers",
      "Invalid attribute (TEXT) for this tag.",
      "Invalid attribute (ENABLED) for tag, BUTTON tag expected.",
      "Invalid attribute (AUTO) for this tag.",
      "Invalid value for REQUIRED. Expected TRUE or FALSE.",
      "Invalid value for MAXLENGTH. Expected unsigned number.",
      "Invalid tag, </USERINPUT> tag expected.",
      "MAXLENGTH must be between 1 and 80 inclusive.",
      "Invalid attribute (AUTO) for this tag.",
      "Invalid attribute (ID) for this tag.",
      "Invalid value for ENABLED. Expected TRUE or FALSE.",
      "Invalid value for this attribute (AUTO).  Must be a number.",
      "Unrecognized token, expected attribute_name = attribute_value.",
      "Attribute value overflow, max of 127 characters allowed.",
      "Unrecognized attribute: VALUE",
      "TAG length exceeded 256.  Unclosed STRING?",
      "Invalid tag, </BUTTON> or <USERINPUT> tag expected.",
      "\001Duplicate button found with same ID (3), using first.",
      "Syntax error reading STRING",
      "Tag Format.  Possible unclosed STRING.",
      "Invalid tag, <BUTTON> tag expected.",
      "Unexpected end of tag, attribute value expected.",
      "TAG read error, identifier expected.",
      "Invalid tag, </BUTTON> or <USERINPUT> tag expected.",
      "\001Duplicate button found with same ID (2), using first.",
      "Unexpected EOF.",
      "\001Duplicate button found with same ID (1), using first.",
  };
  // Lines marked \x01 are the loader's own, without the script's name.
  ASSERT_EQ(got.size(), expected.size()) << errors();
  for (std::size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(got[i], expected[i][0] == '\x01' ? "Warning\263" + expected[i].substr(1) : warning(expected[i]))
        << "line " << i;
  expect_well_formed();
  ASSERT_TRUE(set.buttons[0] && set.buttons[1] && set.buttons[2]);
  EXPECT_FALSE(set.buttons[1]->enabled);
  EXPECT_EQ(set.buttons[1]->auto_period, 0);
  EXPECT_EQ(set.auto_button, 3);
  ASSERT_TRUE(set.buttons[0]->inputs[5] && set.buttons[0]->inputs[6]);
  EXPECT_EQ(set.buttons[0]->inputs[5]->prompt, "p");
  EXPECT_EQ(set.buttons[0]->inputs[6]->max_length, 80);
}

TEST_F(ImportButtonsTest, AutoPeriodsAndAMissingScript) {
  ASSERT_TRUE(load("<BUTTON ID=1 AUTO=5></BUTTON><BUTTON ID=2 AUTO=-1></BUTTON>"));
  EXPECT_EQ(set.auto_button, 0);
  EXPECT_EQ(set.buttons[0]->auto_period, 0);
  EXPECT_EQ(set.buttons[1]->auto_period, 0);
  EXPECT_EQ(lines(), std::vector<std::string>{"Warning\263Multiple Auto-periods configured, disabling all."});

  ASSERT_TRUE(load("<BUTTON ID=1 AUTO=5><USERINPUT ID=0>x</USERINPUT></BUTTON><BUTTON ID=2 AUTO=-1></BUTTON>"));
  EXPECT_EQ(set.auto_button, 0);
  EXPECT_EQ(lines(), std::vector<std::string>{"Warning\263Multiple Auto-periods configured, disabling all."});

  ASSERT_TRUE(load("<BUTTON ID=1 AUTO=5><USERINPUT ID=0>x</USERINPUT></BUTTON><BUTTON ID=2></BUTTON>"));
  EXPECT_EQ(set.auto_button, 0);
  EXPECT_EQ(set.buttons[0]->auto_period, 0);
  EXPECT_EQ(lines(), std::vector<std::string>{"Warning\263Auto-period button configured with userinput, disabling auto."});
  EXPECT_TRUE(set.warnings);

  ASSERT_TRUE(load("<BUTTON ID=2 AUTO=-1></BUTTON>"));
  EXPECT_EQ(set.auto_button, 2);
  EXPECT_EQ(set.buttons[1]->auto_period, -1);

  // Loading empties the import folder and the work folder first.
  root.write("C:\\TEMP\\old.scr", "x");
  root.write("C:\\IMPORT\\IMPORT.DAT", "x");
  ::unlink(platform::map_path("C:\\PROGRAMS\\impbtns.dat").c_str());
  EXPECT_FALSE(load_import_buttons("C:\\IMPORT\\", set));
  EXPECT_FALSE(root.exists("C:\\TEMP\\old.scr"));
  EXPECT_FALSE(root.exists("C:\\IMPORT\\IMPORT.DAT"));
  EXPECT_EQ(lines(),
            std::vector<std::string>{"*ERROR*\263Failed to open button configuration file C:\\PROGRAMS\\impbtns.dat"});
  expect_well_formed();
}

TEST_F(ImportButtonsTest, TenMegabytesOfGarbageEndWithCappedWarnings) {
  std::mt19937 rng(7);
  std::string script(10 << 20, '\0');
  for (char& c : script) c = static_cast<char>(rng());
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(load(script));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took, std::chrono::seconds(60));  // a bound on runaway work, not a speed target
  const auto got = lines();
  ASSERT_EQ(got.size(), static_cast<std::size_t>(kImportWarningCap + 1));
  EXPECT_EQ(got.back(), kPrefix + "further warnings left out.");
  expect_well_formed();
}
