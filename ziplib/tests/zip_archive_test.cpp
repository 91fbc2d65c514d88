#include "ziplib/tests/zip_archive_support.h"

#include "platform/file_io.h"
#include "platform/find.h"
#include "testsupport/write_faults.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>

using namespace ziptest;
using ziplib::kSubRelativeNames;

namespace {

std::vector<std::string> names_in(const std::string& linux_zip) {
  std::string out;
  run("unzip -Z1 " + shell_quote(linux_zip), &out);
  std::vector<std::string> names;
  std::istringstream ss(out);
  for (std::string line; std::getline(ss, line);)
    if (!line.empty()) names.push_back(line);
  return names;
}

TEST_F(ArchiveTest, TreesAtEveryLevelOpenInOutsideReaders) {
  if (!have("unzip") || !have("7zz")) GTEST_SKIP() << "unzip or 7zz missing";
  make_tree("C:\\WORK\\TREE");
  for (int level : {0, 1, 6, 9, 10, 19}) {
    for (const char* password : {"", "Pulse-42"}) {
      SCOPED_TRACE("level " + std::to_string(level) + " password '" + password + "'");
      const std::string zip = "C:\\OUT\\L" + std::to_string(level) + (*password ? "P" : "") + ".ZIP";
      ASSERT_NO_FATAL_FAILURE(compress_tree(zip, level, password));
      expect_readers_accept(zip, "C:\\WORK\\TREE", password);
      const std::string method = level == 0 ? "0" : level >= 10 ? "9" : "8";
      // Versions and flags: no data descriptor on a single file, the
      // encryption bit with a password, 1.0 for stored and folder entries.
      expect_records(zip, "all(e['flags'] & 8 == 0 and e['local']['flags'] == e['flags'] and "
                          "(e['flags'] & 1) == " + std::string(*password ? "1" : "0") + " or e['name'].endswith('/') "
                          "for e in r['entries'])");
      expect_records(zip, "all((e['needed'], e['made_by']) == ((10, 20) if e['method'] == 0 else (21, 21) if "
                          "e['method'] == 9 else (20, 20)) for e in r['entries'])");
      expect_records(zip, "any(e['method'] == " + method + " for e in r['entries'])");
      // Stored by its suffix, except at level 9.
      expect_records(zip, "[e['method'] for e in r['entries'] if e['name'] == 'old.ZIP'] == [" +
                              std::string(level == 9 || level == 19 ? method : "0") + "]");
    }
  }
}

TEST_F(ArchiveTest, TextModeStoresCrLf) {
  if (!have("unzip")) GTEST_SKIP() << "unzip missing";
  make_tree("C:\\WORK\\TREE");
  write("C:\\WORK\\TREE\\three.txt", "a\nb");
  for (const char* password : {"", "secret"}) {
    const std::string zip = std::string("C:\\OUT\\T") + (*password ? "P" : "") + ".ZIP";
    ZIPCMDSTRUCT c = command(ZIP_ADD, zip, "TREE\\*.*");
    c.recurseFlag = 1;
    c.convertLFtoCRLFFlag = 1;
    c.encryptFlag = *password != 0;
    c.lpszEncryptCode = password;
    c.wZipSubOptions = kSubRelativeNames;
    ASSERT_EQ(zipCompress(&c), 0);
    expect_readers_accept(zip, "C:\\WORK\\TREE", password, true);
    std::string out;
    run("unzip -p " + std::string(*password ? "-P " + shell_quote(password) + " " : "") +
            shell_quote(linux_path(zip)) + " three.txt",
        &out);
    EXPECT_EQ(out, "a\r\nb");
    expect_records(zip, "[(e['usize'], e['crc']) for e in r['entries'] if e['name'] == 'three.txt'] == [(4, " +
                            std::to_string(crc_of("a\r\nb")) + ")]");
  }
}

TEST_F(ArchiveTest, WrongPasswordIsRefusedByOutsideReaders) {
  if (!have("unzip")) GTEST_SKIP() << "unzip missing";
  write("C:\\WORK\\A.TXT", text_lines(4000, 9));
  write("C:\\WORK\\E.TXT", "");
  ZIPCMDSTRUCT c = command(ZIP_ADD, "C:\\OUT\\W.ZIP", "A.TXT E.TXT");
  c.encryptFlag = 1;
  c.lpszEncryptCode = "right";
  ASSERT_EQ(zipCompress(&c), 0);
  const std::string z = shell_quote(linux_path("C:\\OUT\\W.ZIP"));
  EXPECT_EQ(run("unzip -tq -P right " + z), 0);
  EXPECT_NE(run("unzip -tq -P wrong " + z), 0);
  EXPECT_NE(run("7zz t -pwrong " + z), 0);
  // The empty file is stored with CRC 0, and encrypted entries carry the
  // password block in their central record only.
  expect_records("C:\\OUT\\W.ZIP", "[(e['method'], e['crc'], e['csize']) for e in r['entries'] if e['name'] == "
                                   "'E.TXT'] == [(0, 0, 12)]");
  expect_records("C:\\OUT\\W.ZIP", "all([b['tag'] for b in e['extra']] == [127] and "
                                   "e['extra'][0]['size'] == 65 and e['local']['extra'] == [] for e in r['entries'])");
}

TEST_F(ArchiveTest, FreshenUpdateDeleteAndGrow) {
  if (!have("unzip")) GTEST_SKIP() << "unzip missing";
  make_tree("C:\\WORK\\TREE");
  const std::string zip = "C:\\OUT\\OPS.ZIP";
  const std::string lzip = linux_path(zip);
  ZIPCMDSTRUCT c = command(ZIP_ADD, zip, "TREE\\*.*");
  c.recurseFlag = 1;
  c.wZipSubOptions = kSubRelativeNames;
  ASSERT_EQ(zipCompress(&c), 0);
  const std::string first = read_all(lzip);

  // Nothing newer: freshen and update leave the archive as it was.
  for (int function : {ZIP_FRESHEN, ZIP_UPDATE}) {
    c.Function = function;
    EXPECT_EQ(zipCompress(&c), 0);
    EXPECT_EQ(read_all(lzip), first);
  }

  // A newer file is taken by freshen; a cut-off date later than every file
  // keeps update from taking anything.
  const std::string newer = linux_path("C:\\WORK\\TREE\\sub\\block.bin");
  const auto later = std::filesystem::last_write_time(newer) + std::chrono::hours(2);
  std::filesystem::last_write_time(newer, later);
  c.Function = ZIP_UPDATE;
  c.afterDateFlag = 1;
  c.lpszDate = "010179";  // 1 January 2079
  EXPECT_EQ(zipCompress(&c), 0);
  EXPECT_EQ(read_all(lzip), first);
  c.afterDateFlag = 0;
  c.Function = ZIP_FRESHEN;
  EXPECT_EQ(zipCompress(&c), 0);
  EXPECT_NE(read_all(lzip), first);
  expect_readers_accept(zip, "C:\\WORK\\TREE");

  // Delete two entries by pattern.
  ZIPCMDSTRUCT d = command(ZIP_DELETE, zip, "sub/deep/*.dat");
  EXPECT_EQ(zipCompress(&d), 0);
  auto names = names_in(lzip);
  EXPECT_EQ(std::count_if(names.begin(), names.end(), [](auto& n) { return n.find(".dat") != std::string::npos; }), 0);
  EXPECT_EQ(names.size(), 8u);
  EXPECT_EQ(run("unzip -tq " + shell_quote(lzip)), 0);
  d.lpszItemList = "nothing.here";
  EXPECT_EQ(zipCompress(&d), ZE_NONE);
  EXPECT_TRUE(g_shown.has(12, "name not matched: nothing.here"));

  // Growing in place appends without copying the old entries.
  write("C:\\WORK\\NEW.TXT", text_lines(20000, 11));
  ZIPCMDSTRUCT g = command(ZIP_ADD, zip, "NEW.TXT");
  g.growExistingFlag = 1;
  const std::string before = read_all(lzip);
  EXPECT_EQ(zipCompress(&g), 0);
  const std::string grown = read_all(lzip);
  const auto cd = before.find("PK\x01\x02");
  EXPECT_EQ(grown.compare(0, cd, before, 0, cd), 0);
  EXPECT_EQ(names_in(lzip).size(), 9u);
  EXPECT_EQ(run("unzip -tq " + shell_quote(lzip)), 0);
  EXPECT_EQ(run("7zz t " + shell_quote(lzip)), 0);
}

TEST_F(ArchiveTest, DatesPasswordsAndDeleteOptionsAreChecked) {
  write("C:\\WORK\\A.TXT", "a");
  ZIPCMDSTRUCT c = command(ZIP_ADD, "C:\\OUT\\D.ZIP", "A.TXT");
  c.afterDateFlag = 1;
  for (const char* bad : {"130180", "003180", "01018", "0101aa"}) {
    c.lpszDate = bad;
    EXPECT_EQ(zipCompress(&c), ZE_PARMS) << bad;
  }
  c.lpszDate = "010180";
  EXPECT_EQ(zipCompress(&c), 0);
  c.afterDateFlag = 0;
  const std::string long_pw(513, 'p');
  c.encryptFlag = 1;
  c.lpszEncryptCode = long_pw.c_str();
  EXPECT_EQ(zipCompress(&c), ZE_PARMS);
  c.lpszEncryptCode = "";
  EXPECT_EQ(zipCompress(&c), ZE_PARMS);
  ZIPCMDSTRUCT d = command(ZIP_DELETE, "C:\\OUT\\D.ZIP", "A.TXT");
  d.recurseFlag = 1;
  EXPECT_EQ(zipCompress(&d), ZE_PARMS);
  EXPECT_FALSE(std::filesystem::exists(linux_path("C:\\OUT\\D.ZIX")));
}

TEST_F(ArchiveTest, MoveDeletesOriginalsAndEmptiedFoldersOnlyOnSuccess) {
  write("C:\\WORK\\A\\B\\C.TXT", "c");
  write("C:\\WORK\\A\\D.TXT", "d");
  write("C:\\WORK\\KEEP\\K.TXT", "k");
  write("C:\\WORK\\KEEP\\OTHER.DAT", "o");
  ZIPCMDSTRUCT c = command(ZIP_MOVE, "C:\\OUT\\MV.ZIP", "A\\*.* KEEP\\K.TXT");
  c.recurseFlag = 1;
  c.noDirectoryEntriesFlag = 1;
  c.deleteOriginalFlag = 1;
  ASSERT_EQ(zipCompress(&c), 0);
  EXPECT_FALSE(std::filesystem::exists(linux_path("C:\\WORK\\A")));
  EXPECT_FALSE(std::filesystem::exists(linux_path("C:\\WORK\\KEEP\\K.TXT")));
  EXPECT_TRUE(std::filesystem::exists(linux_path("C:\\WORK\\KEEP\\OTHER.DAT")));  // a folder still in use stays
  auto names = names_in(linux_path("C:\\OUT\\MV.ZIP"));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"A/B/C.TXT", "A/D.TXT", "KEEP/K.TXT"}));
}

