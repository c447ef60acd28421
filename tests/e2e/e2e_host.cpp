// lumivex-e2e-host: a Windows program the end-to-end tests run under Wine to host and observe the saver.
//   preview SCR             host the saver as a preview, poke it, close the host window
//   watch MS COMMAND...     run a command, report its exit code and the windows it showed
//   msgbox CAPTION MS       wait for a message box, report its text and its OK button's centre
//   strip W H MS TEXT       show TEXT as the saver shows its status line at 96 DPI, in a black
//                           W x H window at the screen's corner, for MS ms
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char* const SaverClass = "_Velloran_LUMIVEX";

// Dispatches this thread's messages for up to ms, or until process ends (when given).
bool PumpFor(DWORD ms, HANDLE process) {
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD spent = GetTickCount() - start;
        if (spent >= ms) return false;
        const DWORD count = process != nullptr ? 1 : 0;
        const DWORD wait = MsgWaitForMultipleObjects(count, &process, FALSE, ms - spent, QS_ALLINPUT);
        if (process != nullptr && wait == WAIT_OBJECT_0) return true;
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
}

bool Start(const std::string& commandLine, PROCESS_INFORMATION* process) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    std::string line = commandLine;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, process)) {
        std::printf("error: cannot start %s (%lu)\n", commandLine.c_str(), GetLastError());
        return false;
    }
    return true;
}

int Fail(const char* why, PROCESS_INFORMATION* saver) {
    std::printf("FAIL: %s\n", why);
    if (saver != nullptr && saver->hProcess != nullptr) {
        TerminateProcess(saver->hProcess, 99);
        WaitForSingleObject(saver->hProcess, 5000);
    }
    return 1;
}

LRESULT CALLBACK HostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

void Click(DWORD down, DWORD up) {
    INPUT input[2] = {};
    input[0].type = input[1].type = INPUT_MOUSE;
    input[0].mi.dwFlags = down;
    input[1].mi.dwFlags = up;
    SendInput(2, input, sizeof(INPUT));
}

