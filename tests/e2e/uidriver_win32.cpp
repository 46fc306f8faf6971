// The end-to-end tests' hands and eyes under Wine: starts a program with a
// chosen environment, waits for its windows, reports their texts (a message
// box's text is control 0xFFFF), clicks, presses keys, posts messages, and
// prints what it saw, one line per fact, for the runner to check.
//
// Each argument is one step, fields separated by "|":
//   set|NAME|VALUE  unset|NAME      environment for the program to start
//   start|COMMAND LINE[|DIR]        starts the program (the "target") as a
//                                   user who is no administrator (the
//                                   Administrators group for denial only)
//   startadmin|COMMAND LINE[|DIR]   the same with the driver's own token, as
//                                   an elevated program runs
//   window|TITLE|MS                 waits for a visible window of the target
//                                   with that title ("*" any) and reports it
//   dialog|TITLE|MS                 the same for a dialog box (not a message box)
//   msgbox|MS                       waits for a message box of the target
//   report                          reports the current window again
//   widetext[|ID]                   reports a control's text (without ID the
//                                   window's title) read as UTF-16, in UTF-8
//   gone|MS                         waits until the current window is gone
//   click|ID  command|ID            BM_CLICK on a control / WM_COMMAND(ID)
//   select|ID|INDEX                 selects a list box line
//   settext|ID|TEXT                 sets a control's text (an edit field's input)
//   waittext|ID|TEXT|MS             waits until a control's text contains TEXT
//   clipboard                       reports the clipboard's text
//   key|VK[|ID]                     WM_KEYDOWN to the window or one control
//   sysclose                        the close command (WM_SYSCOMMAND SC_CLOSE)
//   close                           WM_CLOSE to the window
//   suspend  resume                 the target's threads
//   quit|CODE                       WM_QUIT(CODE) to the target's threads
//   wait|MS                         waits for the target's end, reports its code
//   settle|MS                       waits for the target's end, reporting and
//                                   dismissing (button 1) each message box it
//                                   shows on the way, then reports its code
//   grows|FILE|BYTES|MS             waits until FILE holds at least BYTES bytes
//   sleep|MS  signal|FILE  await|FILE|MS
// "The target" includes the processes it started (the launcher's installer).
// A step that times out prints "timeout ..." and ends the run with code 3,
// after ending the target so that a hung program does not outlive the run.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

PROCESS_INFORMATION Target = {};
HWND Current = nullptr;
std::wstring WideStep;  // the step being run, as given