TEST_F(ArchiveTest, PatternsRelativeNamesDuplicatesAndTheArchiveItself) {
  write("C:\\WORK\\P\\README.TXT", "r");
  write("C:\\WORK\\P\\readme.txt1", "r1");
  write("C:\\WORK\\P\\A.B.TXT", "ab");
  write("C:\\WORK\\P\\NOEXT", "n");
  write("C:\\WORK\\P\\X\\README.TXT", "other");
  write("C:\\WORK\\P\\SKIP.TXT", "s");
  const std::string zip = "C:\\WORK\\P\\SELF.ZIP";
  ZIPCMDSTRUCT c = command(ZIP_ADD, zip, "P\\*.*");
  c.recurseFlag = 1;
  c.noDirectoryEntriesFlag = 1;
  c.includeOnlyFollowingFlag = 1;
  c.lpszIncludeFollowing = "*.TXT SELF.ZIP";
  c.excludeFollowingFlag = 1;
  c.lpszExludeFollowing = "SKIP.*";
  ASSERT_EQ(zipCompress(&c), 0);
  auto names = names_in(linux_path(zip));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"P/A.B.TXT", "P/README.TXT", "P/X/README.TXT"}));

  // Without folder names two files share one stored name: one stays.
  std::filesystem::remove(linux_path(zip));
  c.noDirectoryNamesFlag = 1;
  ASSERT_EQ(zipCompress(&c), 0);
  names = names_in(linux_path(zip));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"A.B.TXT", "README.TXT"}));

  // Names without an extension only, relative to the item's folder.
  ZIPCMDSTRUCT n = command(ZIP_ADD, "C:\\OUT\\N.ZIP", "P\\*.");
  n.wZipSubOptions = kSubRelativeNames;
  ASSERT_EQ(zipCompress(&n), 0);
  EXPECT_EQ(names_in(linux_path("C:\\OUT\\N.ZIP")), (std::vector<std::string>{"NOEXT"}));

  // Folders nested past the longest path: the walk takes what it can name
  // and ends.
  std::string deep = "C:\\WORK\\DEEP\\";
  while (deep.size() < ziplib::kMaxPath + 20) deep += "NESTED_AB\\";
  write(deep + "LAST.TXT", "l");
  write("C:\\WORK\\DEEP\\TOP.TXT", "t");
  ZIPCMDSTRUCT d = command(ZIP_ADD, "C:\\OUT\\DEEP.ZIP", "DEEP\\*.*");
  d.recurseFlag = 1;
  d.noDirectoryEntriesFlag = 1;
  ASSERT_EQ(zipCompress(&d), 0);
  EXPECT_EQ(names_in(linux_path("C:\\OUT\\DEEP.ZIP")), (std::vector<std::string>{"DEEP/TOP.TXT"}));
}

