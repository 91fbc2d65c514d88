#include "ziplib/zip_messages.h"
#include "ziplib/zip_progress.h"
#include "ziplib/zip_state.h"
#include "ziplib/ziplib.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace ziplib;

namespace {

int g_calls = 0;
int g_answer = 0;
std::string g_text, g_title;
int g_boxes = 0;

int host(int code, int, int, int, char* text, char* title, void*) {
  ++g_calls;
  if (code == 13) {
    if (std::strcmp(text, "aborting") == 0) std::memset(text, 'x', kMessageBufferSize);  // fills it, no NUL
    return 0;
  }
  g_text = text;
  g_title = title;
  return g_answer;
}
int box(const char*, const char*, int) { return ++g_boxes, 4; }
int g_pumps = 0;
void count_pump() { ++g_pumps; }

class ZipMessages : public ::testing::Test {
 protected:
  void SetUp() override {
    zipInit(nullptr);
    zipAttachThread();
    s = zip_current_state();
    s->message_proc = host;
    set_message_box(box);
    g_calls = g_boxes = g_answer = 0;
  }
  void TearDown() override {
    set_message_box(nullptr);
    zipDetachThread();
  }
  ZipState* s = nullptr;
};

}  // namespace

TEST_F(ZipMessages, TextsComeFromTheTableThroughTheHost) {
  EXPECT_STREQ(zipMessageText(256 + ZE_WRITE, 0), "Output file write failure, possible disk full");
  EXPECT_STREQ(zipMessageText(108, 0), "\\ARCLYNX.LOG");
  EXPECT_EQ(g_calls, 2);
  EXPECT_STREQ(zipMessageText(999, 0), "");
  EXPECT_EQ(g_calls, 2);  // an unknown id never reaches the host
  // The buffer index is clamped.
  EXPECT_EQ(zipMessageText(102, 7), zipMessageText(103, 2));
  EXPECT_EQ(zipMessageText(102, -3), zipMessageText(103, 0));
}

TEST_F(ZipMessages, AHostThatFillsTheBufferStillLeavesAString) {
  const char* t = zipMessageText(102, 1);  // "aborting", rewritten by the host
  EXPECT_EQ(std::strlen(t), std::size_t(kMessageBufferSize - 1));
}

TEST_F(ZipMessages, PromptAnswersMustBeButtonsOfTheStyle) {
  g_answer = IDYES;  // not a button of OK/Cancel: the message box decides
  EXPECT_EQ(zipVolumePrompt(0, MB_OKCANCEL, 3, 0, nullptr, *s), 4);
  EXPECT_EQ(g_boxes, 1);
  EXPECT_EQ(g_text, "Please insert Disk Volume 3.  \nPress OK when ready or Cancel to abort.");
  EXPECT_EQ(g_title, "ArcLynx ZIP Request");

  g_answer = IDCANCEL;
  EXPECT_EQ(zipVolumePrompt(1, MB_OKCANCEL, 2, 5, nullptr, *s), IDCANCEL);
  EXPECT_EQ(g_text, "Please insert Disk Volume 2 of 5. \nPress OK when ready or Cancel to abort.");
  EXPECT_EQ(g_boxes, 1);

  // A part-ready notice never shows a box.
  g_answer = 0;
  EXPECT_EQ(zipVolumePrompt(14, MB_OK, 1, 0, "C:\\OUT\\ARC.z01", *s), -1);
  s->message_proc = nullptr;
  EXPECT_EQ(zipVolumePrompt(14, MB_OK, 1, 0, "C:\\OUT\\ARC.z01", *s), 1);
  EXPECT_EQ(g_boxes, 1);
}

// The host's windows get their messages once a box has gone, unless the
// command turned pumping off; an answer from the callback shows no box.
TEST_F(ZipMessages, AMessageBoxIsFollowedByThePump) {
  set_message_pump(count_pump);
  g_pumps = 0;
  g_answer = IDOK;
  zipVolumePrompt(12, MB_OK, 0, 0, "zip file empty", *s);
  EXPECT_EQ(g_pumps, 0);
  g_answer = IDYES;  // not a button of the style
  zipVolumePrompt(12, MB_OK, 0, 0, "zip file empty", *s);
  EXPECT_EQ(g_boxes, 1);
  EXPECT_EQ(g_pumps, 1);
  s->sub_options = kSubNoPump;
  zipVolumePrompt(12, MB_OK, 0, 0, "zip file empty", *s);
  EXPECT_EQ(g_boxes, 2);
  EXPECT_EQ(g_pumps, 1);
  set_message_pump(nullptr);
}

TEST_F(ZipMessages, ErrorPromptsCarryTextOnlyForErrorCodes) {
  g_answer = IDOK;
  zipVolumePrompt(11, MB_OK, 14, 0, "disk full\n", *s);
  EXPECT_EQ(g_text, "disk full\n");
  EXPECT_EQ(g_title, "ArcLynx ZIP Error");
  zipVolumePrompt(11, MB_OK, 40, 0, "disk full\n", *s);
  EXPECT_EQ(g_text, "");
  zipVolumePrompt(12, MB_OK, 0, 0, "zip file empty", *s);
  EXPECT_EQ(g_title, "ArcLynx ZIP Warning");
}

TEST_F(ZipMessages, RewrittenFormatsCannotReachBeyondTheirArguments) {
  EXPECT_EQ(zip_format("Disk %d of %d", {2, 5}), "Disk 2 of 5");
  EXPECT_EQ(zip_format("%s and %s %n %d", {"one"}), "one and  %n 0");
  EXPECT_EQ(zip_format("lpszZIPFile: %#08lx \r\n", {0x1234}), "lpszZIPFile: 0x001234 \r\n");
  EXPECT_EQ(zip_format("100%% %c:", {'A'}), "100% A:");
}