std::vector<std::wstring> WideFields() {
    std::vector<std::wstring> fields(1);
    for (wchar_t c : WideStep) {
        if (c == L'|') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

std::vector<std::string> Split(const char* step) {
    std::vector<std::string> fields(1);
    for (const char* p = step; *p; ++p) {
        if (*p == '|') {
            fields.emplace_back();
        } else {
            fields.back() += *p;
        }
    }
    return fields;
}

std::string Escaped(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        char buffer[8];
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20 || c >= 0x7F) {
            std::snprintf(buffer, sizeof buffer, "\\x%02X", c);
            out += buffer;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

void Say(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

[[noreturn]] void TimedOut(const std::string& what) {
    Say("timeout " + what);
    if (Target.hProcess) TerminateProcess(Target.hProcess, 1);
    std::exit(3);
}

std::string ClassOf(HWND window);

// An edit field keeps its text to itself: it is asked (as UTF-16, which
// crosses processes intact). Other windows' texts are read directly, which
// works while the target is suspended too.
std::string TextOf(HWND window) {
    char text[2048] = "";
    if (ClassOf(window) == "Edit") {
        wchar_t wide[2048] = L"";
        DWORD_PTR copied = 0;
        if (SendMessageTimeoutW(window, WM_GETTEXT, sizeof wide / sizeof wide[0], reinterpret_cast<LPARAM>(wide),
                                SMTO_ABORTIFHUNG, 2000, &copied)) {
            WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, nullptr, nullptr);
            return text;
        }
    }
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string ClassOf(HWND window) {
    char name[256] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

// The target and every process descended from it.
std::vector<DWORD> TargetFamily() {
    std::vector<DWORD> family = {Target.dwProcessId};
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return family;
    std::vector<PROCESSENTRY32> all;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL ok = Process32First(snapshot, &entry); ok; ok = Process32Next(snapshot, &entry)) all.push_back(entry);
    CloseHandle(snapshot);
    for (size_t i = 0; i < family.size(); ++i) {
        for (const PROCESSENTRY32& p : all) {
            if (p.th32ParentProcessID == family[i] && p.th32ProcessID != family[i]) family.push_back(p.th32ProcessID);
        }
    }
    return family;
}

struct Search {
    std::string title;
    bool messageBox;
    bool dialog;
    std::vector<DWORD> family;
    HWND found;
};

bool IsTargetWindow(HWND window, const std::vector<DWORD>& family) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    for (DWORD member : family) {
        if (pid == member) return IsWindowVisible(window) != FALSE;
    }
    return false;
}

BOOL CALLBACK MatchWindow(HWND window, LPARAM data) {
    Search* search = reinterpret_cast<Search*>(data);
    if (!IsTargetWindow(window, search->family)) return TRUE;
    if (search->messageBox) {
        if (ClassOf(window) != "#32770" || !GetDlgItem(window, 0xFFFF)) return TRUE;
    } else if (search->title != "*" && TextOf(window) != search->title) {
        return TRUE;
    } else if (search->dialog && (ClassOf(window) != "#32770" || GetDlgItem(window, 0xFFFF))) {
        return TRUE;
    }
    search->found = window;
    return FALSE;
}

// A list box's lines: "item index=N [selected] text=...".
void ReportListItems(HWND list) {
    LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
    LRESULT selected = SendMessageA(list, LB_GETCURSEL, 0, 0);
    for (LRESULT i = 0; i < count && i < 1000; ++i) {
        // Read as UTF-16: the ANSI form is not carried over to another process.
        wchar_t wide[1024] = L"";
        char text[2048] = "";
        if (SendMessageW(list, LB_GETTEXTLEN, i, 0) < static_cast<LRESULT>(sizeof wide / sizeof wide[0])) {
            SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(wide));
            WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, nullptr, nullptr);
        }
        char head[64];
        std::snprintf(head, sizeof head, "item index=%d%s text=", static_cast<int>(i), i == selected ? " selected" : "");
        Say(head + Escaped(text));
    }
}

BOOL CALLBACK ReportControl(HWND control, LPARAM) {
    char line[64];
    std::snprintf(line, sizeof line, "control id=%d class=", GetDlgCtrlID(control));
    Say(std::string(line) + ClassOf(control) + " text=" + Escaped(TextOf(control)));
    if (ClassOf(control) == "ListBox") ReportListItems(control);
    return TRUE;
}

void Report(HWND window) {
    HWND owner = GetWindow(window, GW_OWNER);
    RECT r;
    GetWindowRect(window, &r);
    char geometry[96];
    std::snprintf(geometry, sizeof geometry, " rect=%ld,%ld,%ld,%ld", r.left, r.top, r.right, r.bottom);
    char handle[32];
    std::snprintf(handle, sizeof handle, "window handle=%p", static_cast<void*>(window));
    Say(handle + std::string(" class=") + ClassOf(window) + " title=" + Escaped(TextOf(window)) +
        " owner=" + (owner ? Escaped(TextOf(owner)) : std::string("-")) + geometry);
    EnumChildWindows(window, ReportControl, 0);
}

// A target that ends before what a step waits for has come.
bool TargetEnded(DWORD wait, const char* awaited) {
    if (WaitForSingleObject(Target.hProcess, wait) != WAIT_OBJECT_0) return false;
    DWORD code = 0;
    GetExitCodeProcess(Target.hProcess, &code);
    Say(std::string("ended before ") + awaited + ", code=" + std::to_string(code));
    return true;
}

void WaitForWindow(const std::string& title, bool messageBox, DWORD timeout, bool dialog = false) {
    DWORD start = GetTickCount();
    for (;;) {
        Search search = {title, messageBox, dialog, TargetFamily(), nullptr};
        EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found) {
            Current = search.found;
            Report(Current);
            return;
        }
        if (GetTickCount() - start > timeout) TimedOut(messageBox ? "msgbox" : "window " + Escaped(title));
        if (TargetEnded(10, "the window appeared")) std::exit(4);
    }
}

void WaitGone(DWORD timeout) {
    DWORD start = GetTickCount();
    while (IsWindow(Current) && IsWindowVisible(Current)) {
        if (GetTickCount() - start > timeout) TimedOut("gone");
        Sleep(10);
    }
    Say("gone");
}

// Applies f to every thread of the target process.
template <typename F>
int ForEachTargetThread(F f) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL ok = Thread32First(snapshot, &entry); ok; ok = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != Target.dwProcessId) continue;
        f(entry.th32ThreadID);
        ++count;
    }
    CloseHandle(snapshot);
    return count;
}