// Recursing, every folder found gets its entry, however short its name and
// however the item names the folder it starts in: from the current
// directory, from the drive's root, with a drive prefix or with the drive
// alone.
TEST_F(ArchiveTest, RecursionGivesEveryFolderItsEntry) {
  if (!have("unzip")) GTEST_SKIP() << "unzip missing";
  for (const char* folder : {"A", "AB", "ABC"}) write(std::string("D:\\") + folder + "\\F.TXT", folder);
  const std::vector<std::string> tree = {"A/", "A/F.TXT", "AB/", "AB/F.TXT", "ABC/", "ABC/F.TXT"};
  platform::set_current_directory("D:\\");
  for (const char* items : {"*.*", "\\*.*", "D:\\*.*", "D:*.*"}) {
    SCOPED_TRACE(items);
    const std::string zip = "C:\\OUT\\L.ZIP";
    std::filesystem::remove(linux_path(zip));
    ZIPCMDSTRUCT c = command(ZIP_ADD, zip, items);
    c.recurseFlag = 1;
    ASSERT_EQ(zipCompress(&c), 0);
    auto names = names_in(linux_path(zip));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, tree);
  }
}

TEST_F(ArchiveTest, UpdatesArchivesOfOtherWriters) {
  if (!have("zip") || !have("7zz") || !have("unzip")) GTEST_SKIP() << "zip, 7zz or unzip missing";
  make_tree("C:\\WORK\\TREE");
  write("C:\\WORK\\ADD.TXT", text_lines(9000, 12));
  const std::string tree = shell_quote(linux_path("C:\\WORK\\TREE"));
  const std::string out = linux_path("C:\\OUT");
  struct Maker {
    const char* name;
    std::string command;
  } makers[] = {
      {"ZIP.ZIP", "cd " + tree + " && zip -q -r " + out + "/ZIP.ZIP ."},
      {"STREAM.ZIP", "cd " + tree + " && cat sub/noise.bin | zip -q - - > " + out + "/STREAM.ZIP"},
      {"7Z.ZIP", "cd " + tree + " && 7zz a -tzip " + out + "/7Z.ZIP . >/dev/null"},
      {"PY.ZIP", "cd " + tree + " && python3 -c \"import zipfile,os\nwith zipfile.ZipFile('" + out +
                     "/PY.ZIP','w',zipfile.ZIP_DEFLATED) as z:\n for t,d,f in os.walk('.'):\n  [z.write(os.path.join(t,x)) "
                     "for x in f]\""},
  };
  for (const Maker& m : makers) {
    SCOPED_TRACE(m.name);
    ASSERT_EQ(run(m.command), 0);
    const std::string zip = std::string("C:\\OUT\\") + m.name;
    const auto before = names_in(linux_path(zip));
    ZIPCMDSTRUCT c = command(ZIP_ADD, zip, "ADD.TXT");
    c.encryptFlag = 1;
    c.lpszEncryptCode = "pw";
    ASSERT_EQ(zipCompress(&c), 0);
    EXPECT_EQ(names_in(linux_path(zip)).size(), before.size() + 1);
    EXPECT_EQ(run("unzip -tq -P pw " + shell_quote(linux_path(zip))), 0);
    EXPECT_EQ(run("7zz t -ppw " + shell_quote(linux_path(zip))), 0);
    EXPECT_EQ(run("python3 -c \"import zipfile,sys\nz=zipfile.ZipFile(sys.argv[1]);z.setpassword(b'pw');"
                  "sys.exit(z.testzip() is not None)\" " + shell_quote(linux_path(zip))),
              0);
  }
}

