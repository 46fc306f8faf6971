// PumpMessages against a real message queue: windows need a display, so
// these tests run under Xvfb (they skip where no window can be made).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/platform.h"

namespace {

struct Seen {
    int user = 0;
    int chars = 0;
    int cancels = 0;
    int keysAtButton = 0;
};
Seen TheSeen;

LRESULT CALLBACK RecordingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_USER + 1) ++TheSeen.user;
    if (message == WM_CHAR) ++TheSeen.chars;
    return DefWindowProcA(window, message, wParam, lParam);
}

INT_PTR CALLBACK RecordingDialogProc(HWND, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        ++TheSeen.cancels;
        return TRUE;
    }
    return FALSE;
}

WNDPROC OriginalButtonProc = nullptr;
LRESULT CALLBACK ClickCountingButtonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_KEYDOWN) ++TheSeen.keysAtButton;  // the key reached the control itself
    return CallWindowProcA(OriginalButtonProc, window, message, wParam, lParam);
}

bool QueueIsEmpty() {
    MSG message;
    return !PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
}

// A dialog with one default push button "Cancel" (IDCANCEL), built in memory.
std::vector<WORD> CancelDialogTemplate() {
    std::vector<WORD> t;
    auto dword = [&](DWORD v) {
        t.push_back(LOWORD(v));
        t.push_back(HIWORD(v));
    };
    auto text = [&](const wchar_t* s) {
        do t.push_back(static_cast<WORD>(*s)); while (*s++);
    };
    dword(WS_POPUP | WS_CAPTION | WS_VISIBLE | DS_MODALFRAME);
    dword(0);
    t.push_back(1);  // one control
    t.push_back(0), t.push_back(0), t.push_back(120), t.push_back(50);
    t.push_back(0);  // no menu
    t.push_back(0);  // standard class
    text(L"Test");
    if (t.size() % 2) t.push_back(0);  // controls start on a DWORD boundary
    dword(WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON);
    dword(0);
    t.push_back(35), t.push_back(20), t.push_back(50), t.push_back(14);
    t.push_back(IDCANCEL);
    t.push_back(0xFFFF), t.push_back(0x0080);  // button class
    text(L"Cancel");
    t.push_back(0);  // no creation data
    return t;
}

class Pump : public ::testing::Test {
protected:
    void SetUp() override {
        TheSeen = Seen{};
        PumpDialogWindow = nullptr;
        WNDCLASSA cls = {};
        cls.lpfnWndProc = RecordingWindowProc;
        cls.hInstance = GetModuleHandleA(nullptr);
        cls.lpszClassName = "CePumpTestWindow";
        RegisterClassA(&cls);
        window_ = CreateWindowExA(0, cls.lpszClassName, "pump", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                                  nullptr, cls.hInstance, nullptr);
        if (window_ == nullptr) GTEST_SKIP() << "no window can be made here (no display; run under xvfb-run)";
        PumpMessages();  // whatever creating the window queued
        TheSeen = Seen{};
    }
    void TearDown() override {
        PumpDialogWindow = nullptr;
        if (dialog_) DestroyWindow(dialog_);
        if (window_) DestroyWindow(window_);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        }
    }
    HWND MakeCancelDialog() {
        std::vector<WORD> t = CancelDialogTemplate();
        dialog_ = CreateDialogIndirectParamA(GetModuleHandleA(nullptr), reinterpret_cast<LPCDLGTEMPLATEA>(t.data()),
                                             nullptr, RecordingDialogProc, 0);
        return dialog_;
    }

    HWND window_ = nullptr;
    HWND dialog_ = nullptr;
};

}  // namespace

TEST_F(Pump, DispatchesAndTranslatesEveryMessage) {
    for (int i = 0; i < 3; ++i) PostMessageA(window_, WM_USER + 1, 0, 0);
    // A key press becomes a character only through TranslateMessage.
    PostMessageA(window_, WM_KEYDOWN, 'A', 1);
    PostThreadMessageA(GetCurrentThreadId(), WM_USER + 2, 0, 0);
    PumpMessages();
    EXPECT_EQ(TheSeen.user, 3);
    EXPECT_EQ(TheSeen.chars, 1);
    EXPECT_TRUE(QueueIsEmpty());
}

TEST_F(Pump, QuitMessageIsSwallowed) {
    PostQuitMessage(7);
    PostMessageA(window_, WM_USER + 1, 0, 0);
    PumpMessages();
    EXPECT_EQ(TheSeen.user, 1);
    // Nothing is left for a message loop to end on.
    MSG message;
    EXPECT_FALSE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    PostMessageA(window_, WM_USER + 1, 0, 0);
    PumpMessages();
    EXPECT_EQ(TheSeen.user, 2);
}

TEST_F(Pump, EscAndEnterReachTheDialogAsCancel) {
    HWND dialog = MakeCancelDialog();
    ASSERT_NE(dialog, nullptr);
    HWND button = GetDlgItem(dialog, IDCANCEL);
    ASSERT_NE(button, nullptr);
    OriginalButtonProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(button, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ClickCountingButtonProc)));
    PumpMessages();
    TheSeen = Seen{};

    // Without a dialog to route through, Esc is just a key for the button.
    PostMessageA(button, WM_KEYDOWN, VK_ESCAPE, 1);
    PumpMessages();
    EXPECT_EQ(TheSeen.cancels, 0);
    EXPECT_EQ(TheSeen.keysAtButton, 1);

    PumpDialogWindow = dialog;
    PostMessageA(button, WM_KEYDOWN, VK_ESCAPE, 1);
    PumpMessages();
    EXPECT_EQ(TheSeen.cancels, 1);
    EXPECT_EQ(TheSeen.keysAtButton, 1);  // the dialog manager took it

    PostMessageA(button, WM_KEYDOWN, VK_RETURN, 1);
    PumpMessages();
    EXPECT_EQ(TheSeen.cancels, 2);  // Enter presses the default button

    // Messages for other windows still reach them.
    PostMessageA(window_, WM_USER + 1, 0, 0);
    PumpMessages();
    EXPECT_EQ(TheSeen.user, 1);
    EXPECT_TRUE(QueueIsEmpty());
}
