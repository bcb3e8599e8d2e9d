#include "app/window_classes.h"

#include "app/globals.h"
#include "kiosk/control_bar.h"
#include "res/resource.h"
#include "ui/main_window.h"

void RegisterWindowClasses(HINSTANCE instance)
{
    WNDCLASSW main{};
    main.lpfnWndProc = MainWndProc;
    main.hInstance = instance;
    main.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_APP));
    main.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    main.hbrBackground = CreateSolidBrush(RGB(0x06, 0x1A, 0x40));
    main.lpszClassName = kMainClassName;
    RegisterClassW(&main);

    WNDCLASSW bar{};
    bar.lpfnWndProc = BarWndProc;
    bar.hInstance = instance;
    bar.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    bar.hbrBackground = CreateSolidBrush(RGB(0x0F, 0x17, 0x2A));
    bar.lpszClassName = kBarClassName;
    RegisterClassW(&bar);
}