void SuspendOrResume(bool suspend) {
    int n = ForEachTargetThread([suspend](DWORD id) {
        HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, id);
        if (!thread) return;
        if (suspend) {
            SuspendThread(thread);
        } else {
            ResumeThread(thread);
        }
        CloseHandle(thread);
    });
    Say(std::string(suspend ? "suspended" : "resumed") + " threads=" + std::to_string(n));
}

// The driver's token with the Administrators group for denial only: Wine
// runs every program as an administrator, and no other way shows what an
// unelevated launcher does.
HANDLE UnelevatedToken() {
    HANDLE own = nullptr;
    HANDLE restricted = nullptr;
    BYTE admins[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof admins;
    SID_AND_ATTRIBUTES disabled = {admins, 0};
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &own)) return nullptr;
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size) ||
        !CreateRestrictedToken(own, 0, 1, &disabled, 0, nullptr, 0, nullptr, &restricted)) {
        restricted = nullptr;
    }
    CloseHandle(own);
    return restricted;
}

void Start(bool elevated) {
    HANDLE token = elevated ? nullptr : UnelevatedToken();
    if (!elevated && !token) {
        Say("start failed: no unelevated token error=" + std::to_string(GetLastError()));
        std::exit(5);
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    std::vector<std::wstring> f = WideFields();
    std::wstring command = f.size() > 1 ? f[1] : L"";
    const wchar_t* dir = f.size() > 2 && !f[2].empty() ? f[2].c_str() : nullptr;
    // Under heavy load Wine now and then fails a start with an internal
    // error, the new process never having run: that start is made again.
    // Any other failure is the result.
    for (int attempt = 1;; ++attempt) {
        BOOL started = token ? CreateProcessAsUserW(token, nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                                                    dir, &startup, &Target)
                             : CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, dir,
                                              &startup, &Target);
        if (started) break;
        DWORD error = GetLastError();
        if (error != ERROR_INTERNAL_ERROR || attempt == 3) {
            Say("start failed error=" + std::to_string(error));
            std::exit(5);
        }
        Say("start failed error=" + std::to_string(error) + ", started again");
    }
    if (token) CloseHandle(token);
    Say("started pid=" + std::to_string(Target.dwProcessId));
}

void WaitForEnd(DWORD timeout) {
    if (WaitForSingleObject(Target.hProcess, timeout) != WAIT_OBJECT_0) TimedOut("exit");
    DWORD code = 0;
    GetExitCodeProcess(Target.hProcess, &code);
    Say("exit code=" + std::to_string(code));
}

void Settle(DWORD timeout) {
    DWORD start = GetTickCount();
    for (;;) {
        Search search = {"", true, false, TargetFamily(), nullptr};
        EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found && search.found != Current) {
            Current = search.found;
            Report(Current);
            PostMessageA(GetDlgItem(Current, IDOK), BM_CLICK, 0, 0);
        }
        if (WaitForSingleObject(Target.hProcess, 10) == WAIT_OBJECT_0) break;
        if (GetTickCount() - start > timeout) TimedOut("settle");
    }
    WaitForEnd(0);
}

void AwaitSize(const std::string& path, ULONGLONG size, DWORD timeout) {
    DWORD start = GetTickCount();
    for (;;) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) &&
            (ULONGLONG{data.nFileSizeHigh} << 32 | data.nFileSizeLow) >= size) {
            return;
        }
        if (GetTickCount() - start > timeout) TimedOut("grows " + Escaped(path));
        if (TargetEnded(1, "the file grew")) std::exit(4);
    }
}

void AwaitFile(const std::string& path, DWORD timeout) {
    DWORD start = GetTickCount();
    while (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (GetTickCount() - start > timeout) TimedOut("await " + Escaped(path));
        Sleep(10);
    }
}

HWND ControlOrCurrent(const std::vector<std::string>& f, size_t index) {
    if (f.size() > index && !f[index].empty()) return GetDlgItem(Current, std::atoi(f[index].c_str()));
    return Current;
}

DWORD Number(const std::vector<std::string>& f, size_t index, DWORD fallback) {
    return f.size() > index ? static_cast<DWORD>(std::strtoul(f[index].c_str(), nullptr, 0)) : fallback;
}

void WaitForText(HWND control, const std::string& text, DWORD timeout) {
    DWORD start = GetTickCount();
    while (TextOf(control).find(text) == std::string::npos) {
        if (GetTickCount() - start > timeout) TimedOut("text " + Escaped(text));
        Sleep(2);
    }
    Say("text " + Escaped(TextOf(control)));
}

