// The Windows end-to-end tests' observer: one window at the top left of the screen that takes the
// foreground and writes every input message it receives as one JSON line on standard output.
// Its first line, {"ready":...}, comes once it has the foreground (keys sent before that go to
// no window), with where its client area is.

#include <windows.h>

#include <cstdio>

namespace {

void line(const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(text, sizeof text - 1, format, args);
    va_end(args);
    if (length < 0) return;
    text[length] = '\n';
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, static_cast<DWORD>(length + 1), &written,
              nullptr);
}

const char* mouseName(UINT message) {
    switch (message) {
    case WM_LBUTTONDOWN:
        return "left_down";
    case WM_LBUTTONUP:
        return "left_up";
    case WM_LBUTTONDBLCLK:
        return "left_double";
    case WM_RBUTTONDOWN:
        return "right_down";
    case WM_RBUTTONUP:
        return "right_up";
    case WM_RBUTTONDBLCLK:
        return "right_double";
    case WM_MBUTTONDOWN:
        return "middle_down";
    case WM_MBUTTONUP:
        return "middle_up";
    case WM_MBUTTONDBLCLK:
        return "middle_double";
    case WM_XBUTTONDOWN:
        return "x_down";
    case WM_XBUTTONUP:
        return "x_up";
    case WM_XBUTTONDBLCLK:
        return "x_double";
    default:
        return nullptr;
    }
}

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (const char* name = mouseName(message)) {
        int which = (message >= WM_XBUTTONDOWN && message <= WM_XBUTTONDBLCLK) ? HIWORD(w) : 0;
        line("{\"event\":\"%s\",\"x\":%d,\"y\":%d,\"xbutton\":%d}", name,
             static_cast<short>(LOWORD(l)), static_cast<short>(HIWORD(l)), which);
        return message >= WM_XBUTTONDOWN ? TRUE : 0;
    }
    switch (message) {
    case WM_MOUSEMOVE:
        line("{\"event\":\"move\",\"x\":%d,\"y\":%d}", static_cast<short>(LOWORD(l)),
             static_cast<short>(HIWORD(l)));
        return 0;
    case WM_MOUSEWHEEL:
    case WM_MOUSEHWHEEL:
        line("{\"event\":\"%s\",\"delta\":%d}", message == WM_MOUSEWHEEL ? "wheel" : "hwheel",
             static_cast<short>(HIWORD(w)));
        return 0;
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP: {
        bool down = message == WM_KEYDOWN || message == WM_SYSKEYDOWN;
        // The modifiers in effect as the application sees them with this key.
        int modifiers = ((GetKeyState(VK_SHIFT) & 0x8000) ? 1 : 0) |
                        ((GetKeyState(VK_CONTROL) & 0x8000) ? 2 : 0) |
                        ((GetKeyState(VK_MENU) & 0x8000) ? 4 : 0) |
                        (((GetKeyState(VK_LWIN) | GetKeyState(VK_RWIN)) & 0x8000) ? 8 : 0);
        line("{\"event\":\"%s\",\"vk\":%u,\"scan\":%u,\"extended\":%s,\"modifiers\":%d}",
             down ? "key_down" : "key_up", static_cast<unsigned>(w),
             static_cast<unsigned>((l >> 16) & 0xFF), (l & (1 << 24)) ? "true" : "false",
             modifiers);
        return message == WM_SYSKEYDOWN || message == WM_SYSKEYUP ? 0 : 0;
    }
    case WM_CHAR:
    case WM_SYSCHAR:
        line("{\"event\":\"char\",\"unit\":%u}", static_cast<unsigned>(w));
        return 0;
    case WM_SYSCOMMAND:
        // Alt and F10 would open the window menu and take the keys that follow.
        if ((w & 0xFFF0) == SC_KEYMENU) return 0;
        break;
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window, message, w, l);
}

} // namespace

int main() {
    SetProcessDPIAware();
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW windowClass{};
    windowClass.style = CS_DBLCLKS;
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.lpszClassName = L"vantrel-logger";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(WS_EX_TOPMOST, L"vantrel-logger", L"vantrel logger", WS_POPUP, 0,
                                  0, 640, 480, nullptr, nullptr, instance, nullptr);
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    SetForegroundWindow(window);
    SetFocus(window);
    // Keys sent before the window has the foreground go nowhere.
    for (int tries = 0; GetForegroundWindow() != window && tries < 500; ++tries) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        Sleep(10);
        SetForegroundWindow(window);
    }
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    line("{\"ready\":%s,\"x\":%ld,\"y\":%ld,\"doubleClickTime\":%u}",
         GetForegroundWindow() == window ? "true" : "false", origin.x, origin.y,
         GetDoubleClickTime());
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
