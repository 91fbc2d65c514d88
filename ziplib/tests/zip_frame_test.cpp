#include "platform/file_io.h"
#include "testsupport/temp_root.h"
#include "ziplib/zip_messages.h"
#include "ziplib/zip_progress.h"
#include "ziplib/zip_state.h"
#include "ziplib/zip_volume.h"
#include "ziplib/ziplib.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <semaphore>
#include <string>
#include <thread>
#include <vector>

using namespace ziplib;

namespace {

struct Prompt {
  int type, buttons, n1;
  std::string text;
};
std::vector<Prompt> g_prompts;
int g_boxes = 0;

int record_prompts(int code, int buttons, int n1, int, char* text, char*, void*) {
  if (code != 13) g_prompts.push_back({code, buttons, n1, text});
  return 1;
}
int count_box(const char*, const char*, int) { return ++g_boxes, IDOK; }

// What the operation stage saw, and what it should do.
struct Seen {
  int calls = 0;
  int level = 0;
  std::string title;
  int mode = -1;
  int result = 0;
  int major_answer = 0;
};
Seen g_seen;

int fake_operation(ZipState& s) {
  ++g_seen.calls;
  g_seen.level = s.record_level;
  g_seen.title = s.title;
  g_seen.mode = s.internal_mode;
  if (zip_major_status(s, "Item 1 of 1", 1, 1) != 0) return ZE_ABORT;
  return g_seen.result;
}
const OperationStages kFake = {fake_operation, fake_operation};

class ZipFrame : public ::testing::Test {
 protected:
  void SetUp() override {
    zipInit(nullptr);
    zipAttachThread();
    set_operation_stages(&kFake);
    set_message_box(count_box);
    g_prompts.clear();
    g_boxes = 0;
    g_seen = Seen{};
  }
  void TearDown() override {
    set_operation_stages(nullptr);
    set_message_box(nullptr);
    zipDetachThread();
  }

  ZIPCMDSTRUCT record(std::int32_t size, std::int32_t function = ZIP_ADD) {
    ZIPCMDSTRUCT c{};
    c.structSize = size;
    c.Function = function;
    c.lpszZIPFile = "C:\\OUT\\ARC.ZIP";
    c.lpszItemList = "C:\\DATA\\*.*";
    if (size >= kZipCmdV160) c.lpMessageDisplay = record_prompts;
    return c;
  }

  testsupport::TempRoot root;
};

}  // namespace

TEST_F(ZipFrame, UnknownSizeIsRefusedAndTheThreadStaysUsable) {
  ZIPCMDSTRUCT c = record(kZipCmdV220);
  c.structSize = 100;
  EXPECT_EQ(zipCompress(&c), ZE_PARMS);
  EXPECT_EQ(g_seen.calls, 0);
  EXPECT_FALSE(zip_current_state()->busy);
  c = record(kZipCmdV220);
  EXPECT_EQ(zipCompress(&c), 0);
  EXPECT_EQ(g_seen.calls, 1);
}

TEST_F(ZipFrame, VersionsSetLevelTitleAndWhetherCallbacksCancel) {
  auto major_says_cancel = [](const char*, int, void*) { return 1; };
  ZIPCMDSTRUCT old = record(kZipCmdV148);
  old.lpMajorStatus = major_says_cancel;
  old.lpszExtProgTitle = "ignored: not part of this version";
  EXPECT_EQ(zipCompress(&old), 0);
  EXPECT_EQ(g_seen.level, kLevel148);
  EXPECT_EQ(g_seen.title, "Compress Progress");

  ZIPCMDSTRUCT v188 = record(kZipCmdV188);
  v188.lpszExtProgTitle = "Backing up";
  EXPECT_EQ(zipCompress(&v188), 0);
  EXPECT_EQ(g_seen.level, kLevel188);
  EXPECT_EQ(g_seen.title, "Backing up");

  ZIPCMDSTRUCT v220 = record(kZipCmdV220);
  v220.lpMajorStatus = major_says_cancel;
  EXPECT_EQ(zipCompress(&v220), ZE_ABORT);
  EXPECT_EQ(g_seen.level, kLevel220);
}

TEST_F(ZipFrame, FunctionCodesAreChecked) {
  for (int f : {0, 8}) {
    ZIPCMDSTRUCT c = record(kZipCmdV220, f);
    EXPECT_EQ(zipCompress(&c), ZE_PARMS) << f;
  }
  // No callback record before version 188.
  ZIPCMDSTRUCT v160 = record(kZipCmdV160, ZIP_CALLBACK_ADD);
  EXPECT_EQ(zipCompress(&v160), ZE_PARMS);
  ZIPCMDSTRUCT mem = record(kZipCmdV220, ZIP_MEMTOMEM);  // must not name an archive
  CALLBACKSTRUCT cb{0, [](int, unsigned char*, std::uint32_t*, std::uint64_t, std::uint64_t, void*, int*) {}, nullptr};
  mem.lpCallbackStruct = &cb;
  EXPECT_EQ(zipCompress(&mem), ZE_PARMS);
  mem.lpszZIPFile = "";
  mem.lpszItemList = "";
  EXPECT_EQ(zipCompress(&mem), 0);
  ZIPCMDSTRUCT noname = record(kZipCmdV220);
  noname.lpszZIPFile = nullptr;
  EXPECT_EQ(zipCompress(&noname), ZE_PARMS);
  EXPECT_EQ(g_seen.calls, 1);

  // Functions map to the driver's modes; 4, 5 and 7 all add.
  const int modes[] = {0, 3, 0, 2, 1, 1};
  for (int f = 1; f <= 5; ++f) {
    ZIPCMDSTRUCT c = record(kZipCmdV220, f);
    EXPECT_EQ(zipCompress(&c), 0);
    EXPECT_EQ(g_seen.mode, modes[f]) << f;
  }
}

