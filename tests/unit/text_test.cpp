#include <gtest/gtest.h>

#include <string>

#include "support/text.h"

TEST(TextCopyMax, CutsAtTheLimitAndAlwaysTerminates) {
    std::string source(300, 'x');
    char buffer[PathBufferSize + 8];
    TextCopyMax(buffer, source.c_str(), PathMaxChars);
    EXPECT_EQ(TextLength(buffer), 259u);
    TextCopyMax(buffer, "abc", 0);
    EXPECT_EQ(buffer[0], 0);
}