// Archives written where the writer could not seek back: `zip` to a pipe
// (flag bit 3, compressed size 0 but the real uncompressed size in the local
// header) and python streaming with Zip64 forced (local sizes in a Zip64
// block, 24-byte descriptors).  Each operation starts from the tool's own
// archive, and its result passes the three outside readers.
TEST_F(ArchiveTest, StreamedArchivesOfOtherWritersGoThroughEveryOperation) {
  if (!have("zip") || !have("7zz") || !have("unzip")) GTEST_SKIP() << "zip, 7zz or unzip missing";
  make_tree("C:\\WORK\\TREE");
  write("C:\\WORK\\ADD.TXT", text_lines(9000, 13));
  const std::string tree = shell_quote(linux_path("C:\\WORK\\TREE"));
  const std::string out = linux_path("C:\\OUT");
  struct Maker {
    const char* name;
    std::string command;
    const char* streamed;  // the records the tool writes when it streams
  } makers[] = {
      {"PIPE.ZIP", "cd " + tree + " && zip -q -r - . | cat > " + out + "/PIPE.ZIP",
       "any(e['local']['flags'] & 8 and e['local']['csize'] == 0 and e['local']['usize'] > 0 for e in r['entries'])"},
      {"PY64.ZIP",
       "cd " + tree + " && python3 -c \"import zipfile,os,sys\nwith zipfile.ZipFile(sys.stdout.buffer,'w',"
           "zipfile.ZIP_DEFLATED) as z:\n for t,d,f in os.walk('.'):\n  for x in f:\n   p=os.path.join(t,x)[2:]\n"
           "   with open(p,'rb') as i, z.open(p,'w',force_zip64=True) as o: o.write(i.read())\" | cat > " + out +
           "/PY64.ZIP",
       "all(e['flags'] & 8 and e['local']['csize'] == 0xFFFFFFFF and e['local']['extra'][0]['tag'] == 1 and "
       "e['descriptor_len'] == 24 for e in r['entries'])"},
  };
  for (const Maker& m : makers) ASSERT_EQ(run(m.command), 0) << m.name;
  const std::string block = linux_path("C:\\WORK\\TREE\\sub\\block.bin");
  const std::string fresh = text_lines(40000, 14);
  write("C:\\WORK\\TREE\\sub\\block.bin", fresh);
  std::filesystem::last_write_time(block, std::filesystem::last_write_time(block) + std::chrono::hours(2));

  const auto testers_pass = [&](const std::string& lzip) {
    const std::string z = shell_quote(lzip);
    std::string said;
    EXPECT_EQ(run("unzip -tq " + z, &said), 0) << said;
    EXPECT_EQ(run("7zz t -bd " + z, &said), 0) << said;
    EXPECT_EQ(run("python3 -c \"import zipfile,sys\nsys.exit(zipfile.ZipFile(sys.argv[1]).testzip() is not None)\" " + z,
                  &said),
              0)
        << said;
  };
  for (const Maker& m : makers) {
    SCOPED_TRACE(m.name);
    const std::string made = read_all(out + "/" + m.name);
    expect_records(std::string("C:\\OUT\\") + m.name, m.streamed);
    const std::size_t count = names_in(out + "/" + m.name).size();
    const std::string zip = "C:\\OUT\\OP.ZIP";
    const std::string lzip = linux_path(zip);
    const auto from_made = [&](int function, const std::string& items) {
      write(zip, made);
      return command(function, zip, items);
    };
    const auto tree_from_made = [&](int function) {
      ZIPCMDSTRUCT c = from_made(function, "TREE\\*.*");
      c.recurseFlag = 1;
      c.wZipSubOptions = kSubRelativeNames;
      return c;
    };

    // Freshen takes the newer file; the streamed entries are copied.
    ZIPCMDSTRUCT c = tree_from_made(ZIP_FRESHEN);
    EXPECT_EQ(zipCompress(&c), 0);
    testers_pass(lzip);
    EXPECT_EQ(names_in(lzip).size(), count);
    EXPECT_EQ(run("python3 -c \"import zipfile,sys\nsys.exit(zipfile.ZipFile(sys.argv[1]).read('sub/block.bin') != "
                  "open(sys.argv[2],'rb').read())\" " + shell_quote(lzip) + " " + shell_quote(block)),
              0);

    // Update also takes what the archive lacks: then it holds the tree.
    c = tree_from_made(ZIP_UPDATE);
    EXPECT_EQ(zipCompress(&c), 0);
    testers_pass(lzip);
    expect_readers_accept(zip, "C:\\WORK\\TREE");

    c = from_made(ZIP_DELETE, "sub/deep/*.dat");
    EXPECT_EQ(zipCompress(&c), 0);
    testers_pass(lzip);
    EXPECT_EQ(names_in(lzip).size(), count - 2);

    c = from_made(ZIP_ADD, "ADD.TXT");
    EXPECT_EQ(zipCompress(&c), 0);
    testers_pass(lzip);
    EXPECT_EQ(names_in(lzip).size(), count + 1);

    // Growing leaves everything before the old central directory alone.
    c = from_made(ZIP_ADD, "ADD.TXT");
    c.growExistingFlag = 1;
    EXPECT_EQ(zipCompress(&c), 0);
    testers_pass(lzip);
    EXPECT_EQ(names_in(lzip).size(), count + 1);
    const auto cd = made.find("PK\x01\x02");
    EXPECT_EQ(read_all(lzip).compare(0, cd, made, 0, cd), 0);
  }
}

TEST_F(ArchiveTest, ExistingFilesThatAreNoSingleArchive) {
  write("C:\\WORK\\A.TXT", "a");
  ZIPCMDSTRUCT c = command(ZIP_ADD, "C:\\OUT\\PRE.ZIP", "A.TXT");
  ASSERT_EQ(zipCompress(&c), 0);
  // A 10-byte preamble (and its offsets) is kept, with a warning.
  const std::string plain = read_all(linux_path("C:\\OUT\\PRE.ZIP"));
  std::string pre = "PREAMBLE!!" + plain;
  // Offsets of a self-extracting archive count from the file's start.
  const auto cd = pre.find("PK\x01\x02");
  pre[cd + 42] = static_cast<char>(pre[cd + 42] + 10);
  const auto end = pre.find("PK\x05\x06");
  pre[end + 16] = static_cast<char>(pre[end + 16] + 10);
  write("C:\\OUT\\PRE.ZIP", pre);
  write("C:\\WORK\\B.TXT", "b");
  c.lpszItemList = "B.TXT";
  EXPECT_EQ(zipCompress(&c), 0);
  EXPECT_TRUE(g_shown.has(12, "has a preamble of 10 bytes"));
  EXPECT_EQ(read_all(linux_path("C:\\OUT\\PRE.ZIP")).substr(0, 10), "PREAMBLE!!");
  if (have("unzip")) {
    EXPECT_EQ(run("unzip -tq " + shell_quote(linux_path("C:\\OUT\\PRE.ZIP"))), 0);
  }

  std::string disk1 = plain;
  disk1[disk1.find("PK\x05\x06") + 4] = 1;
  write("C:\\OUT\\DISK1.ZIP", disk1);
  ZIPCMDSTRUCT m = command(ZIP_ADD, "C:\\OUT\\DISK1.ZIP", "A.TXT");
  EXPECT_EQ(zipCompress(&m), ZE_MVUSAGE);
  // 0xFFFF in the end record's disk fields leaves them to the Zip64 end
  // record (an outside writer's archive): disk 0 there is one archive.
  const std::string zip64_tail =
      "import struct,sys,zipfile\n"
      "p,disk=sys.argv[1],int(sys.argv[2])\n"
      "with zipfile.ZipFile(p,'w') as z: z.writestr('A.TXT','a')\n"
      "d=open(p,'rb').read();e=d.rfind(b'PK\\x05\\x06')\n"
      "n,size,off=struct.unpack('<HIIH',d[e+10:e+22])[:3]\n"
      "z64=struct.pack('<IQHHIIQQQQ',0x06064b50,44,45,45,disk,disk,n,n,size,off)\n"
      "loc=struct.pack('<IIQI',0x07064b50,disk,e,disk+1)\n"
      "end=struct.pack('<IHHHHIIH',0x06054b50,0xFFFF,0xFFFF,0xFFFF,0xFFFF,0xFFFFFFFF,0xFFFFFFFF,0)\n"
      "open(p,'wb').write(d[:e]+z64+loc+end)\n";
  for (const auto& [disk, want] : {std::pair{0, 0}, std::pair{1, static_cast<int>(ZE_MVUSAGE)}}) {
    SCOPED_TRACE(disk);
    const std::string win = "C:\\OUT\\Z64_" + std::to_string(disk) + ".ZIP";
    const std::string z = shell_quote(linux_path(win));
    ASSERT_EQ(run("python3 -c " + shell_quote(zip64_tail) + " " + z + " " + std::to_string(disk)), 0);
    ZIPCMDSTRUCT add = command(ZIP_ADD, win, "B.TXT");
    EXPECT_EQ(zipCompress(&add), want);
    if (want) continue;
    std::string out;
    EXPECT_EQ(run("unzip -tq " + z, &out), 0) << out;
    EXPECT_EQ(run("python3 -c \"import zipfile,sys;sys.exit(zipfile.ZipFile(sys.argv[1]).namelist()!=['A.TXT','B.TXT'])\" " + z,
                  &out),
              0)
        << out;
  }

  write("C:\\OUT\\SHORT.ZIP", std::string(21, 'x'));
  ZIPCMDSTRUCT s = command(ZIP_ADD, "C:\\OUT\\SHORT.ZIP", "A.TXT");
  EXPECT_EQ(zipCompress(&s), ZE_READ);
  ZIPCMDSTRUCT dash = command(ZIP_ADD, "-", "A.TXT");
  EXPECT_EQ(zipCompress(&dash), ZE_NAME);
}