TEST_F(ZipFrame, ErrorsAreReportedOnceThroughTheMessageCallbackUnlessQuiet) {
  ZIPCMDSTRUCT c = record(kZipCmdV220, 8);
  EXPECT_EQ(zipCompress(&c), ZE_PARMS);
  ASSERT_EQ(g_prompts.size(), 1u);
  EXPECT_EQ(g_prompts[0].type, 11);
  EXPECT_EQ(g_prompts[0].n1, ZE_PARMS);
  EXPECT_EQ(g_prompts[0].text, "Invalid control parameters\n");

  g_prompts.clear();
  c.quietFlag = 1;
  EXPECT_EQ(zipCompress(&c), ZE_PARMS);
  EXPECT_TRUE(g_prompts.empty());

  // A detail follows the text in parentheses.
  g_prompts.clear();
  ZipState& s = *zip_current_state();
  s.report_count = 0;
  s.quiet = false;
  s.message_proc = record_prompts;
  zip_report_error(s, ZE_TEMP, "C:\\TEMP\\0Aa00001");
  zip_report_error(s, ZE_WRITE);  // only the first report counts
  ASSERT_EQ(g_prompts.size(), 1u);
  EXPECT_EQ(g_prompts[0].text, "Temporary file failure (C:\\TEMP\\0Aa00001)\n");
  EXPECT_EQ(s.error, ZE_TEMP);
}

TEST_F(ZipFrame, MultiVolumeConditions) {
  ZIPCMDSTRUCT c = record(kZipCmdV220, ZIP_UPDATE);
  c.lpszZIPFile = "A:\\ARC.ZIP";
  c.wMultiVolControl = kMvMulti;
  EXPECT_EQ(zipCompress(&c), ZE_MVPARMS);

  c = record(kZipCmdV220);
  c.wMultiVolControl = kMvMulti | kMvSplit | kMvFormat;
  EXPECT_EQ(zipCompress(&c), ZE_MVPARMS);

  // Spanning needs a removable target...
  g_prompts.clear();
  c = record(kZipCmdV220);
  c.wMultiVolControl = kMvMulti;
  EXPECT_EQ(zipCompress(&c), ZE_MVPARMS);
  ASSERT_FALSE(g_prompts.empty());
  EXPECT_EQ(g_prompts[0].type, 5);
  EXPECT_EQ(g_prompts[0].text, "Target Media is NON-Removable and can not be used for a Multi-Volume operation.");

  // ...whose volume holds none of the items.
  g_prompts.clear();
  c.lpszZIPFile = "A:\\ARC.ZIP";
  c.lpszItemList = "C:\\DATA\\ONE.DAT \"a:\\two words.dat\"";
  EXPECT_EQ(zipCompress(&c), ZE_MVPARMS);
  ASSERT_FALSE(g_prompts.empty());
  EXPECT_EQ(g_prompts[0].type, 6);
  EXPECT_EQ(g_seen.calls, 0);

  c.lpszItemList = "C:\\DATA\\ONE.DAT";
  EXPECT_EQ(zipCompress(&c), 0);
}

TEST_F(ZipFrame, ReentryFromACallbackIsRefusedAndTheOuterCallGoesOn) {
  static int inner = -1;
  static ZIPCMDSTRUCT nested;
  nested = record(kZipCmdV220);
  nested.quietFlag = 1;
  ZIPCMDSTRUCT c = record(kZipCmdV220);
  c.lpMajorStatus = [](const char*, int, void*) {
    inner = zipCompress(&nested);
    return 0;
  };
  EXPECT_EQ(zipCompress(&c), 0);
  EXPECT_EQ(inner, ZE_BUSY);
  EXPECT_EQ(g_seen.calls, 1);
  EXPECT_FALSE(zip_current_state()->busy);
}

TEST_F(ZipFrame, AThreadThatNeverAttachedIsAttachedOnDemand) {
  int rc = -1;
  bool attached = false;
  std::thread t([&] {
    ZIPCMDSTRUCT c = record(kZipCmdV220);
    rc = zipCompress(&c);
    attached = zip_current_state() != nullptr;
    zipDetachThread();
  });
  t.join();
  EXPECT_EQ(rc, 0);
  EXPECT_TRUE(attached);
}