// The preview's lifecycle: it runs in our window, shrugs off input, and ends when the window goes.
int Preview(const char* scr) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = HostProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
    windowClass.lpszClassName = "LumivexE2EHost";
    RegisterClassA(&windowClass);
    HWND host = CreateWindowExA(0, "LumivexE2EHost", "preview host", WS_POPUP | WS_VISIBLE, 40, 40, 152, 112,
                                nullptr, nullptr, windowClass.hInstance, nullptr);
    if (host == nullptr) return Fail("cannot create the host window", nullptr);
    PumpFor(200, nullptr);

    PROCESS_INFORMATION saver = {};
    const std::string line = "\"" + std::string(scr) + "\" /p " + std::to_string(reinterpret_cast<std::uintptr_t>(host));
    if (!Start(line, &saver)) return 1;
    std::printf("started: %s\n", line.c_str());

    HWND child = nullptr;
    const DWORD start = GetTickCount();
    while (child == nullptr && GetTickCount() - start < 10000) {
        if (PumpFor(50, saver.hProcess)) {
            DWORD code = 0;
            GetExitCodeProcess(saver.hProcess, &code);
            std::printf("saver ended early with %ld\n", static_cast<long>(code));
            return Fail("the preview ended before its window appeared", nullptr);
        }
        child = FindWindowExA(host, nullptr, SaverClass, nullptr);
    }
    if (child == nullptr) return Fail("no preview window appeared inside the host", &saver);
    DWORD owner = 0;
    GetWindowThreadProcessId(child, &owner);
    if (owner != saver.dwProcessId) return Fail("the preview window belongs to another process", &saver);
    RECT hostRect, childRect;
    GetClientRect(host, &hostRect);
    GetWindowRect(child, &childRect);
    std::printf("preview window %dx%d in a client area of %dx%d\n", static_cast<int>(childRect.right - childRect.left),
                static_cast<int>(childRect.bottom - childRect.top), static_cast<int>(hostRect.right),
                static_cast<int>(hostRect.bottom));
    if (childRect.right - childRect.left != hostRect.right || childRect.bottom - childRect.top != hostRect.bottom)
        return Fail("the preview window does not fill the host's client area", &saver);
    PumpFor(500, saver.hProcess);

    // Input that would end a full-screen run: keys, the three buttons, mouse movement.
    PostMessageA(child, WM_KEYDOWN, 'A', 0);
    PostMessageA(child, WM_KEYUP, 'A', 0);
    PostMessageA(child, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10));
    PostMessageA(child, WM_LBUTTONUP, 0, MAKELPARAM(10, 10));
    PostMessageA(child, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(20, 20));
    PostMessageA(child, WM_RBUTTONUP, 0, MAKELPARAM(20, 20));
    PostMessageA(child, WM_MBUTTONDOWN, MK_MBUTTON, MAKELPARAM(30, 30));
    PostMessageA(child, WM_MBUTTONUP, 0, MAKELPARAM(30, 30));
    for (int step = 0; step < 5; ++step) {
        SetCursorPos(60 + 7 * step, 70 + 5 * step);
        PumpFor(60, saver.hProcess);
    }
    Click(MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP);
    Click(MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP);
    Click(MOUSEEVENTF_MIDDLEDOWN, MOUSEEVENTF_MIDDLEUP);
    INPUT key[2] = {};
    key[0].type = key[1].type = INPUT_KEYBOARD;
    key[0].ki.wVk = key[1].ki.wVk = 'B';
    key[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, key, sizeof(INPUT));
    if (PumpFor(1500, saver.hProcess)) return Fail("the preview ended on input", nullptr);
    if (!IsWindow(child)) return Fail("the preview window is gone after input", &saver);
    std::printf("input did not end the preview\n");

    DestroyWindow(host);
    const DWORD closed = GetTickCount();
    if (!PumpFor(2000, saver.hProcess)) return Fail("the preview did not end within 2 s of its host window", &saver);
    DWORD code = 0;
    GetExitCodeProcess(saver.hProcess, &code);
    std::printf("preview ended %lu ms after its host window, exit code %ld\n", GetTickCount() - closed,
                static_cast<long>(code));
    return code == 0 ? 0 : Fail("the preview's exit code is not 0", nullptr);
}

struct WindowCount {
    DWORD process;
    int visible;
};

BOOL CALLBACK CountWindow(HWND window, LPARAM data) {
    auto* count = reinterpret_cast<WindowCount*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == count->process && IsWindowVisible(window)) ++count->visible;
    return TRUE;
}

