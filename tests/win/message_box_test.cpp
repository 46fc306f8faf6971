// Message texts put together in UTF-16 from pieces of their own code pages.
#include <windows.h>

#include <gtest/gtest.h>

#include "support/message_box_win32.h"

namespace {

TEST(WideText, EachPieceFromItsCodePageCutWholeAtTheEnd) {
    WCHAR buffer[7];
    buffer[6] = L'#';
    WideText text(buffer, 6);
    // 1252's own letters, the euro sign among them (0x80, no Latin-1 byte).
    EXPECT_TRUE(text.Append("\xE4\x80", 2, BuiltInCodePage));
    // Two Japanese characters (932) with three units left: the second's
    // lead byte would fit, the character does not.
    EXPECT_FALSE(text.Append("\x8A\xBF\x8E\x9A", 4, 932));
    EXPECT_STREQ(text.Text(), L"\u00E4\u20AC\u6F22");
    EXPECT_FALSE(text.Append("xyz", 3, BuiltInCodePage));
    EXPECT_STREQ(text.Text(), L"\u00E4\u20AC\u6F22xy");
    EXPECT_EQ(buffer[6], L'#');
}

}  // namespace
