// The installer's resources as the program file carries them: the dialog
// templates item by item, the icon group and the manifest.
#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "installer/install_win32.h"

namespace {

struct Item {
    uint32_t style;
    int16_t x, y, cx, cy;
    uint16_t id;
    std::string className;  // upper case; an atom is given by its name
    std::string text;
};

struct Dialog {
    uint32_t style;
    int16_t x, y, cx, cy;
    std::string caption;
    std::string font;
    uint16_t pointSize = 0;
    std::vector<Item> items;
};

class Reader {
public:
    explicit Reader(const uint8_t* p) : p_(p) {}
    uint16_t Word() {
        uint16_t w;
        std::memcpy(&w, p_, 2);
        p_ += 2;
        return w;
    }
    uint32_t Dword() {
        uint32_t d;
        std::memcpy(&d, p_, 4);
        p_ += 4;
        return d;
    }
    std::string Text() {  // a NUL-terminated UTF-16 string, as ANSI (Latin-1 here)
        std::string out;
        for (uint16_t c = Word(); c != 0; c = Word()) out += static_cast<char>(c);
        return out;
    }
    // A name or ordinal field: 0, 0xFFFF + ordinal, or a string.
    uint16_t Ordinal(std::string* name) {
        uint16_t first = Word();
        if (first == 0) return 0;
        if (first == 0xFFFF) return Word();
        p_ -= 2;
        *name = Text();
        return 0;
    }
    void AlignDword(const uint8_t* base) {
        while ((p_ - base) % 4 != 0) ++p_;
    }

private:
    const uint8_t* p_;
};

std::string AtomName(uint16_t atom) {
    switch (atom) {
        case 0x80: return "BUTTON";
        case 0x81: return "EDIT";
        case 0x82: return "STATIC";
        case 0x83: return "LISTBOX";
        default: {
            std::string name = "#";
            name += std::to_string(atom);
            return name;
        }
    }
}

Dialog ParseDialog(const uint8_t* data) {
    Reader r(data);
    Dialog d;
    d.style = r.Dword();
    r.Dword();  // extended style
    uint16_t count = r.Word();
    d.x = static_cast<int16_t>(r.Word());
    d.y = static_cast<int16_t>(r.Word());
    d.cx = static_cast<int16_t>(r.Word());
    d.cy = static_cast<int16_t>(r.Word());
    std::string ignored;
    r.Ordinal(&ignored);  // menu
    r.Ordinal(&ignored);  // class
    d.caption = r.Text();
    if (d.style & DS_SETFONT) {
        d.pointSize = r.Word();
        d.font = r.Text();
    }
    for (uint16_t i = 0; i < count; ++i) {
        r.AlignDword(data);
        Item item;
        item.style = r.Dword();
        r.Dword();
        item.x = static_cast<int16_t>(r.Word());
        item.y = static_cast<int16_t>(r.Word());
        item.cx = static_cast<int16_t>(r.Word());
        item.cy = static_cast<int16_t>(r.Word());
        item.id = r.Word();
        uint16_t atom = r.Ordinal(&item.className);
        if (atom != 0) item.className = AtomName(atom);
        for (char& c : item.className) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        r.Ordinal(&item.text);
        uint16_t extra = r.Word();
        EXPECT_EQ(extra, 0);
        d.items.push_back(item);
    }
    return d;
}

class InstallResources : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = LoadLibraryExA(CE_BINARY_DIR "\\installer\\install.exe", nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module_, nullptr);
    }
    void TearDown() override {
        if (module_) FreeLibrary(module_);
    }
    const uint8_t* Resource(const char* name, LPCSTR type, DWORD* size = nullptr) {
        HRSRC found = FindResourceA(module_, name, type);
        if (!found) return nullptr;
        if (size) *size = SizeofResource(module_, found);
        return static_cast<const uint8_t*>(LockResource(LoadResource(module_, found)));
    }
    HMODULE module_ = nullptr;
};

void ExpectItem(const Item& item, uint16_t id, const char* className, const char* text, int x, int y, int cx, int cy,
                uint32_t style) {
    SCOPED_TRACE(id);
    EXPECT_EQ(item.id, id);
    EXPECT_EQ(item.className, className);
    EXPECT_EQ(item.text, text);
    EXPECT_EQ(item.x, x);
    EXPECT_EQ(item.y, y);
    EXPECT_EQ(item.cx, cx);
    EXPECT_EQ(item.cy, cy);
    EXPECT_EQ(item.style, style);
}