// An archive whose central directory gives A.TXT another compressed size
// than its data has: copied by that size, the item would be cut (or take
// the next header with it), so no operation may rewrite the archive.  The
// reader that takes the local sizes (unzip) still reads it afterwards.
TEST_F(ArchiveTest, ACentralSizeThatDisagreesWithTheDataIsRefusedForUpdate) {
  if (!have("unzip")) GTEST_SKIP() << "unzip missing";
  const std::string make =
      "import struct,sys,zipfile\n"
      "p,method,delta=sys.argv[1],int(sys.argv[2]),int(sys.argv[3])\n"
      "with zipfile.ZipFile(p,'w',method) as z:\n"
      " z.writestr('A.TXT','hello world '*200)\n"
      " z.writestr('B.TXT','second item '*100)\n"
      "d=bytearray(open(p,'rb').read());cd=d.find(b'PK\\x01\\x02')\n"
      "d[cd+20:cd+24]=struct.pack('<I',struct.unpack('<I',d[cd+20:cd+24])[0]+delta)\n"
      "open(p,'wb').write(d)\n";
  write("C:\\WORK\\B.TXT", "newer second item");
  write("C:\\WORK\\NEW.TXT", "a third item");
  const struct {
    int method;  // python's: 0 stored, 8 deflated
    int delta;   // added to A.TXT's central compressed size
    int function;
    const char* items;
  } cases[] = {
      {8, -5, ZIP_ADD, "NEW.TXT"},    {0, -5, ZIP_ADD, "NEW.TXT"},    {8, -1, ZIP_UPDATE, "B.TXT"},
      {8, -5, ZIP_FRESHEN, "B.TXT"},  {8, -5, ZIP_DELETE, "B.TXT"},   {0, -5, ZIP_MOVE, "NEW.TXT"},
      {8, +3, ZIP_ADD, "NEW.TXT"},    {0, +3, ZIP_DELETE, "B.TXT"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.method) + " " + std::to_string(c.delta) + " " + std::to_string(c.function));
    const std::string zip = "C:\\OUT\\SIZE.ZIP", z = shell_quote(linux_path(zip));
    ASSERT_EQ(run("python3 -c " + shell_quote(make) + " " + z + " " + std::to_string(c.method) + " " +
                  std::to_string(c.delta)),
              0);
    std::string out;
    ASSERT_EQ(run("unzip -tq " + z, &out), 0) << out;
    const std::string before = read_all(linux_path(zip));
    g_shown = {};
    ZIPCMDSTRUCT cmd = command(c.function, zip, c.items);
    EXPECT_EQ(zipCompress(&cmd), ZE_FORM);
    EXPECT_TRUE(g_shown.has(11, "Zip file structure invalid (A.TXT)"));
    EXPECT_TRUE(read_all(linux_path(zip)) == before) << "the archive was rewritten";
    EXPECT_EQ(run("unzip -tq " + z, &out), 0) << out;
    EXPECT_TRUE(platform::file_facts("C:\\WORK\\NEW.TXT").has_value());
  }
}

// Runs one compression in a child process whose files may not grow past
// `limit` bytes; its result.
int compress_with_file_limit(ZIPCMDSTRUCT c, rlim_t limit) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit r{limit, limit};
    ::setrlimit(RLIMIT_FSIZE, &r);
    ::_exit(zipCompress(&c));
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(ArchiveTest, AFailedWriteLeavesTheOldArchiveAndTheOriginals) {
  write("C:\\WORK\\A.TXT", text_lines(3000, 1));
  ZIPCMDSTRUCT c = command(ZIP_ADD, "C:\\OUT\\KEEP.ZIP", "A.TXT");
  ASSERT_EQ(zipCompress(&c), 0);
  const std::string old = read_all(linux_path("C:\\OUT\\KEEP.ZIP"));
  write("C:\\WORK\\BIG\\NOISE.BIN", pseudo_random(400000, 2));
  write("C:\\WORK\\BIG\\N2.BIN", pseudo_random(10000, 3));
  ZIPCMDSTRUCT m = command(ZIP_MOVE, "C:\\OUT\\KEEP.ZIP", "BIG\\*.*");
  m.deleteOriginalFlag = 1;
  EXPECT_NE(compress_with_file_limit(m, 200000), 0);
  EXPECT_EQ(read_all(linux_path("C:\\OUT\\KEEP.ZIP")), old);
  EXPECT_TRUE(std::filesystem::exists(linux_path("C:\\WORK\\BIG\\NOISE.BIN")));
  EXPECT_TRUE(std::filesystem::exists(linux_path("C:\\WORK\\BIG\\N2.BIN")));
  // No temporary archive is left beside it.
  const auto left = platform::list_files("C:\\OUT\\*.*");
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].name, "KEEP.ZIP");

  // Appending in place: the archive keeps a directory of what is whole.
  m.growExistingFlag = 1;
  m.deleteOriginalFlag = 0;
  EXPECT_NE(compress_with_file_limit(m, 200000), 0);
  if (have("unzip")) {
    EXPECT_EQ(run("unzip -tq " + shell_quote(linux_path("C:\\OUT\\KEEP.ZIP"))), 0);
  }
}

