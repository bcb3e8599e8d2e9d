#include "app/window_classes.h"

#include "app/globals.h"
#include "kiosk/control_bar.h"
#include "kiosk/proctor_message.h"
#include "kiosk/screen_lock.h"
#include "res/resource.h"
#include "ui/main_window.h"

namespace {

void Register(HINSTANCE instance, const wchar_t* name, WNDPROC procedure, HBRUSH background, HICON icon = nullptr)
{
    WNDCLASSW cls{};
    cls.lpfnWndProc = procedure;
    cls.hInstance = instance;
    cls.hIcon = icon;
    cls.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    cls.hbrBackground = background;
    cls.lpszClassName = name;
    RegisterClassW(&cls);
}

}  // namespace

void RegisterWindowClasses(HINSTANCE instance)
{
    Register(instance, kMainClassName, MainWndProc, CreateSolidBrush(RGB(0x06, 0x1A, 0x40)),
             LoadIconW(instance, MAKEINTRESOURCEW(IDI_APP)));
    Register(instance, kBarClassName, BarWndProc, CreateSolidBrush(RGB(0x0F, 0x17, 0x2A)));
    Register(instance, kProctorMessageClassName, ProctorMessageWndProc, GetSysColorBrush(COLOR_BTNFACE));
    // The cover paints every pixel itself.
    Register(instance, kScreenLockClassName, ScreenLockWndProc, nullptr);
}
