// The progress dialog against a real dialog manager (Wine), which makes
// windows only with a display: win_tests runs under Xvfb.
#include <gtest/gtest.h>

#include "support/progress.h"
#include "support/progress_dialog_win32.h"

namespace {

int CancelRequests = 0;
void CountCancelRequest() { ++CancelRequests; }

class SingleBarDialog : public ::testing::Test {
protected:
    void SetUp() override {
        UserCancelled = true;  // left over from an earlier dialog
        CancelRequests = 0;
        ProgressCancelHook = CountCancelRequest;
        ProgressDialog = CreateProgressDialog();
        dialog = static_cast<HWND>(ProgressDialog);
        ASSERT_NE(dialog, nullptr);
    }
    void TearDown() override {
        if (!ProgressDialog) return;
        DestroyProgressDialog();
        ProgressDialog = nullptr;
        ProgressCancelHook = nullptr;
    }
    LRESULT Progress(LPARAM percent) { return SendMessageA(dialog, WM_COMMAND, ProgressCommandId, percent); }
    INT_PTR Call(UINT message, WPARAM wParam) { return ProgressDialogProc(dialog, message, wParam, 0); }

    HWND dialog = nullptr;
};

bool HasMenuCommand(HMENU menu, UINT command) { return GetMenuState(menu, command, MF_BYCOMMAND) != 0xFFFFFFFF; }

TEST_F(SingleBarDialog, OpensCentredVisibleWithOneBarAndAFixedSizeMenu) {
    EXPECT_FALSE(UserCancelled);
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_EQ(OverallBar, GetDlgItem(dialog, 200));
    EXPECT_EQ(EntryBar, nullptr);
    EXPECT_EQ(GetWindow(dialog, GW_OWNER), nullptr);
    char title[64];
    GetWindowTextA(dialog, title, sizeof title);
    EXPECT_STREQ(title, "Preparing installation...");

    HMENU menu = GetSystemMenu(dialog, FALSE);
    ASSERT_NE(menu, nullptr);
    EXPECT_FALSE(HasMenuCommand(menu, SC_MAXIMIZE));
    EXPECT_FALSE(HasMenuCommand(menu, SC_SIZE));
    EXPECT_TRUE(HasMenuCommand(menu, SC_CLOSE));
    EXPECT_TRUE(HasMenuCommand(menu, SC_MOVE));

    RECT desktop, own;
    GetWindowRect(GetDesktopWindow(), &desktop);
    GetWindowRect(dialog, &own);
    EXPECT_EQ(own.left, ((desktop.right - desktop.left) - (own.right - own.left)) / 2);
    EXPECT_EQ(own.top, ((desktop.bottom - desktop.top) - (own.bottom - own.top)) / 2);
}

TEST_F(SingleBarDialog, CancelIsRecordedOnceFromButtonKeysAndCloseCommand) {
    EXPECT_EQ(Call(WM_COMMAND, IDCANCEL), TRUE);
    EXPECT_TRUE(UserCancelled);
    EXPECT_EQ(Call(WM_COMMAND, IDCANCEL), FALSE);  // the second press changes nothing

    UserCancelled = false;
    EXPECT_EQ(Call(WM_KEYDOWN, 'A'), FALSE);
    EXPECT_FALSE(UserCancelled);
    EXPECT_EQ(Call(WM_KEYDOWN, VK_RETURN), TRUE);  // no owner, so never minimised
    UserCancelled = false;
    EXPECT_EQ(Call(WM_KEYDOWN, VK_ESCAPE), TRUE);
    EXPECT_EQ(Call(WM_KEYDOWN, VK_ESCAPE), FALSE);

    // The title bar's close command reaches the dialog as a posted IDCANCEL.
    UserCancelled = false;
    SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    PumpMessages();
    EXPECT_TRUE(UserCancelled);

    // Esc on the focused button goes through the dialog manager of the pump.
    UserCancelled = false;
    PumpDialogWindow = ProgressDialog;
    PostMessageA(GetDlgItem(dialog, IDCANCEL), WM_KEYDOWN, VK_ESCAPE, 1);
    PumpMessages();
    EXPECT_TRUE(UserCancelled);
    EXPECT_EQ(CancelRequests, 0);  // only a progress message passes it on
}

TEST_F(SingleBarDialog, ProgressMessagesMoveTheOverallBarAndPassACancelOn) {
    SetProgressTotal(300);
    BeginProgressEntry(100, 100);
    Progress(50);
    EXPECT_EQ(LastOverallPercent, 33 + 16);
    BeginProgressEntry(200, 100);  // the last item makes up for the truncation
    Progress(100);
    EXPECT_EQ(LastOverallPercent, 100);

    Progress(101);  // out of range: no bar moves, nothing else happens
    EXPECT_EQ(LastOverallPercent, 100);
    EXPECT_EQ(CancelRequests, 0);

    Call(WM_COMMAND, IDCANCEL);
    BeginProgressEntry(200, 100);
    Progress(0x10000 + 40);  // only the low 16 bits count
    EXPECT_EQ(LastOverallPercent, 67 + 13);
    EXPECT_EQ(CancelRequests, 1);
    Progress(500);  // still passes the pending cancel on
    EXPECT_EQ(CancelRequests, 2);
}

TEST_F(SingleBarDialog, DestroyingForgetsTheBars) {
    DestroyProgressDialog();
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_EQ(OverallBar, nullptr);
    ShowOverallPercent(100);  // nothing left to paint on: harmless
    ProgressDialog = CreateProgressDialog();  // for TearDown
    EXPECT_NE(OverallBar, nullptr);
    EXPECT_EQ(LastOverallPercent, 0);
}

}  // namespace

