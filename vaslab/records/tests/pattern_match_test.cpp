#include "vaslab/records/pattern_match.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "records_test_support.h"

using namespace vaslab;

namespace {

// Compiles, matches and gives the spans "s0 e0 s1 e1 ..." of groups 0..ngroups,
// or "-" for no match.  The groups point into the text, so it is kept.
std::string spans(const std::string& pattern, const std::string& subject, int ngroups) {
  static std::string text;
  text = subject;
  if (const char* err = re_comp(pattern.c_str())) return std::string("error: ") + err;
  if (!re_exec(text.c_str())) return "-";
  std::string out;
  for (int g = 0; g <= ngroups; ++g) {
    const char* s = regex_group_start(g);
    const int b = s ? static_cast<int>(s - text.c_str()) : -1;
    out += (g ? " " : "") + std::to_string(b) + " " + std::to_string(b + regex_group_length(g));
  }
  return out;
}

std::string subs(const std::string& tmpl, std::size_t capacity = 256) {
  std::vector<char> dest(capacity, 'x');
  if (!re_subs(tmpl.c_str(), dest.data(), capacity)) return "<fail:" + std::string(dest.data()) + ">";
  return dest.data();
}

}  // namespace

TEST(PatternMatch, MatchesAnchorsClassesClosuresAndGroups) {
  EXPECT_EQ(spans("^[0-9]$", "7", 0), "0 1");
  EXPECT_EQ(spans("^[0-9]$", "12", 0), "-");
  EXPECT_EQ(spans("a+", "baaa", 0), "1 4");
  EXPECT_EQ(spans("[^\"]", "\"\"x\"", 0), "2 3");
  EXPECT_EQ(spans("[^\"]", "\"\"", 0), "-");
  // The script reader's attribute pattern splits name and value.
  const std::string attr = "\\([^ \t=]+\\)[ \t]*=[ \t]*\\([^ \t]\\)";
  ASSERT_EQ(spans(attr, "id = 3", 2), "0 6 0 2 5 6");
  EXPECT_EQ(subs("\\1"), "id");
  // "^" and "$" are anchors only at the ends; a backslash makes a character
  // ordinary; a leading "]" or "-" is a class member.
  EXPECT_EQ(spans("a^b$c", "xa^b$c", 0), "1 6");
  EXPECT_EQ(spans("\\.\\*", "a.b.*", 0), "3 5");
  EXPECT_EQ(spans("[]-]+", "ab-]]-c", 0), "2 6");
  // A reversed range adds nothing; its end characters stay members.
  EXPECT_EQ(spans("[z-a]", "bcd", 0), "-");
  EXPECT_EQ(spans("[z-a]", "a", 0), "-");
  EXPECT_EQ(spans("[z-a]", "z", 0), "0 1");
  // Class bits are taken modulo 128, from the character as unsigned.
  EXPECT_EQ(spans("[A]", "\xC1", 0), "0 1");
  EXPECT_EQ(spans("[\xC1]", "A", 0), "0 1");
  // Word bounds, references, and a second closure that adds nothing.
  EXPECT_EQ(spans("\\<b[a-z]*\\>", "abc bcd_e bx", 0), "10 12");
  EXPECT_EQ(spans("\\(a*\\)b\\1", "aabaab", 1), "0 5 0 2");
  EXPECT_EQ(spans("ab**c", "abbbc", 0), "0 5");
  EXPECT_EQ(spans("^x", "ax", 0), "-");
}

TEST(PatternMatch, EveryCompileErrorLeavesNoAutomaton) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"*a", "Empty closure"},
      {"+a", "Empty closure"},
      {"^*", "Illegal closure"},
      {"\\(*a\\)", "Illegal closure"},
      {"\\(a\\)*", "Illegal closure"},
      {"\\<*", "Illegal closure"},
      {"\\(a\\)\\1*", "Illegal closure"},
      {"\\(a\\1\\)", "Cyclical reference"},
      {"\\(a\\(b\\1\\)\\)", "Cyclical reference"},  // an outer group still open
      {"\\1", "Undetermined reference"},
      {"a\\)", "Unmatched \\)"},
      {"\\(\\)", "Null pattern inside \\(\\)"},
      {"\\(a\\)\\(b\\)\\(c\\)\\(d\\)\\(e\\)\\(f\\)\\(g\\)\\(h\\)\\(i\\)\\(j\\)", "Too many \\(\\) pairs"},
      {"\\(a", "Unmatched \\("},
      {"[abc", "Missing ]"},
      {"[]", "Missing ]"},
      {"\\<\\>", "Null pattern inside \\<\\>"},
  };
  for (const auto& [pattern, error] : cases) {
    ASSERT_EQ(re_comp("a"), nullptr);
    const char* err = re_comp(pattern.c_str());
    EXPECT_STREQ(err, error.c_str()) << pattern;
    EXPECT_FALSE(re_exec("a")) << pattern;
    EXPECT_STREQ(re_comp(""), "No previous regular expression") << pattern;
  }
  // An empty pattern reuses the automaton there is.
  ASSERT_EQ(re_comp("b"), nullptr);
  ASSERT_EQ(re_comp(""), nullptr);
  EXPECT_TRUE(re_exec("abc"));
  // A bitmap ending in the bytes of a group opening is no empty group.
  EXPECT_EQ(re_comp("\\([\x01\x06]\\)"), nullptr);
}

