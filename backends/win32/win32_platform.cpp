// The platform seam on Win32: each function is the one call (or short run of calls) it names.
#include <windows.h>

#include <cstdio>
#include <ctime>

#include "platform/win32_host.h"

static_assert(sizeof(FrameHeaderData) == sizeof(BITMAPINFOHEADER) + 2 * sizeof(RGBQUAD),
              "FrameHeaderData must be a BITMAPINFO with two colours");

namespace {

const char* const ClassName = "_Velloran_LUMIVEX";
const char* const MutexName = "MUTEX_Velloran_Lumivex";
UINT TimerMilliseconds = 10;

HWND AsWindow(PlatformHandle handle) { return static_cast<HWND>(handle); }

SaverMessage Translate(UINT message) {
    switch (message) {
        case WM_DESTROY: return SaverMessage::Destroy;
        case WM_PAINT: return SaverMessage::Paint;
        case WM_KEYDOWN: return SaverMessage::KeyDown;
        case WM_LBUTTONDOWN: return SaverMessage::LeftButtonDown;
        case WM_RBUTTONDOWN: return SaverMessage::RightButtonDown;
        case WM_MBUTTONDOWN: return SaverMessage::MiddleButtonDown;
        case WM_TIMER: return SaverMessage::Timer;
        default: return SaverMessage::Other;
    }
}

LRESULT CALLBACK SaverWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (platform::Deliver(window, Translate(message))) return 0;
    return DefWindowProcA(window, message, wParam, lParam);
}

// The DC's current face at a cell height of `height` rows, made at the first call and kept for
// the rest of the run.
HFONT StripFont(HDC dc, std::int32_t height) {
    static HFONT font = nullptr;
    if (font == nullptr) {
        LOGFONTA face = {};
        GetObjectA(GetCurrentObject(dc, OBJ_FONT), sizeof face, &face);
        face.lfHeight = height;  // positive: the whole cell, internal leading included
        face.lfWidth = 0;
        font = CreateFontIndirectA(&face);
    }
    return font;
}

}  // namespace

namespace platform {

const char* CommandLine() { return GetCommandLineA(); }

std::int64_t CalendarSeconds() { return static_cast<std::int64_t>(std::time(nullptr)); }

LockOutcome TakeInstanceLock(PlatformHandle* lock) {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, MutexName);
    const DWORD error = GetLastError();
    *lock = mutex;
    if (mutex == nullptr) return LockOutcome::Unavailable;
    return error == ERROR_ALREADY_EXISTS ? LockOutcome::AlreadyHeld : LockOutcome::Taken;
}

void ParentClientRect(PlatformHandle parent, Rect* rect) {
    RECT client;
    if (!GetClientRect(AsWindow(parent), &client)) return;
    *rect = {client.left, client.top, client.right, client.bottom};
}

void WindowClientSize(PlatformHandle window, std::int32_t* width, std::int32_t* height) {
    RECT client;
    if (!GetClientRect(AsWindow(window), &client)) return;
    *width = client.right - client.left;
    *height = client.bottom - client.top;
}

ScreenMetrics ReadScreenMetrics() {
    return {GetSystemMetrics(SM_XVIRTUALSCREEN),  GetSystemMetrics(SM_YVIRTUALSCREEN),
            GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN),
            GetSystemMetrics(SM_CXSCREEN),        GetSystemMetrics(SM_CYSCREEN)};
}

bool PrepareWindowing(PlatformHandle instance) {
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = 0;
    windowClass.lpfnWndProc = SaverWndProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = static_cast<HINSTANCE>(instance);
    windowClass.hIcon = nullptr;  // the icon resource is for the shell, not for the window
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = nullptr;
    windowClass.lpszMenuName = nullptr;
    windowClass.lpszClassName = ClassName;
    windowClass.hIconSm = nullptr;
    return RegisterClassExA(&windowClass) != 0;
}

PlatformHandle CreateSaverWindow(PlatformHandle instance, PlatformHandle parent, std::int32_t x, std::int32_t y,
                                 std::int32_t width, std::int32_t height) {
    const DWORD style = parent != nullptr ? WS_CHILD | WS_VISIBLE : WS_POPUP | WS_VISIBLE;
    return CreateWindowExA(0, ClassName, "", style, x, y, width, height, AsWindow(parent), nullptr,
                           static_cast<HINSTANCE>(instance), nullptr);
}

