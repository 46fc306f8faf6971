// The version resource against bytes laid out by hand from Microsoft's
// VS_VERSIONINFO, StringFileInfo, String and VarFileInfo pages, so that the
// writer and python3-pefile (the branding check) cannot share a mistake.
#include <gtest/gtest.h>

#include <string>

#include "tools/cepack/pe_resources.h"

namespace {

void U16(std::string* b, unsigned v) { *b += static_cast<char>(v & 0xFF), *b += static_cast<char>(v >> 8); }
void U32(std::string* b, unsigned v) { U16(b, v & 0xFFFF), U16(b, v >> 16); }
// A key or value in UTF-16 with its NUL; ASCII only here.
void Text(std::string* b, const char* text) {
    for (const char* p = text; *p; ++p) U16(b, static_cast<unsigned char>(*p));
    U16(b, 0);
}
void Pad(std::string* b) {
    while (b->size() % 4) *b += '\0';
}

TEST(VersionResource, MatchesTheLayoutWorkedOutByHand) {
    std::string want;
    // 0: VS_VERSIONINFO, 356 bytes, a 52-byte VS_FIXEDFILEINFO, binary; key to 38, padded to 40.
    U16(&want, 356), U16(&want, 52), U16(&want, 0), Text(&want, "VS_VERSION_INFO"), Pad(&want);
    // 40: signature, structure version 1.0, file and product version 2.1.0.0, flags mask 0x3F,
    // flags 0, VOS_NT_WINDOWS32, VFT_APP, no subtype, no date.
    for (unsigned v : {0xFEEF04BDu, 0x00010000u, 0x00020001u, 0u, 0x00020001u, 0u, 0x3Fu, 0u, 0x00040004u, 1u, 0u, 0u,
                       0u}) {
        U32(&want, v);
    }
    // 92: StringFileInfo, 196 bytes, text; key to 128.
    U16(&want, 196), U16(&want, 0), U16(&want, 1), Text(&want, "StringFileInfo"), Pad(&want);
    // 128: the table for US English, code page 1252, 160 bytes; key to 152.
    U16(&want, 160), U16(&want, 0), U16(&want, 1), Text(&want, "040904E4"), Pad(&want);
    // 152: FileDescription, 52 bytes, value of 6 characters with its NUL; key to 190, padded to 192.
    U16(&want, 52), U16(&want, 6), U16(&want, 1), Text(&want, "FileDescription"), Pad(&want), Text(&want, "Setup");
    // 204: FileVersion, 40 bytes, 4 characters; key to 234, padded to 236; value to 244.
    Pad(&want), U16(&want, 40), U16(&want, 4), U16(&want, 1), Text(&want, "FileVersion"), Pad(&want);
    Text(&want, "2.1");
    // 244: ProductVersion, 44 bytes; key to 280; value to 288. No company, copyright,
    // product or file name: those strings are left out.
    U16(&want, 44), U16(&want, 4), U16(&want, 1), Text(&want, "ProductVersion"), Pad(&want), Text(&want, "2.1");
    // 288: VarFileInfo, 68 bytes; key to 318, padded to 320.
    U16(&want, 68), U16(&want, 0), U16(&want, 1), Text(&want, "VarFileInfo"), Pad(&want);
    // 320: Translation, 36 bytes, one 4-byte value, binary; key to 350, padded to 352; value to 356.
    U16(&want, 36), U16(&want, 4), U16(&want, 0), Text(&want, "Translation"), Pad(&want);
    U16(&want, 0x0409), U16(&want, 1252);
    ASSERT_EQ(want.size(), 356u);

    cepack::Branding branding;
    branding.version = "2.1";
    std::string got, reason;
    ASSERT_TRUE(cepack::VersionResourceOf(branding, &got, &reason)) << reason;
    EXPECT_EQ(got, want);
}

}  // namespace