TEST(PatternMatch, AutomatonHoldsAtMost1024Bytes) {
  // Each CHR is 2 bytes and END 1: 511 characters fit, 512 do not.
  EXPECT_EQ(re_comp(std::string(511, 'a').c_str()), nullptr);
  EXPECT_TRUE(re_exec(std::string(511, 'a').c_str()));
  EXPECT_STREQ(re_comp(std::string(512, 'a').c_str()), "Pattern too long");
  EXPECT_FALSE(re_exec(std::string(512, 'a').c_str()));
  EXPECT_STREQ(re_comp(""), "No previous regular expression");
  // A class is 17 bytes, a closure 2 more, "+" the item again.
  std::string p;
  for (int i = 0; i < 28; ++i) p += "[ab]+";  // 28 * 36 = 1008, + END
  EXPECT_EQ(re_comp(p.c_str()), nullptr);
  EXPECT_STREQ(re_comp((p + "[ab]").c_str()), "Pattern too long");
  EXPECT_EQ(re_comp((p + "aaaaaaa").c_str()), nullptr);  // 1023 bytes
  EXPECT_STREQ(re_comp((p + "aaaaaaa*").c_str()), "Pattern too long");
}

TEST(PatternMatch, SubstitutesGroupsWithinTheDestination) {
  const std::string text = "key = value";
  ASSERT_EQ(spans("\\([a-z]+\\) = \\([a-z]*\\)", text, 2), "0 11 0 3 6 11");
  EXPECT_EQ(subs("[&]"), "[key = value]");
  EXPECT_EQ(subs("\\2:\\1\\0"), "value:keykey = value");
  EXPECT_EQ(subs("\\3\\&\\\\\\x"), "&\\x");  // an unmatched group gives nothing
  EXPECT_EQ(subs("end\\"), "end\\");
  EXPECT_EQ(subs("\\2", 6), "value");
  EXPECT_EQ(subs("\\2", 5), "<fail:>");
  EXPECT_EQ(subs("abcdef", 6), "<fail:>");
  // A NUL inside a group's span (the text changed after matching).
  std::string changed = "abc=def";
  ASSERT_EQ(re_comp("\\([a-z]*\\)=\\(.*\\)"), nullptr);
  ASSERT_TRUE(re_exec(changed.data()));
  changed[5] = '\0';
  EXPECT_EQ(subs("\\1"), "abc");
  EXPECT_EQ(subs("\\2"), "<fail:>");
  ASSERT_EQ(re_comp("q"), nullptr);
  ASSERT_FALSE(re_exec("abc"));
  EXPECT_EQ(subs("x"), "<fail:>");
  EXPECT_EQ(regex_group_start(0), nullptr);
  EXPECT_EQ(regex_group_length(10), 0);
  EXPECT_EQ(regex_group_start(-1), nullptr);
}

TEST(PatternMatch, StepBudgetEndsRunawayBacktracking) {
  // The script reader's patterns on the longest tag stay far within it.
  const std::string tag(254, 'x');
  ASSERT_EQ(re_comp("\\([^ \t=]+\\)[ \t]*=[ \t]*\\([^ \t]\\)"), nullptr);
  EXPECT_FALSE(re_exec(tag.c_str()));
  EXPECT_FALSE(re_exec_gave_up());
  ASSERT_EQ(re_comp("^[ \t]*\\([^ \t]+\\)[ \t]*"), nullptr);
  EXPECT_TRUE(re_exec(tag.c_str()));
  // Nested closures over a long text would take longer than anyone waits.
  ASSERT_EQ(re_comp("a*a*a*a*a*a*a*a*b"), nullptr);
  EXPECT_FALSE(re_exec(std::string(254, 'a').c_str()));
  EXPECT_TRUE(re_exec_gave_up());
  EXPECT_EQ(regex_group_start(0), nullptr);
  EXPECT_TRUE(re_exec("aab"));
  EXPECT_FALSE(re_exec_gave_up());
}