namespace {

// The installer's variant: the template of another module, an owner, two bars
// fed by direct calls.
class TwoBarDialog : public ::testing::Test {
protected:
    void SetUp() override {
        module = LoadLibraryA("two_bar_dialog.dll");
        ASSERT_NE(module, nullptr);
        owner = CreateWindowExA(0, "STATIC", "owner", WS_POPUP | WS_VISIBLE, 0, 0, 800, 600, nullptr, nullptr,
                                nullptr, nullptr);
        ASSERT_NE(owner, nullptr);
        CancelRequests = 0;
        ProgressCancelHook = CountCancelRequest;
        ProgressDialog = CreateProgressDialog(module, owner);
        dialog = static_cast<HWND>(ProgressDialog);
        ASSERT_NE(dialog, nullptr);
    }
    void TearDown() override {
        if (ProgressDialog) DestroyProgressDialog();
        ProgressDialog = nullptr;
        ProgressCancelHook = nullptr;
        if (owner) DestroyWindow(owner);
        if (module) FreeLibrary(module);
    }

    HMODULE module = nullptr;
    HWND owner = nullptr;
    HWND dialog = nullptr;
};

TEST_F(TwoBarDialog, IsOwnedCentredOnItsOwnerAndFeedsBothBars) {
    EXPECT_EQ(GetWindow(dialog, GW_OWNER), owner);
    EXPECT_EQ(EntryBar, GetDlgItem(dialog, 200));
    EXPECT_EQ(OverallBar, GetDlgItem(dialog, 210));
    RECT own;
    GetWindowRect(dialog, &own);
    EXPECT_EQ(own.left, (800 - (own.right - own.left)) / 2);
    EXPECT_EQ(own.top, (600 - (own.bottom - own.top)) / 2);

    SetProgressTotal(400);
    BeginProgressEntry(100, 300);
    ShowEntryPercent(50);
    EXPECT_EQ(LastEntryPercent, 50);
    EXPECT_EQ(LastOverallPercent, 25 + 1 + 37);  // 300 of 400 is the last item

    // Progress messages are the launcher's: this dialog ignores them.
    ProgressDialogProc(dialog, WM_COMMAND, IDCANCEL, 0);
    SendMessageA(dialog, WM_COMMAND, ProgressCommandId, 90);
    EXPECT_EQ(LastEntryPercent, 50);
    EXPECT_EQ(CancelRequests, 0);
    EXPECT_TRUE(UserCancelled);

    DestroyProgressDialog();
    ProgressDialog = nullptr;
    EXPECT_EQ(EntryBar, nullptr);
    EXPECT_EQ(OverallBar, nullptr);
}

}  // namespace