// Runs a command and watches, as closely as polling allows, for any window it shows.
int Watch(DWORD ms, const std::string& commandLine) {
    PROCESS_INFORMATION process = {};
    if (!Start(commandLine, &process)) return 1;
    int most = 0;
    const DWORD start = GetTickCount();
    bool ended = false;
    while (!ended && GetTickCount() - start < ms) {
        ended = WaitForSingleObject(process.hProcess, 1) == WAIT_OBJECT_0;
        WindowCount count = {process.dwProcessId, 0};
        EnumWindows(CountWindow, reinterpret_cast<LPARAM>(&count));
        if (count.visible > most) most = count.visible;
    }
    if (!ended) {
        std::printf("timeout windows=%d\n", most);
        TerminateProcess(process.hProcess, 99);
        WaitForSingleObject(process.hProcess, 5000);
        return 1;
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    std::printf("exit=%ld windows=%d ms=%lu\n", static_cast<long>(code), most, GetTickCount() - start);
    return 0;
}

struct BoxParts {
    std::string text;
    RECT ok;
    bool found;
};

BOOL CALLBACK ReadBoxChild(HWND window, LPARAM data) {
    auto* parts = reinterpret_cast<BoxParts*>(data);
    char className[64] = {}, text[4096] = {};
    GetClassNameA(window, className, sizeof className);
    GetWindowTextA(window, text, sizeof text);
    if (lstrcmpiA(className, "Static") == 0 && text[0] != '\0') parts->text += text;
    if (lstrcmpiA(className, "Button") == 0 && GetDlgCtrlID(window) == IDOK) {
        GetWindowRect(window, &parts->ok);
        parts->found = true;
    }
    return TRUE;
}

// Waits for the message box captioned `caption`; prints its text and where its OK button is.
int MessageBoxReport(const char* caption, DWORD ms) {
    const DWORD start = GetTickCount();
    HWND box = nullptr;
    while ((box = FindWindowA(nullptr, caption)) == nullptr) {
        if (GetTickCount() - start >= ms) {
            std::printf("no window captioned \"%s\"\n", caption);
            return 1;
        }
        Sleep(50);
    }
    BoxParts parts = {};
    Sleep(200);  // let the box finish laying itself out
    EnumChildWindows(box, ReadBoxChild, reinterpret_cast<LPARAM>(&parts));
    if (!parts.found) {
        std::printf("no OK button\n");
        return 1;
    }
    DWORD owner = 0;
    GetWindowThreadProcessId(box, &owner);
    std::printf("owner=%p\n", static_cast<void*>(GetWindow(box, GW_OWNER)));
    std::printf("ok=%ld,%ld\n", static_cast<long>((parts.ok.left + parts.ok.right) / 2),
                static_cast<long>((parts.ok.top + parts.ok.bottom) / 2));
    std::printf("text=");
    for (const char c : parts.text) {
        if (c == '\n') std::printf("\\n");
        else if (c != '\r') std::putchar(c);
    }
    std::printf("\n");
    return 0;
}

const char* stripText = "";

// Drawn on every paint, with the calls the saver makes: a fresh window DC, its default font.
LRESULT CALLBACK StripProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_ERASEBKGND) return 1;
    if (message != WM_PAINT) return DefWindowProcA(window, message, wParam, lParam);
    PAINTSTRUCT paint;
    BeginPaint(window, &paint);
    EndPaint(window, &paint);
    HDC dc = GetWindowDC(window);
    RECT all;
    GetClientRect(window, &all);
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    TextOutA(dc, 0, 0, stripText, lstrlenA(stripText));
    ReleaseDC(window, dc);
    return 0;
}

int Strip(int width, int height, DWORD ms, const char* text) {
    stripText = text;
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = StripProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "LumivexE2EStrip";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(WS_EX_TOPMOST, "LumivexE2EStrip", "strip", WS_POPUP | WS_VISIBLE, 0, 0, width,
                                  height, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (window == nullptr) return Fail("cannot create the strip window", nullptr);
    UpdateWindow(window);
    HDC dc = GetWindowDC(window);
    TEXTMETRICA metrics = {};
    GetTextMetricsA(dc, &metrics);
    ReleaseDC(window, dc);
    std::printf("drawn height=%ld\n", static_cast<long>(metrics.tmHeight));
    PumpFor(ms, nullptr);
    DestroyWindow(window);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc == 3 && std::strcmp(argv[1], "preview") == 0) return Preview(argv[2]);
    if (argc >= 4 && std::strcmp(argv[1], "watch") == 0) {
        std::string line;
        for (int i = 3; i < argc; ++i) {
            if (i > 3) line += ' ';
            line += std::strchr(argv[i], ' ') != nullptr ? "\"" + std::string(argv[i]) + "\"" : argv[i];
        }
        return Watch(static_cast<DWORD>(std::atoi(argv[2])), line);
    }
    if (argc == 4 && std::strcmp(argv[1], "msgbox") == 0)
        return MessageBoxReport(argv[2], static_cast<DWORD>(std::atoi(argv[3])));
    if (argc == 6 && std::strcmp(argv[1], "strip") == 0)
        return Strip(std::atoi(argv[2]), std::atoi(argv[3]), static_cast<DWORD>(std::atoi(argv[4])), argv[5]);
    std::fprintf(stderr,
                 "usage: lumivex-e2e-host preview SCR | watch MS COMMAND... | msgbox CAPTION MS | strip W H MS TEXT\n");
    return 2;
}