// Generated patterns over a small alphabet against GNU grep (whether they
// match) and Python's re (where the whole match and each group lie).
TEST(PatternMatch, AgreesWithGrepAndPythonOverGeneratedCases) {
  std::mt19937 rng(20261209);
  auto pick = [&](int n) { return static_cast<int>(rng() % n); };
  const char* classes[] = {"[ab]", "[^a]", "[a-c]", "[]a]", "[-b]", "[^-a]", "[^]b]", "[_ -]"};
  const char literals[] = "abc-_ ";

  struct Case {
    std::string pattern;
    int groups;
  };
  std::vector<Case> patterns;
  while (patterns.size() < 700) {
    std::string p;
    int groups = 0;
    std::vector<int> open;
    if (pick(5) == 0) p += "^";
    const int items = 1 + pick(6);
    for (int i = 0; i < items; ++i) {
      const int kind = pick(12);
      if (kind < 1 && groups < 9) {
        open.push_back(++groups);
        p += "\\(";
        --i;
        continue;
      }
      if (kind < 2 && !open.empty() && p.substr(p.size() - 2) != "\\(") {
        open.pop_back();
        p += "\\)";
        continue;
      }
      if (kind < 3 && groups > static_cast<int>(open.size())) {
        int n;
        do n = 1 + pick(groups);
        while (std::find(open.begin(), open.end(), n) != open.end());
        p += "\\" + std::to_string(n);
        continue;
      }
      if (kind < 4) {
        p += pick(2) ? "\\<" : "\\>";
        continue;
      }
      if (kind < 6) p += ".";
      else if (kind < 8) p += classes[pick(8)];
      else p += literals[pick(6)];
      const int closure = pick(4);
      if (closure == 0) p += "*";
      if (closure == 1) p += "+";
    }
    while (!open.empty()) {
      if (p.size() >= 2 && p.substr(p.size() - 2) == "\\(") p += "a";
      open.pop_back();
      p += "\\)";
    }
    if (pick(5) == 0) p += "$";
    if (re_comp(p.c_str())) continue;  // e.g. "\<\>"
    patterns.push_back({p, groups});
  }

  char dir_template[] = "/tmp/pattern-oracle-XXXXXX";
  ASSERT_NE(mkdtemp(dir_template), nullptr);
  const std::string dir = dir_template;
  const char alphabet[] = "abc -_]";
  std::vector<std::string> subjects;
  for (int i = 0; i < 12; ++i) {
    std::string s;
    const int len = pick(10);
    for (int k = 0; k < len; ++k) s += alphabet[pick(7)];
    subjects.push_back(s);
  }
  {
    std::ofstream f(dir + "/subjects");
    for (const auto& s : subjects) f << s << "\n";
  }
  // One shell runs grep once per pattern: a line of matching line numbers each.
  {
    std::ofstream script(dir + "/greps");
    for (std::size_t k = 0; k < patterns.size(); ++k) {
      // Every "+" generated is a closure (no class holds one).
      std::string bre;
      for (char ch : patterns[k].pattern) bre += ch == '+' ? std::string("\\+") : std::string(1, ch);
      std::ofstream(dir + "/p" + std::to_string(k)) << bre << "\n";
      script << "echo $(grep -n -f p" << k << " subjects | cut -d: -f1)\n";
    }
  }
  const std::string cmd = "cd '" + dir + "' && LC_ALL=C sh greps > lines";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  std::ifstream lines(dir + "/lines");
  std::ofstream cases(dir + "/cases");
  int checked = 0;
  std::vector<std::string> ours;
  for (const auto& c : patterns) {
    std::string line;
    ASSERT_TRUE(std::getline(lines, line));
    std::vector<bool> grep_match(subjects.size(), false);
    std::istringstream numbers(line);
    for (int n; numbers >> n;) grep_match.at(n - 1) = true;
    for (std::size_t i = 0; i < subjects.size(); ++i) {
      ASSERT_EQ(re_comp(c.pattern.c_str()), nullptr);
      EXPECT_EQ(re_exec(subjects[i].c_str()), grep_match[i]) << c.pattern << " on \"" << subjects[i] << "\"";
      cases << c.pattern << "\t" << subjects[i] << "\n";
      ours.push_back(spans(c.pattern, subjects[i], c.groups));
      ++checked;
    }
  }
  cases.close();
  ASSERT_TRUE(run_generator("pattern_oracle.py", {dir + "/cases", dir + "/spans"}));
  std::ifstream ref(dir + "/spans");
  std::ifstream again(dir + "/cases");
  int matched = 0;
  for (const auto& mine : ours) {
    std::string want, c;
    ASSERT_TRUE(std::getline(ref, want));
    std::getline(again, c);
    EXPECT_EQ(mine, want) << c;
    matched += want != "-";
  }
  EXPECT_GT(matched, checked / 10);
  EXPECT_EQ(checked, 700 * 12);
  std::filesystem::remove_all(dir);
}
