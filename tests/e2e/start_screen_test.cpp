// The start screen as a student meets it: where it sits, what it holds, how
// the keyboard moves through it and what its buttons answer.
#include "app_fixture.h"

#include <gtest/gtest.h>

#include <string>

using namespace driver;

namespace {

using namespace e2e;

class StartScreen : public AppTest {};

// The worked window sizes for the screens the school's PCs have.
struct ScreenRow {
    int screenWidth, screenHeight, width, height, left, top;
};
constexpr ScreenRow kScreens[] = {
    {1920, 1080, 453, 840, 733, 120}, {1440, 900, 427, 792, 506, 54},
    {1366, 768, 410, 675, 478, 46},   {1280, 920, 436, 809, 422, 55},
    {1280, 921, 453, 840, 413, 40},   {800, 600, 410, 528, 195, 36},
};

TEST_F(StartScreen, IsACentredFixedSizeWindowForThisScreen)
{
    const int sw = GetSystemMetrics(SM_CXSCREEN);
    const int sh = GetSystemMetrics(SM_CYSCREEN);
    const ScreenRow* row = nullptr;
    for (const auto& r : kScreens)
        if (r.screenWidth == sw && r.screenHeight == sh)
            row = &r;
    ASSERT_NE(row, nullptr) << "no worked size for a " << sw << "x" << sh << " screen";

    RECT outer{};
    GetWindowRect(app.main, &outer);
    EXPECT_EQ(outer.left, row->left);
    EXPECT_EQ(outer.top, row->top);
    EXPECT_EQ(outer.right - outer.left, row->width);
    EXPECT_EQ(outer.bottom - outer.top, row->height);

    EXPECT_EQ(ClassOf(app.main), L"ORVELCBTMain");
    EXPECT_EQ(Text(app.main), L"ORVEL SELVARO");
    const LONG style = GetWindowLongW(app.main, GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX), WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX);
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX | WS_POPUP), 0);
    EXPECT_EQ(GetWindowLongW(app.main, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
    EXPECT_EQ(GetParent(app.main), nullptr);
    EXPECT_TRUE(IsWindowVisible(app.main));
}

TEST_F(StartScreen, HoldsTheFiveControlsWhereTheFormPutsThem)
{
    RECT client{};
    GetClientRect(app.main, &client);
    // The form's left edge, width and first field's top worked out for the
    // clients the test screens give (10% of the width, 62% of the height,
    // truncated), as the layout unit test has them.
    struct Worked {
        int clientWidth, clientHeight, x, w, y0;
    } const worked[] = {{404, 650, 40, 324, 403}, {447, 815, 44, 359, 505}};
    const Worked* row = nullptr;
    for (const auto& r : worked)
        if (r.clientWidth == client.right && r.clientHeight == client.bottom)
            row = &r;
    ASSERT_NE(row, nullptr) << "no worked form for a " << client.right << "x" << client.bottom << " client";
    const int x = row->x, w = row->w, y0 = row->y0;

    struct Expected {
        int id;
        const wchar_t* cls;
        const wchar_t* text;
        LONG style, exStyle;
        int top, height;
    } const rows[] = {
        {kName, L"Edit", L"", 0x50010080, WS_EX_CLIENTEDGE, y0, 30},
        {kClass, L"Edit", L"", 0x50010088, WS_EX_CLIENTEDGE, y0 + 58, 30},
        {kToken, L"Edit", L"", 0x50010088, WS_EX_CLIENTEDGE, y0 + 116, 30},
        {kStart, L"Button", L"Mulai Ujian", 0x5001000B, 0, y0 + 160, 38},
        {kRules, L"Button", L"Lihat Ketentuan Keamanan Ujian", 0x5000000B, 0, y0 + 204, 24},
    };
    for (const auto& e : rows) {
        SCOPED_TRACE(e.id);
        HWND c = Item(e.id);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(_wcsicmp(ClassOf(c).c_str(), e.cls), 0) << "class";
        EXPECT_EQ(Text(c), e.text);
        EXPECT_EQ(GetWindowLongW(c, GWL_STYLE), e.style) << std::hex << GetWindowLongW(c, GWL_STYLE);
        EXPECT_EQ(GetWindowLongW(c, GWL_EXSTYLE), e.exStyle);
        const RECT r = RectInParent(c);
        EXPECT_EQ(r.left, x);
        EXPECT_EQ(r.right - r.left, w);
        EXPECT_EQ(r.top, e.top);
        EXPECT_EQ(r.bottom - r.top, e.height);
    }
    // The form's last control stays inside the window.
    EXPECT_LE(RectInParent(Item(kRules)).bottom, client.bottom);
}

TEST_F(StartScreen, TabWalksNameClassTokenStartAndSkipsTheLink)
{
    ASSERT_TRUE(BringToFront(app.main));
    const HWND focus = FocusOf(app.main);
    EXPECT_NE(focus, Item(kName));
    EXPECT_NE(focus, Item(kClass));
    EXPECT_NE(focus, Item(kToken));

    const int order[] = {kName, kClass, kToken, kStart, kName};
    for (const int id : order) {
        PressKey(VK_TAB);
        EXPECT_TRUE(WaitForFocus(app.main, Item(id))) << "Tab should reach control " << id;
    }
    PressKey(VK_TAB, /*shift=*/true);
    EXPECT_TRUE(WaitForFocus(app.main, Item(kStart))) << "Shift+Tab goes back to the start button";
}

TEST_F(StartScreen, ClassAndTokenFieldsTypeCapitalsTheNameFieldKeepsCase)
{
    ASSERT_TRUE(BringToFront(app.main));
    PressKey(VK_TAB);
    ASSERT_TRUE(WaitForFocus(app.main, Item(kName)));
    PressKey('B');
    PressKey('U');
    EXPECT_TRUE(WaitFor([&] { return Text(Item(kName)) == L"bu"; }, 3000)) << Text(Item(kName)).size();

    PressKey(VK_TAB);
    ASSERT_TRUE(WaitForFocus(app.main, Item(kClass)));
    PressKey('5');
    PressKey('A');
    EXPECT_TRUE(WaitFor([&] { return Text(Item(kClass)) == L"5A"; }, 3000));

    PressKey(VK_TAB);
    ASSERT_TRUE(WaitForFocus(app.main, Item(kToken)));
    PressKey('X');
    PressKey('7');
    EXPECT_TRUE(WaitFor([&] { return Text(Item(kToken)) == L"X7"; }, 3000));
}

TEST_F(StartScreen, AnyEmptyFieldGivesTheWarningBox)
{
    struct Row {
        const wchar_t *name, *cls, *token;
    } const rows[] = {
        {L"", L"", L""},
        {L"", L"5A", L"ABC123"},
        {L"Budi", L"", L"ABC123"},
        {L"Budi", L"5A", L""},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << "name='" << r.name << "' class='" << r.cls << "'");
        SetField(kName, r.name);
        SetField(kClass, r.cls);
        SetField(kToken, r.token);
        Click(kStart);
        HWND box = WaitForMessageBox(pid, L"Peringatan");
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(MessageBoxText(box), L"Harap isi Nama Lengkap, Kelas, dan Token Ujian.");
        EXPECT_EQ(GetWindow(box, GW_OWNER), app.main);
        PressBoxButton(box, IDOK);
        ASSERT_TRUE(WaitUntilGone(box, 3000));
        EXPECT_TRUE(IsWindowEnabled(Item(kStart)));
    }
}