TEST_F(ZipFrame, StoppingEndsEveryThreadsAttachment) {
  std::binary_semaphore attached{0}, stopped{0}, tried{0}, restarted{0};
  int after_stop = -1, detach_after_stop = -1, after_restart = -1;
  bool state_after_stop = true;
  std::thread t([&] {
    zipAttachThread();
    attached.release();
    stopped.acquire();
    ZIPCMDSTRUCT c = record(kZipCmdV220);
    after_stop = zipCompress(&c);
    state_after_stop = zip_current_state() != nullptr;
    detach_after_stop = zipDetachThread();
    tried.release();
    restarted.acquire();
    after_restart = zipCompress(&c);
    zipDetachThread();
  });
  attached.acquire();
  EXPECT_EQ(zipTerm(), 1);
  EXPECT_EQ(zip_current_state(), nullptr);
  EXPECT_EQ(zipTerm(), 0);
  stopped.release();
  tried.acquire();
  EXPECT_EQ(after_stop, ZE_MEM);
  EXPECT_FALSE(state_after_stop);
  EXPECT_EQ(detach_after_stop, 0);
  EXPECT_EQ(g_seen.calls, 0);

  zipInit(nullptr);
  restarted.release();
  t.join();
  EXPECT_EQ(after_restart, 0);  // attached afresh
  EXPECT_EQ(g_seen.calls, 1);

  // Stopped from inside a callback: the running call ends normally.
  zipAttachThread();
  ZIPCMDSTRUCT c = record(kZipCmdV220);
  c.lpMajorStatus = [](const char*, int, void*) { return zipTerm() - 1; };
  EXPECT_EQ(zipCompress(&c), 0);
  EXPECT_EQ(zip_current_state(), nullptr);
  zipInit(nullptr);
  zipAttachThread();
}

TEST_F(ZipFrame, TemporaryNamesAreCreatedExclusively) {
  root.write("C:\\TEMP\\keep", "");
  std::string first, second;
  const long tid = 37 * 11 + 10;  // characters "A" and "B"
  int a = zip_create_temp("C:\\TEMP", tid, &first);
  int b = zip_create_temp("C:\\TEMP\\", tid, &second);
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  EXPECT_EQ(first, "C:\\TEMP\\~AB00417.a~");
  EXPECT_EQ(second, "C:\\TEMP\\~AB00417.b~");
  // The file layer knows them for temporaries; a name of the old form is a
  // file like any other.
  EXPECT_TRUE(platform::is_temporary_name("~AB00417.a~"));
  EXPECT_TRUE(platform::is_temporary_name("~AB00417.A~"));
  EXPECT_FALSE(platform::is_temporary_name("ABa00417"));
  EXPECT_FALSE(platform::is_temporary_name("8Ga14290"));
  EXPECT_FALSE(platform::is_temporary_name("~AB00417.TXT"));
  ::close(a);
  ::close(b);
  EXPECT_EQ(zip_create_temp("C:\\NO\\SUCH", tid, nullptr), -1);
}

TEST_F(ZipFrame, PartNames) {
  EXPECT_EQ(zip_part_name("C:\\OUT\\ARC.ZIP", 1, false), "C:\\OUT\\ARC.z01");
  EXPECT_EQ(zip_part_name("C:\\OUT\\ARC.ZIP", 99, false), "C:\\OUT\\ARC.z99");
  EXPECT_EQ(zip_part_name("C:\\OUT\\ARC.ZIP", 100, false), "C:\\OUT\\ARC.100");
  EXPECT_EQ(zip_part_name("C:\\OUT\\ARC.ZIP", 2, true), "C:\\OUT\\ARC.ZIP.z02");
  EXPECT_EQ(zip_part_name("C:\\A.B\\ARC", 3, false), "C:\\A.B\\ARC.z03");
}

TEST_F(ZipFrame, AFailedSplitLeavesNoPartInEitherNamingForm) {
  static testsupport::TempRoot* r = &root;
  g_seen.result = ZE_WRITE;
  struct Stage {
    static int op(ZipState& s) {
      // The first part is open; later parts exist under both forms.
      EXPECT_GE(s.temp_fd, 0);
      r->write("C:\\OUT\\ARC.z02", "x");
      r->write("C:\\OUT\\ARC.ZIP.z03", "x");
      r->write("C:\\OUT\\ARC.ZIP", "x");
      return ZE_WRITE;
    }
  };
  static const OperationStages split_stages = {Stage::op, Stage::op};
  set_operation_stages(&split_stages);
  ZIPCMDSTRUCT c = record(kZipCmdV220);
  c.wMultiVolControl = kMvMulti | kMvSplit;
  EXPECT_EQ(zipCompress(&c), ZE_WRITE);
  for (const char* p : {"C:\\OUT\\ARC.z01", "C:\\OUT\\ARC.ZIP.z01", "C:\\OUT\\ARC.z02", "C:\\OUT\\ARC.ZIP.z03",
                        "C:\\OUT\\ARC.ZIP"})
    EXPECT_FALSE(root.exists(p)) << p;
}