// GetWindowTextW: the letters shown, which the ANSI form would lose where
// the driver's code page lacks them.
void ReportWideText(HWND window) {
    wchar_t wide[2048] = L"";
    char text[3 * 2048] = "";
    GetWindowTextW(window, wide, sizeof wide / sizeof wide[0]);
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, sizeof text, nullptr, nullptr);
    Say("widetext text=" + Escaped(text));
}

void ReportClipboard() {
    std::string text;
    if (OpenClipboard(nullptr)) {
        HANDLE data = GetClipboardData(CF_TEXT);
        const char* p = data ? static_cast<const char*>(GlobalLock(data)) : nullptr;
        if (p) {
            text = p;
            GlobalUnlock(data);
        }
        CloseClipboard();
    }
    Say("clipboard text=" + Escaped(text));
}

void Run(const std::vector<std::string>& f) {
    const std::string& verb = f[0];
    if (verb == "set") {
        std::vector<std::wstring> wide = WideFields();
        SetEnvironmentVariableW(wide.at(1).c_str(), wide.size() > 2 ? wide[2].c_str() : L"");
    } else if (verb == "unset") {
        SetEnvironmentVariableA(f.at(1).c_str(), nullptr);
    } else if (verb == "start" || verb == "startadmin") {
        Start(verb == "startadmin");
    } else if (verb == "window") {
        WaitForWindow(f.at(1), false, Number(f, 2, 10000));
    } else if (verb == "dialog") {
        WaitForWindow(f.at(1), false, Number(f, 2, 10000), true);
    } else if (verb == "select") {
        SendMessageA(ControlOrCurrent(f, 1), LB_SETCURSEL, Number(f, 2, 0), 0);
    } else if (verb == "settext") {
        SendMessageA(ControlOrCurrent(f, 1), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(f.size() > 2 ? f[2].c_str() : ""));
    } else if (verb == "waittext") {
        WaitForText(ControlOrCurrent(f, 1), f.size() > 2 ? f[2] : "", Number(f, 3, 10000));
    } else if (verb == "clipboard") {
        ReportClipboard();
    } else if (verb == "msgbox") {
        WaitForWindow("", true, Number(f, 1, 10000));
    } else if (verb == "report") {
        Report(Current);
    } else if (verb == "widetext") {
        ReportWideText(ControlOrCurrent(f, 1));
    } else if (verb == "gone") {
        WaitGone(Number(f, 1, 10000));
    } else if (verb == "click") {
        PostMessageA(ControlOrCurrent(f, 1), BM_CLICK, 0, 0);
    } else if (verb == "command") {
        PostMessageA(Current, WM_COMMAND, Number(f, 1, IDCANCEL), 0);
    } else if (verb == "key") {
        PostMessageA(ControlOrCurrent(f, 2), WM_KEYDOWN, Number(f, 1, VK_ESCAPE), 1);
    } else if (verb == "sysclose") {
        PostMessageA(Current, WM_SYSCOMMAND, SC_CLOSE, 0);
    } else if (verb == "close") {
        PostMessageA(Current, WM_CLOSE, 0, 0);
    } else if (verb == "suspend" || verb == "resume") {
        SuspendOrResume(verb == "suspend");
    } else if (verb == "quit") {
        UINT code = Number(f, 1, 0);
        int n = ForEachTargetThread([code](DWORD id) { PostThreadMessageA(id, WM_QUIT, code, 0); });
        Say("quit posted threads=" + std::to_string(n));
    } else if (verb == "wait") {
        WaitForEnd(Number(f, 1, 30000));
    } else if (verb == "settle") {
        Settle(Number(f, 1, 30000));
    } else if (verb == "grows") {
        AwaitSize(f.at(1), std::strtoull(f.at(2).c_str(), nullptr, 10), Number(f, 3, 30000));
    } else if (verb == "sleep") {
        Sleep(Number(f, 1, 0));
    } else if (verb == "signal") {
        HANDLE h = CreateFileA(f.at(1).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    } else if (verb == "await") {
        AwaitFile(f.at(1), Number(f, 2, 30000));
    } else {
        Say("unknown step " + Escaped(verb));
        std::exit(2);
    }
}

}  // namespace

// Steps arrive in Unicode: set and start take them as they are, so that a
// path the ANSI code page cannot hold reaches the program unchanged; the
// others work on the ANSI form.
int wmain(int argc, wchar_t** argv) {
    for (int i = 1; i < argc; ++i) {
        WideStep = argv[i];
        int n = WideCharToMultiByte(CP_ACP, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
        std::string step(n > 0 ? static_cast<size_t>(n) : 1, '\0');
        WideCharToMultiByte(CP_ACP, 0, argv[i], -1, &step[0], n, nullptr, nullptr);
        Run(Split(step.c_str()));
    }
    return 0;
}