void ShowMessage(const char* caption, const char* text) { MessageBoxA(nullptr, text, caption, MB_OK); }

bool ReadCursorPosition(std::int32_t* x, std::int32_t* y) {
    POINT position;
    if (!GetCursorPos(&position)) return false;
    *x = position.x;
    *y = position.y;
    return true;
}

void HideCursor() { ShowCursor(FALSE); }

void ShowCursorAgain() { ShowCursor(TRUE); }

void ShowSaverWindow(PlatformHandle window) {
    ShowWindow(AsWindow(window), SW_SHOW);
    UpdateWindow(AsWindow(window));
}

void BlackenStrip(PlatformHandle window, std::int32_t width, std::int32_t height) {
    HDC dc = GetWindowDC(AsWindow(window));
    const RECT strip = {0, 0, width, height};
    FillRect(dc, &strip, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    ReleaseDC(AsWindow(window), dc);
}

void StartFrameTimer(PlatformHandle window) { SetTimer(AsWindow(window), 0, TimerMilliseconds, nullptr); }

void RunMessageLoop() {
    MSG message;
    // 0 is the quit message; -1 (a failed call) cannot come back differently, so it ends the loop too.
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

void DestroySaverWindow(PlatformHandle window) { DestroyWindow(AsWindow(window)); }

void EndMessageLoop(PlatformHandle window) {
    SetWindowPos(AsWindow(window), HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    PostQuitMessage(0);
}

void AcceptPaint(PlatformHandle window) {
    PAINTSTRUCT paint;
    BeginPaint(AsWindow(window), &paint);
    EndPaint(AsWindow(window), &paint);
}

std::uint32_t TickCount() { return GetTickCount(); }

void PresentFrame(PlatformHandle window, const FrameHeaderData& header, const std::uint8_t* bits, std::int32_t,
                  std::int32_t top, const char* status, int statusLength,
                  const FrameDamage&) {
    // The rows' stride is the one an 8-bit DIB of header.Width pixels implies: padded to 4 bytes.
    HDC dc = GetWindowDC(AsWindow(window));
    SetDIBitsToDevice(dc, 0, top, static_cast<DWORD>(header.Width), static_cast<DWORD>(header.Height), 0, 0, 0,
                      static_cast<UINT>(header.Height), bits, reinterpret_cast<const BITMAPINFO*>(&header),
                      DIB_RGB_COLORS);
    // A fresh DC's defaults give the system font, black text and an opaque white background. At
    // 96 DPI that font's cell is exactly the strip above `top`; on a scaled display it grows with
    // the DPI and would paint over the picture, so there the line takes the same face at a cell
    // as tall as the strip, clipped to it.
    if (status != nullptr) {
        TEXTMETRICA metrics;
        if (GetTextMetricsA(dc, &metrics) && metrics.tmHeight > top) {
            const HGDIOBJ previous = SelectObject(dc, StripFont(dc, top));
            const RECT strip = {0, 0, header.Width, top};
            ExtTextOutA(dc, 0, 0, ETO_CLIPPED, &strip, status, static_cast<UINT>(statusLength), nullptr);
            SelectObject(dc, previous);
        } else {
            TextOutA(dc, 0, 0, status, statusLength);
        }
    }
    ReleaseDC(AsWindow(window), dc);
}

unsigned SystemDirectory(char* buffer, unsigned capacity) {
    const UINT length = GetSystemDirectoryA(buffer, capacity);
    // A failed call, or a directory longer than the buffer, leaves it unwritten: hand back an
    // empty name instead.
    if (length == 0 || length >= capacity) {
        if (capacity > 0) buffer[0] = '\0';
        return 0;
    }
    return length;
}

std::uint64_t PhysicalMemoryBytes() {
    MEMORYSTATUSEX status = {};
    status.dwLength = sizeof status;
    return GlobalMemoryStatusEx(&status) ? status.ullTotalPhys : 0;
}

std::FILE* OpenDefinitionFile(const char* path) { return std::fopen(path, "rb"); }

// GDI keeps the window's picture itself.
bool PrepareWindowPicture(PlatformHandle, std::int32_t, std::int32_t) { return true; }

}  // namespace platform