TEST_F(InstallResources, LanguageDialog) {
    const uint8_t* data = Resource("LANGUAGEDIALOG", RT_DIALOG);
    ASSERT_NE(data, nullptr);
    Dialog d = ParseDialog(data);
    EXPECT_EQ(d.style, 0x80C80080u);
    EXPECT_EQ(d.caption, "");
    EXPECT_EQ(std::vector<int>({d.x, d.y, d.cx, d.cy}), std::vector<int>({98, 66, 142, 121}));
    ASSERT_EQ(d.items.size(), 4u);
    ExpectItem(d.items[0], 110, "STATIC", "", 3, 4, 136, 26, 0x50020000 | SS_NOPREFIX);
    ExpectItem(d.items[1], 100, "LISTBOX", "", 4, 33, 133, 66, 0x50A10001);
    ExpectItem(d.items[2], 1, "BUTTON", "Ok", 4, 102, 50, 14, 0x50010001);
    ExpectItem(d.items[3], 2, "BUTTON", "Cancel", 87, 102, 50, 14, 0x50010000);
}

TEST_F(InstallResources, InputDialog) {
    const uint8_t* data = Resource("MYINPUTDIALOG", RT_DIALOG);
    ASSERT_NE(data, nullptr);
    Dialog d = ParseDialog(data);
    EXPECT_EQ(d.style, 0x80C00040u);
    EXPECT_EQ(d.caption, "");
    EXPECT_EQ(d.font, "Helv");
    EXPECT_EQ(d.pointSize, 8);
    EXPECT_EQ(std::vector<int>({d.x, d.y, d.cx, d.cy}), std::vector<int>({20, 24, 180, 64}));
    ASSERT_EQ(d.items.size(), 5u);
    ExpectItem(d.items[0], 101, "EDIT", "", 13, 20, 153, 12, 0x50810080);
    ExpectItem(d.items[1], 100, "STATIC", "", 10, 8, 160, 10, 0x50020000 | SS_NOPREFIX);
    ExpectItem(d.items[2], 1, "BUTTON", "OK", 47, 42, 40, 14, 0x50010001);
    ExpectItem(d.items[3], 2, "BUTTON", "Cancel", 93, 42, 40, 14, 0x50010000);
    ExpectItem(d.items[4], 102, "BUTTON", "...", 167, 20, 10, 12, 0x50010000);
}

TEST_F(InstallResources, TwoBarProgressDialog) {
    const uint8_t* data = Resource("DLG2FILEACTIONMIN", RT_DIALOG);
    ASSERT_NE(data, nullptr);
    Dialog d = ParseDialog(data);
    EXPECT_EQ(d.style, static_cast<uint32_t>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT));
    EXPECT_EQ(d.caption, "Unpacking files...");
    EXPECT_EQ(d.font, "MS Sans Serif");
    EXPECT_EQ(std::vector<int>({d.x, d.y, d.cx, d.cy}), std::vector<int>({78, 20, 252, 85}));
    ASSERT_EQ(d.items.size(), 5u);
    const uint32_t child = WS_CHILD | WS_VISIBLE;
    ExpectItem(d.items[0], 120, "STATIC", "Unzip:", 62, 4, 128, 10, child | SS_CENTER | SS_NOPREFIX);
    ExpectItem(d.items[1], 130, "STATIC", "", 5, 18, 242, 19, child | SS_NOPREFIX);
    ExpectItem(d.items[2], 2, "BUTTON", "&Cancel", 95, 69, 61, 14, child | BS_DEFPUSHBUTTON | WS_TABSTOP);
    ExpectItem(d.items[3], 200, "STATIC", "", 18, 39, 216, 13, child | SS_BLACKFRAME);
    ExpectItem(d.items[4], 210, "STATIC", "", 18, 54, 216, 13, child | SS_BLACKFRAME);
}

// An "&" in the author's title or copyright is drawn, not taken for a
// shortcut: the text measures as wide as its plain extent.
TEST(Backdrop, DrawsAmpersandsAsText) {
    HDC hdc = GetDC(nullptr);
    ASSERT_NE(hdc, nullptr);
    const char text[] = "Field & Forest";
    SIZE plain = {};
    ASSERT_TRUE(GetTextExtentPoint32A(hdc, text, static_cast<int>(sizeof text - 1), &plain));
    for (UINT format : {BackdropTitleFormat, BackdropCopyrightFormat}) {
        RECT r = {0, 0, 2000, 500};
        DrawTextA(hdc, text, -1, &r, format | DT_CALCRECT);
        EXPECT_EQ(r.right - r.left, plain.cx) << format;
    }
    ReleaseDC(nullptr, hdc);
}

TEST_F(InstallResources, IconAndManifest) {
    EXPECT_NE(Resource("MAINICON", RT_GROUP_ICON), nullptr);
    EXPECT_EQ(Resource("QUILLONAPP", RT_GROUP_ICON), nullptr);
    DWORD size = 0;
    const uint8_t* manifest = Resource(MAKEINTRESOURCEA(1), RT_MANIFEST, &size);
    ASSERT_NE(manifest, nullptr);
    std::string text(reinterpret_cast<const char*>(manifest), size);
    EXPECT_NE(text.find("level=\"highestAvailable\" uiAccess=\"false\""), std::string::npos);
    EXPECT_NE(text.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos);
}

}  // namespace