// Killed or failed at any write, flush or rename of an add, update,
// freshen or delete, the archive is old or new; once the next start has
// swept the drives, nothing is left beside it (the temporary archive is
// known for one, also the new archive that a failed replacing leaves with
// the warning that names it), and files of the user's whose names look
// like the library's temporaries stay.
TEST_F(ArchiveTest, KilledOperationsLeaveNothingBesideTheArchive) {
  write("C:\\WORK\\A.TXT", text_lines(3000, 1));
  write("C:\\WORK\\B.TXT", text_lines(2000, 2));
  ZIPCMDSTRUCT base = command(ZIP_ADD, "C:\\OUT\\KEEP.ZIP", "A.TXT");
  ASSERT_EQ(zipCompress(&base), 0);
  const std::string old = read_all(linux_path("C:\\OUT\\KEEP.ZIP"));
  const std::vector<std::string> users = {"8Ga14290", "~AB00417"};
  for (const auto& name : users) write("C:\\OUT\\" + name, "the user's");
  struct Case {
    const char* what;
    int function;
    const char* items;
  };
  for (const Case& k : {Case{"add", ZIP_ADD, "B.TXT"}, Case{"update", ZIP_UPDATE, "*.TXT"},
                        Case{"freshen", ZIP_FRESHEN, "A.TXT"}, Case{"delete", ZIP_DELETE, "A.TXT"}}) {
    SCOPED_TRACE(k.what);
    testsupport::check_write_faults(
        linux_path("C:\\WORK\\"), {{linux_path("C:\\OUT\\KEEP.ZIP")}},
        [&] {
          write("C:\\OUT\\KEEP.ZIP", old);
          // A changed original, newer than its entry.
          write("C:\\WORK\\A.TXT", text_lines(3100, 3));
          ASSERT_EQ(platform::file_set_time("C:\\WORK\\A.TXT", 2000000000), 0);
        },
        [&] {
          ZIPCMDSTRUCT c = command(k.function, "C:\\OUT\\KEEP.ZIP", k.items);
          return zipCompress(&c) == 0;
        },
        [&](bool) {
          platform::remove_stale_temporaries(root_.path());  // the next start
          std::vector<std::string> left;
          for (const auto& f : platform::list_files("C:\\OUT\\*.*")) left.push_back(f.name);
          std::sort(left.begin(), left.end());
          EXPECT_EQ(left, (std::vector<std::string>{"8Ga14290", "KEEP.ZIP", "~AB00417"}));
          for (const auto& name : users) EXPECT_EQ(read_all(linux_path("C:\\OUT\\" + name)), "the user's");
        });
  }
}

// A small file that grows while it is read: the entry, held back while it
// was small, is written whole with the size and CRC of what was read.
struct Grow {
  std::string path;
  bool grown = false;
};
int grow_once(const char* text, int, void* user) {
  auto* g = static_cast<Grow*>(user);
  if (!g->grown && std::string(text).find("GROW.BIN") != std::string::npos) {
    g->grown = true;
    std::ofstream(g->path, std::ios::binary | std::ios::app) << pseudo_random(100000, 9);
  }
  return 0;
}

TEST_F(ArchiveTest, ASmallFileThatGrowsWhileReadIsWrittenWhole) {
  if (!have("unzip") || !have("7zz")) GTEST_SKIP() << "unzip or 7zz missing";
  for (int level : {0, 6, 10}) {
    SCOPED_TRACE(level);
    make_tree("C:\\WORK\\TREE");
    write("C:\\WORK\\TREE\\GROW.BIN", text_lines(100, 8));
    Grow g{linux_path("C:\\WORK\\TREE\\GROW.BIN")};
    const std::string zip = "C:\\OUT\\GROW" + std::to_string(level) + ".ZIP";
    ZIPCMDSTRUCT c = command(ZIP_ADD, zip, "TREE\\*.*");
    c.recurseFlag = 1;
    c.compFactor = level;
    c.wZipSubOptions = ziplib::kSubRelativeNames;
    c.lpMinorStatus = grow_once;
    c.lpMinorUserData = &g;
    ASSERT_EQ(zipCompress(&c), 0);
    EXPECT_TRUE(g.grown);
    expect_readers_accept(zip, "C:\\WORK\\TREE");
  }
}

struct Vanish {
  std::string path;
  int calls = 0;
};
int vanish_second(const char* text, int, void* user) {
  auto* v = static_cast<Vanish*>(user);
  if (std::string(text).rfind("Item ", 0) == 0 && ++v->calls == 2) std::filesystem::remove(v->path);
  return 0;
}

TEST_F(ArchiveTest, AFileThatVanishesEndsWith18AndACompleteArchive) {
  write("C:\\WORK\\V\\1.TXT", "one");
  write("C:\\WORK\\V\\2.TXT", "two");
  write("C:\\WORK\\V\\3.TXT", "three");
  Vanish v{linux_path("C:\\WORK\\V\\2.TXT")};
  ZIPCMDSTRUCT c = command(ZIP_MOVE, "C:\\OUT\\V.ZIP", "V\\*.*");
  c.deleteOriginalFlag = 1;
  c.lpMajorStatus = vanish_second;
  c.lpMajorUserData = &v;
  EXPECT_EQ(zipCompress(&c), ZE_OPEN);
  EXPECT_TRUE(g_shown.has(12, "could not open for reading: V/2.TXT"));
  EXPECT_EQ(names_in(linux_path("C:\\OUT\\V.ZIP")), (std::vector<std::string>{"V/", "V/1.TXT"}));
  if (have("unzip")) {
    EXPECT_EQ(run("unzip -tq " + shell_quote(linux_path("C:\\OUT\\V.ZIP"))), 0);
  }
  EXPECT_TRUE(std::filesystem::exists(linux_path("C:\\WORK\\V\\1.TXT")));
  EXPECT_TRUE(std::filesystem::exists(linux_path("C:\\WORK\\V\\3.TXT")));
}