TEST_F(StartScreen, BlankOnlyFieldsCountAsFilled)
{
    SetField(kName, L"   ");
    SetField(kClass, L" ");
    SetField(kToken, L"  ");
    Click(kStart);
    SyncThroughRulesBox();
    EXPECT_EQ(FindTopWindow(pid, L"#32770", L"Peringatan"), nullptr);
}

TEST_F(StartScreen, RulesLinkShowsTheSecurityRules)
{
    Click(kRules);
    HWND box = WaitForMessageBox(pid, L"Ketentuan Keamanan Ujian");
    ASSERT_NE(box, nullptr);
    const std::wstring expected =
        L"\u2022 Masukkan Nama Lengkap, Kelas, dan Token dari pengawas.\n"
        L"\u2022 Layar dikunci penuh (Alt+Tab, tombol Win, Alt+F4, PrintScreen diblokir).\n"
        L"\u2022 Status mulai, pelanggaran, dan selesai dikirim ke WhatsApp pengawas.\n"
        L"\u2022 Pintasan keluar pengawas: Ctrl + Alt + P.";
    EXPECT_EQ(MessageBoxText(box), expected);
    EXPECT_EQ(GetWindow(box, GW_OWNER), app.main);
    PressBoxButton(box, IDOK);
    EXPECT_TRUE(WaitUntilGone(box, 3000));
    EXPECT_TRUE(IsWindowVisible(app.main));
}

TEST_F(StartScreen, EnterAndEscapeStartNothingSpaceOnTheButtonPressesIt)
{
    ASSERT_TRUE(BringToFront(app.main));
    PressKey(VK_TAB);
    ASSERT_TRUE(WaitForFocus(app.main, Item(kName)));
    // Keys come through the input queue, after posted clicks: a letter typed
    // behind each key shows when the key has been handled.
    PressKey(VK_RETURN);
    PressKey('Q');
    ASSERT_TRUE(WaitFor([&] { return Text(Item(kName)) == L"q"; }, 3000));
    PressKey(VK_ESCAPE);
    PressKey('W');
    ASSERT_TRUE(WaitFor([&] { return Text(Item(kName)) == L"qw"; }, 3000));
    SetField(kName, L"");
    SyncThroughRulesBox();
    EXPECT_EQ(FindTopWindow(pid, L"#32770", L"Peringatan"), nullptr) << "Enter must not press start";
    EXPECT_TRUE(IsWindowVisible(app.main)) << "Escape must not close the start screen";

    // With the fields still empty, Space on the focused start button presses it.
    ASSERT_TRUE(BringToFront(app.main));
    for (int i = 0; i < 5 && FocusOf(app.main) != Item(kStart); ++i) {
        const HWND before = FocusOf(app.main);
        PressKey(VK_TAB);
        WaitFor([&] { return FocusOf(app.main) != before; }, 2000);
    }
    ASSERT_EQ(FocusOf(app.main), Item(kStart));
    PressKey(VK_SPACE);
    HWND box = WaitForMessageBox(pid, L"Peringatan");
    ASSERT_NE(box, nullptr);
    PressBoxButton(box, IDOK);
    EXPECT_TRUE(WaitUntilGone(box, 3000));
}

TEST_F(StartScreen, TheCloseBoxEndsTheProgramWithExitCodeZero)
{
    SendMessageW(app.main, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(WaitForExit(app, 10000), 0);
}

}  // namespace
