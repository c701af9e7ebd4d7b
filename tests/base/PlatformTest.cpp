#include <gtest/gtest.h>

#include "base/Platform.h"

namespace kestrune {
namespace {

TEST(Platform, MessagesReachTheInstalledHandlerAndTheOldOneComesBack) {
  std::vector<MessageRequest> seen;
  MessageHandler old = SetMessageHandler([&](const MessageRequest& r) {
    seen.push_back(r);
    return MessageAnswer::Yes;
  });
  EXPECT_EQ(ShowMessage(MessageRequest{"text", "caption", MessageIcon::Question, MessageButtons::YesNo}),
            MessageAnswer::Yes);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].text, "text");
  EXPECT_EQ(seen[0].caption, "caption");
  SetMessageHandler(old);
  // Headless, a question is answered with the choice that changes nothing.
  EXPECT_EQ(ShowMessage(MessageRequest{"q", "", MessageIcon::Question, MessageButtons::YesNo}),
            MessageAnswer::No);
  EXPECT_EQ(seen.size(), 1u);
}

TEST(Platform, BeepAndWaitCursorCallTheirHandlers) {
  int beeps = 0, begins = 0, ends = 0;
  auto oldBeep = SetBeepHandler([&] { ++beeps; });
  SetWaitCursorHandlers([&] { ++begins; }, [&] { ++ends; });
  Beep();
  { WaitCursor wait; EXPECT_EQ(begins, 1); EXPECT_EQ(ends, 0); }
  EXPECT_EQ(beeps, 1);
  EXPECT_EQ(ends, 1);
  SetBeepHandler(oldBeep);
  SetWaitCursorHandlers(nullptr, nullptr);
}

}  // namespace
}  // namespace kestrune