// The walk meets a folder's subfolders before its files, and of its
// subfolders the last first, which is not name order; of two files stored
// under one name the one found last stays.
TEST_F(ArchiveTest, NewEntriesStandInNameOrderAndTheLastOfOneNameStays) {
  if (!have("unzip")) GTEST_SKIP() << "unzip missing";
  struct Case {
    const char* name;
    std::vector<std::string> files;  // under C:\\WORK\\N, as written
    bool no_folder_names;
    std::vector<std::string> want;  // unzip -Z1, in archive order
  };
  const Case cases[] = {
      {"folders and files", {"b.txt", "a\\z.txt", "a\\b\\c.txt", "c\\d.txt", "a.txt", "B2.txt"}, false,
       {"B2.txt", "a.txt", "a/", "a/b/", "a/b/c.txt", "a/z.txt", "b.txt", "c/", "c/d.txt"}},
      {"one name in two folders", {"x\\same.txt", "y\\same.txt", "x\\other.txt"}, true,
       {"other.txt", "same.txt"}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    std::filesystem::remove_all(linux_path("C:\\WORK\\N"));
    for (const std::string& f : k.files) write("C:\\WORK\\N\\" + f, "from " + f);
    ZIPCMDSTRUCT c = command(ZIP_ADD, "C:\\OUT\\N.ZIP", "N\\*.*");
    c.recurseFlag = 1;
    c.noDirectoryNamesFlag = k.no_folder_names;
    c.noDirectoryEntriesFlag = k.no_folder_names;
    c.wZipSubOptions = kSubRelativeNames;
    std::filesystem::remove(linux_path("C:\\OUT\\N.ZIP"));
    ASSERT_EQ(zipCompress(&c), 0);
    EXPECT_EQ(names_in(linux_path("C:\\OUT\\N.ZIP")), k.want);
  }
  std::string out;
  run("unzip -p " + shell_quote(linux_path("C:\\OUT\\N.ZIP")) + " same.txt", &out);
  EXPECT_EQ(out, "from x\\same.txt");  // y is walked first
}

// What an old entry brought from an outside writer (extra fields beyond
// Zip64, a comment) goes with it when the archive is written anew: a copied
// entry keeps all of it, one compressed anew keeps its comment.
TEST_F(ArchiveTest, OldEntriesKeepTheirExtraFieldsAndComments) {
  if (!have("unzip")) GTEST_SKIP() << "unzip missing";
  const std::string zip = linux_path("C:\\OUT\\OLD.ZIP");
  std::filesystem::create_directories(std::filesystem::path(zip).parent_path());
  ASSERT_EQ(run("python3 -c \"import zipfile,sys\nz=zipfile.ZipFile(sys.argv[1],'w')\n"
                "for n in ('keep.txt','redo.txt'):\n"
                "  i=zipfile.ZipInfo(n,(1990,1,1,0,0,0));i.extra=b'\\xfe\\xca\\x04\\x00abcd';"
                "i.comment=n.encode()+b' note';z.writestr(i,'old '+n)\nz.close()\" " + shell_quote(zip)),
            0);
  write("C:\\WORK\\redo.txt", "new content");
  ZIPCMDSTRUCT c = command(ZIP_UPDATE, "C:\\OUT\\OLD.ZIP", "redo.txt");
  ASSERT_EQ(zipCompress(&c), 0);
  std::string out;
  EXPECT_EQ(run("unzip -tq " + shell_quote(zip), &out), 0) << out;
  EXPECT_EQ(run("python3 -c \"import zipfile,sys\nz=zipfile.ZipFile(sys.argv[1])\n"
                "print(*[(i.filename,i.comment.decode(),i.extra.hex(),z.read(i).decode()) for i in z.infolist()],"
                "sep='\\n')\" " + shell_quote(zip), &out),
            0);
  EXPECT_EQ(out,
            "('keep.txt', 'keep.txt note', 'feca040061626364', 'old keep.txt')\n"
            "('redo.txt', 'redo.txt note', '', 'new content')\n");
  expect_records("C:\\OUT\\OLD.ZIP", "[[b['tag'] for b in e['local']['extra']] for e in r['entries']] == [[51966], []]");
  // A harder repair writes every local header anew from what it read.
  write("C:\\WORK\\redo.txt", "newer content");
  c.fixFlag = c.fixHarderFlag = 1;
  ASSERT_EQ(zipCompress(&c), 0);
  EXPECT_EQ(run("unzip -tq " + shell_quote(zip), &out), 0) << out;
  expect_records("C:\\OUT\\OLD.ZIP", "[[b['tag'] for b in e['local']['extra']] for e in r['entries']] == [[51966], []]");
}

struct Rename {
  std::string suffix;
};
void rename_longer(void* record, void* user) {
  char* name = static_cast<char*>(record);
  std::strcat(name, static_cast<Rename*>(user)->suffix.c_str());
}
void rename_overlong(void* record, void*) { std::memset(record, 'x', 260); }

TEST_F(ArchiveTest, RenameCallbacksAtCollectionAndAtCompression) {
  write("C:\\WORK\\R.TXT", "r");
  Rename r{"X"};
  ZIPCMDSTRUCT c = command(ZIP_ADD, "C:\\OUT\\R.ZIP", "R.TXT");
  c.lpRenameProc = rename_longer;
  c.lpRenameUserData = &r;
  ASSERT_EQ(zipCompress(&c), 0);
  EXPECT_EQ(names_in(linux_path("C:\\OUT\\R.ZIP")), (std::vector<std::string>{"R.TXTX"}));
  c.lpszZIPFile = "C:\\OUT\\R2.ZIP";
  c.wZipSubOptions = ziplib::kSubRenameWhileCollecting;
  ASSERT_EQ(zipCompress(&c), 0);
  EXPECT_EQ(names_in(linux_path("C:\\OUT\\R2.ZIP")), (std::vector<std::string>{"R.TXTX"}));
  // A name that fills the record is read within it.
  c.lpszZIPFile = "C:\\OUT\\R3.ZIP";
  c.lpRenameProc = rename_overlong;
  ASSERT_EQ(zipCompress(&c), 0);
  EXPECT_EQ(names_in(linux_path("C:\\OUT\\R3.ZIP")), (std::vector<std::string>{std::string(259, 'x')}));
}

TEST_F(ArchiveTest, MemoryBlockEntryDecryptsWithItsPassword) {
  if (!have("unzip")) GTEST_SKIP() << "unzip missing";
  const std::string data = text_lines(50000, 21);
  ZIPCMDSTRUCT c = command(ZIP_ADD, "C:\\OUT\\MEM.ZIP", "CFG\\SETUP.HDW");
  c.lpMemBlock = const_cast<char*>(data.data());
  c.lMemBlockSize = static_cast<std::uint32_t>(data.size());
  c.encryptFlag = 1;
  c.lpszEncryptCode = "Pulse-42";
  ASSERT_EQ(zipCompress(&c), 0);
  const std::string z = shell_quote(linux_path("C:\\OUT\\MEM.ZIP"));
  std::string out;
  // No data descriptor, so readers check the password against the CRC.
  expect_records("C:\\OUT\\MEM.ZIP", "r['entries'][0]['flags'] == 1 and r['entries'][0]['name'] == 'CFG/SETUP.HDW'");
  EXPECT_EQ(run("unzip -p -P Pulse-42 " + z + " CFG/SETUP.HDW", &out), 0);
  EXPECT_EQ(out, data);
  EXPECT_EQ(run("7zz t -pPulse-42 " + z, &out), 0) << out;
}

TEST_F(ArchiveTest, NamesGoToCodePage437AndShortNames) {
  write("C:\\WORK\\N\\caf\xc3\xa9.txt", "c");
  write("C:\\WORK\\N\\\xe5\x90\x8d.txt", "n");
  ZIPCMDSTRUCT c = command(ZIP_ADD, "C:\\OUT\\CP.ZIP", "N\\*.*");
  c.noDirectoryEntriesFlag = 1;
  ASSERT_EQ(zipCompress(&c), 0);
  EXPECT_TRUE(g_shown.has(12, "Skipping: N/\xe5\x90\x8d.txt"));
  expect_records("C:\\OUT\\CP.ZIP", "[e['name'] for e in r['entries']] == ['N/caf\\u00e9.txt']");

  write("C:\\WORK\\S\\LONGFILENAME.TXT", "1");
  write("C:\\WORK\\S\\A B.TXT", "2");
  write("C:\\WORK\\S\\OK.TXT", "3");
  write("C:\\WORK\\S\\x.html", "4");
  for (auto [option, expected] : {std::pair{ziplib::kSubSkipNon83, std::vector<std::string>{"S/OK.TXT"}},
                                  std::pair{ziplib::kSubCut83, std::vector<std::string>{"S/AB.TXT", "S/LONGFILE.TXT",
                                                                                       "S/OK.TXT", "S/x.htm"}}}) {
    const std::string zip = "C:\\OUT\\S" + std::to_string(option) + ".ZIP";
    ZIPCMDSTRUCT s = command(ZIP_ADD, zip, "S\\*.*");
    s.noDirectoryEntriesFlag = 1;
    s.wZipSubOptions = option;
    ASSERT_EQ(zipCompress(&s), 0);
    auto names = names_in(linux_path(zip));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, expected);
  }
}

