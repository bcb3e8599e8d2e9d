// The test driver: starts the real program under the same wineserver and works
// its windows from outside, the way a person at the PC would.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace driver {

// The program under test, as a running process.
struct App {
    PROCESS_INFORMATION pi{};
    HWND main = nullptr;
};

// A file of the build: ORVEL_BUILD_DIR (given by the build) + relative path.
std::wstring BuildFile(const std::wstring& relative);

// Path of the build's orvel-cbt.exe.
std::wstring AppPath();

// Starts a program of the test's own with this command line, as the program
// starts the browser (no application name); a start that fails is said on
// stderr with its error. False if it did not start.
bool StartProgram(std::wstring commandLine, PROCESS_INFORMATION& pi);

// Starts the program and waits for its start screen. False if it never shows.
bool Launch(App& app, const std::wstring& exe = AppPath());

// Asks the start screen to close and waits for the process; returns its exit
// code, or -1 if it had to be killed.
long CloseAndWait(App& app, DWORD timeoutMs = 10000);

// Waits for the process to end by itself; -1 on time-out.
long WaitForExit(App& app, DWORD timeoutMs);

// A visible top-level window of the process with this class (and title, if given).
HWND FindTopWindow(DWORD pid, const wchar_t* cls, const wchar_t* title = nullptr);
HWND WaitForTopWindow(DWORD pid, const wchar_t* cls, const wchar_t* title, DWORD timeoutMs);
bool WaitUntilGone(HWND window, DWORD timeoutMs);

// A message box of the process with this caption, and its text.
HWND WaitForMessageBox(DWORD pid, const wchar_t* caption, DWORD timeoutMs = 5000);
std::wstring MessageBoxText(HWND box);
// Presses one of the box's buttons (IDOK, IDYES, ...), as a person would: not
// before the box's program has handled what X told it of the box (under Wine
// a box closed within milliseconds of opening could leave the X focus change
// to be handled after it is gone, and the foreground with the desktop).
void PressBoxButton(HWND box, int id);
// Lets the window's program handle every X event that follows from what it
// has done so far.
void SettleDisplay(HWND window);

// The whole content of a file (empty if it cannot be opened).
std::string ReadFileBytes(const std::wstring& path);

std::wstring Text(HWND window);
std::wstring ClassOf(HWND window);
RECT ClientRectOnScreen(HWND window);
// The child's rectangle in its parent's client coordinates.
RECT RectInParent(HWND child);

// The window with the keyboard focus in the thread that owns `top`.
HWND FocusOf(HWND top);
// Waits until the focus in top's thread is on `expected`.
bool WaitForFocus(HWND top, HWND expected, DWORD timeoutMs = 3000);
// Puts the window in front and waits until it stays there.
bool BringToFront(HWND top);
// Handles the window messages of the calling thread that are waiting.
void HandleOwnMessages();

// Real key strokes through the system's input queue.
void PressKey(WORD vk, bool shift = false);
void TypeText(const std::wstring& text);
// The keys pressed in order and let go in reverse, e.g. {VK_CONTROL, VK_MENU, 'P'}.
std::vector<INPUT> Chord(std::initializer_list<WORD> keys);
void PressChord(std::initializer_list<WORD> keys);
// One key going down or up, and one mouse event where the pointer is
// (MOUSEEVENTF_RIGHTDOWN, ..., with the wheel's or side button's data), for
// inputs sent together.
INPUT KeyInput(WORD vk, bool down);
INPUT MouseInput(DWORD flags, DWORD data = 0);
// Real mouse input through the input queue: the pointer moved to a screen
// point (true once it is there), the left button pressed or let go at a
// point (each carries its place, as a real mouse's do), and a
// click at the centre of a window.
bool MouseTo(POINT p);
void MouseButton(POINT at, bool down);
void ClickWindow(HWND window);

HWND OwnerOf(HWND window);

// Polls until `ok` holds or the time runs out.
template <typename Pred>
bool WaitFor(Pred ok, DWORD timeoutMs)
{
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        if (ok())
            return true;
        if (GetTickCount64() > end)
            return false;
        Sleep(15);
    }
}

}  // namespace driver
