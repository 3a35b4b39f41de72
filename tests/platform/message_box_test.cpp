#include "platform/core/message_box.h"

#include <gtest/gtest.h>

#include "platform/core/error.h"

namespace platform {
namespace {

TEST(MessageBox, TitleColonPromptWithCrLfAsLineBreak) {
  testing::internal::CaptureStderr();
  MessageBox("An unexpected error occurred while running the Catalog Sync.\r\n" +
                 ErrorNumberLine(13, "Type mismatch"),
             kCriticalOkOnly, "UpdateAssay 12");
  Error e(err::kTypeMismatch);
  e.AddDetail("column", "Tests.Tests_Name").AddDetail("value", "two\nlines");
  WriteDetails(e);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "UpdateAssay 12: An unexpected error occurred while running the Catalog Sync.\n"
            "Error Number: 13 Type mismatch\n"
            "detail: column: Tests.Tests_Name\n"
            "detail: value: two lines\n");
}

}  // namespace
}  // namespace platform