TEST_F(ArchiveTest, AFoundSpellingRenamesOnlyEntriesCompressedAnew) {
  if (!have("unzip")) GTEST_SKIP() << "unzip missing";
  write("C:\\WORK\\readme.txt", "old");
  ZIPCMDSTRUCT c = command(ZIP_ADD, "C:\\OUT\\CASE.ZIP", "readme.txt");
  ASSERT_EQ(zipCompress(&c), 0);
  std::filesystem::rename(linux_path("C:\\WORK\\readme.txt"), root_.path() + "/c/work/README.TXT");
  // Not newer: freshen copies the entry as it was, under its old name.
  c.Function = ZIP_FRESHEN;
  c.lpszItemList = "README.TXT";
  ASSERT_EQ(zipCompress(&c), 0);
  expect_records("C:\\OUT\\CASE.ZIP", "[e['name'] for e in r['entries']] == ['readme.txt']");
  // Added again: compressed anew under the spelling found.
  c.Function = ZIP_ADD;
  ASSERT_EQ(zipCompress(&c), 0);
  expect_records("C:\\OUT\\CASE.ZIP", "[e['name'] for e in r['entries']] == ['README.TXT']");
  EXPECT_EQ(run("unzip -tq " + shell_quote(linux_path("C:\\OUT\\CASE.ZIP"))), 0);
}

// One split part that never fills: enough to run the multi-volume paths of
// the driver through the volume layer's calls.
struct OnePart : ziplib::VolumeLayer {
  int write_volume(ziplib::ZipState&, std::uint64_t) override { return 0; }
  std::uint64_t disk_free(ziplib::ZipState&) override { return ~0ull; }
  std::uint64_t free_room(ziplib::ZipState&) override { return ~0ull; }
  int next_part(ziplib::ZipState&) override { return ZE_TEMP; }
  int reopen_first(ziplib::ZipState& s, const std::string& first) override {
    unsigned char head[46];
    std::string name(first.size(), '\0');
    if (::pread(s.temp_fd, head, 46, 0) != 46 || ::pread(s.temp_fd, name.data(), name.size(), 46) < 0 ||
        name != first)
      return ZE_ABORT;
    s.volume_offset = 0;
    return ::lseek(s.temp_fd, 0, SEEK_SET) == 0 ? 0 : ZE_MEDIA;
  }
  int finish(ziplib::ZipState& s) override {
    ::close(s.temp_fd);
    s.temp_fd = -1;
    ::close(s.out_fd);
    s.out_fd = -1;
    return ::rename(platform::map_path(s.temp_path).c_str(), platform::map_path(s.zip_path).c_str()) ? ZE_TEMP : 0;
  }
};

TEST_F(ArchiveTest, MultiVolumeOutputGoesThroughTheVolumeLayer) {
  if (!have("unzip")) GTEST_SKIP() << "unzip missing";
  write("C:\\WORK\\M\\A.TXT", text_lines(3000, 1));
  write("C:\\WORK\\M\\B.TXT", text_lines(5000, 2));
  OnePart layer;
  ziplib::zip_current_state()->volumes = &layer;
  for (std::uint16_t first : {std::uint16_t(0), ziplib::kMvDirectoryFirst}) {
    SCOPED_TRACE(first);
    ZIPCMDSTRUCT c = command(ZIP_ADD, "C:\\OUT\\SET.ZIP", "M\\*.*");
    c.wMultiVolControl = ziplib::kMvMulti | ziplib::kMvSplit | first;
    c.LargeZIPFilesFlag = 1;
    c.encryptFlag = 1;
    c.lpszEncryptCode = "pw";
    ASSERT_EQ(zipCompress(&c), 0);
    const std::string z = shell_quote(linux_path("C:\\OUT\\SET.ZIP"));
    std::string out;
    // Each entry: a local Zip64 block and a 24-byte descriptor; the
    // directory first carries all three values in every header.
    expect_records("C:\\OUT\\SET.ZIP", "all(e['descriptor_len'] == 24 and e['local']['extra'][0]['tag'] == 1 "
                                          "for e in r['entries'])");
    if (first) {
      expect_records("C:\\OUT\\SET.ZIP", "r['end']['cd_offset'] == 0 and all(e['extra'][0]['size'] == 24 for e in "
                                            "r['entries'])");
    } else {
      EXPECT_EQ(run("unzip -tq -P pw " + z, &out), 0) << out;
    }
  }
  ziplib::zip_current_state()->volumes = nullptr;
}

}  // namespace
