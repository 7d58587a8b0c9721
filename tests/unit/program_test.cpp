// The program against the recording platform: one expected call table per
// action, compared entry by entry with the fake's call log.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "app/main_wnd_proc.h"
#include "fake_platform.h"
#include "render/gl_surface.h"
#include "render/render_state.h"

namespace {

using Calls = std::vector<std::string>;

// Where two long calls part, so that one odd field stands out.
std::string Divergence(const std::string& want, const std::string& got)
{
    size_t column = 0;
    while (column < want.size() && column < got.size() && want[column] == got[column]) ++column;
    const size_t from = column > 24 ? column - 24 : 0;
    return "\n  from column " + std::to_string(column) + ": expected ..." + want.substr(from, 48) +
           "\n" + std::string(21 + std::to_string(column).size(), ' ') + "got ..." +
           got.substr(from, 48);
}

// Compares the log from index `at` with `expected`. The first difference
// is reported as "context: index: expected X, got Y", followed by both
// sequences. With `last`, the log must end there too. Returns the index
// after the expected calls, or kOffTrack so that checks chained after a
// mismatch stay quiet instead of reporting its echoes.
constexpr size_t kOffTrack = SIZE_MAX;
size_t ExpectCalls(const char* context, size_t at, const Calls& expected, bool last = false)
{
    if (at == kOffTrack) return kOffTrack;
    const std::vector<std::string>& log = fake::Log();
    const size_t count =
        last ? std::max(expected.size(), log.size() - std::min(at, log.size())) : expected.size();
    for (size_t i = 0; i < count; ++i) {
        const std::string want = i < expected.size() ? expected[i] : "(end)";
        const std::string got = at + i < log.size() ? log[at + i] : "(end)";
        if (want == got) continue;
        std::string dump = want.size() > 60 ? Divergence(want, got) : "";
        dump += "\nexpected:\n";
        for (size_t k = 0; k < expected.size(); ++k)
            dump += "  " + std::to_string(k) + ": " + expected[k] + "\n";
        dump += "got:\n";
        for (size_t k = at; k < log.size(); ++k)
            dump += "  " + std::to_string(k - at) + ": " + log[k] + "\n";
        ADD_FAILURE() << context << ": " << i << ": expected " << want << ", got " << got << dump;
        return kOffTrack;
    }
    return at + expected.size();
}

// One trip round the message loop, retrieving the given message.
Calls Pumped(UINT msg, WPARAM wParam, LPARAM lParam)
{
    const std::string m = fake::Message(fake::window, msg, wParam, lParam);
    return {"GetMessageA(NULL, 0, 0)", "TranslateMessage(" + m + ")",
            "DispatchMessageA(" + m + ")"};
}

#define PFD(bits)                                                                   \
    "{nSize=40 nVersion=1 dwFlags=0x24 iPixelType=0 cColorBits=" #bits              \
    " cRedBits=0 cRedShift=0 cGreenBits=0 cGreenShift=0 cBlueBits=0 cBlueShift=0"   \
    " cAlphaBits=0 cAlphaShift=0 cAccumBits=0 cAccumRedBits=0 cAccumGreenBits=0"    \
    " cAccumBlueBits=0 cAccumAlphaBits=0 cDepthBits=0 cStencilBits=0 cAuxBuffers=0" \
    " iLayerType=0 bReserved=0 dwLayerMask=0 dwVisibleMask=0 dwDamageMask=0}"

// WinMain's start: the class record (icon, cursor, brush first), registered.
const Calls kRegisterClass = {
    "LoadIconA(NULL, 32512)",
    "LoadCursorA(NULL, 32512)",
    "GetStockObject(0)",
    R"(RegisterClassA({style=0x23 lpfnWndProc=MainWndProc cbClsExtra=0 cbWndExtra=0 )"
    R"(hInstance=hinst hIcon=icon hCursor=cursor hbrBackground=brush lpszMenuName=NULL )"
    R"(lpszClassName="MinimalApp\0" ' 'x89}))",
};

// WinMain, once the class is registered.
const Calls kCreateWindow = {
    R"(CreateWindowExA(0x1, "MinimalApp\0" ' 'x89, )"
    R"("Drawing Triangles With OpenGL (WEZ 6.1)\0" ' 'x60, )"
    R"(0x6cf0000, 0, 0, 400, 150, NULL, NULL, hinst, NULL))",
};

// WM_CREATE, inside CreateWindowExA, on a 32 bpp display with a 392 x 123 client.
const Calls kCreate = {
    "GetDC(hwnd)",
    "GetDeviceCaps(hdc, 12)",
    "GetDeviceCaps(hdc, 14)",
    "ChoosePixelFormat(hdc, " PFD(32) ")",
    "SetPixelFormat(hdc, 7, " PFD(32) ")",
    "wglCreateContext(hdc)",
    "wglMakeCurrent(hdc, hglrc)",
    "GetClientRect(hwnd)",
    "glViewport(0, 0, 392, 123)",
    "glMatrixMode(0x1701)",
    "glLoadIdentity()",
    "gluOrtho2D(0, 392, 0, 123)",
    "glMatrixMode(0x1700)",
};

// WinMain after CreateWindowExA returned, whatever nCmdShow says.
const Calls kShow = {"ShowWindow(hwnd, 1)"};

// WM_SIZE to 392 x 123.
const Calls kSize = {"glViewport(0, 0, 392, 123)", "PostMessageA(hwnd, WM_PAINT, 0, 0)"};

// WM_PAINT with a 392 x 123 client at creation; each colour beside its vertex.
// clang-format off
const Calls kPaint = {
    "BeginPaint(hwnd)",
    "glClear(0x4100)",
    "glBegin(0x4)",
    "glColor3f(1, 0, 0)", "glVertex2f(10, 10)",
    "glColor3f(1, 1, 0)", "glVertex2f(60, 70)",
    "glColor3f(0, 1, 0)", "glVertex2f(160, 20)",
    "glColor3f(0, 1, 1)", "glVertex2f(220, 90)",
    "glColor3f(0, 0, 1)", "glVertex2f(280, 5)",
    "glColor3f(1, 0, 1)", "glVertex2f(382, 113)",
    "glEnd()",
    "glFlush()",
    "EndPaint(hwnd)",
};
// clang-format on
constexpr size_t kVertex6 = 14;

// WM_CLOSE: default processing destroys the window, which sends WM_DESTROY:
// unbind, release the DC, delete the context, then ask to quit with 0.
const Calls kClose = {
    "DefWindowProcA(hwnd, WM_CLOSE, 0, 0)",
    "wglMakeCurrent(NULL, NULL)",
    "ReleaseDC(hwnd, hdc)",
    "wglDeleteContext(hglrc)",
    "PostQuitMessage(0)",
};

// WM_QUIT ends the loop.
const Calls kQuit = {"GetMessageA(NULL, 0, 0)"};

// RegisterClassA returned 0.
const Calls kRegisterRefused = {
    R"(MessageBoxA(NULL, "Error - can't register window class...\rProgram terminated", "Error", 0x10))",
};

// CreateWindowExA returned NULL.
const Calls kNoWindow = {
    R"(MessageBoxA(NULL, "Error - can't create main window...\rProgram terminated", "Error", 0x10))",
};

class Program : public ::testing::Test {
protected:
    void SetUp() override { fake::Reset(); }
};

TEST_F(Program, RunsFromStartUpThroughSizeAndPaintToQuit)
{
    struct Case {
        int show;
        const char* commandLine;
    };
    static const Case kCases[] = {
        {SW_HIDE, ""},
        {SW_SHOWMAXIMIZED, "--size 10x10 scene.txt"},
        {SW_SHOWMINNOACTIVE, "\"C:\\a b\\c.exe\" /?"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(testing::Message()
                     << "nCmdShow " << c.show << ", command line '" << c.commandLine << "'");
        fake::Reset();
        fake::Script(WM_SIZE, SIZE_RESTORED, 0x007B0188);  // 392 x 123
        fake::Script(WM_CLOSE, 0, 0);
        std::string commandLine = c.commandLine;

        EXPECT_EQ(WinMain(fake::instance, nullptr, commandLine.data(), c.show), 0);

        size_t at = ExpectCalls("register", 0, kRegisterClass);
        at = ExpectCalls("create window", at, kCreateWindow);
        at = ExpectCalls("create", at, kCreate);
        at = ExpectCalls("show", at, kShow);
        at = ExpectCalls("get size", at, Pumped(WM_SIZE, SIZE_RESTORED, 0x007B0188));
        at = ExpectCalls("size", at, kSize);
        at = ExpectCalls("get posted paint", at, Pumped(WM_PAINT, 0, 0));
        at = ExpectCalls("paint", at, kPaint);
        at = ExpectCalls("get close", at, Pumped(WM_CLOSE, 0, 0));
        at = ExpectCalls("close", at, kClose);
        ExpectCalls("quit", at, kQuit, true);
        EXPECT_EQ(renderState.hRC, fake::context);
        EXPECT_EQ(renderState.hDC, fake::dc);
    }
}

TEST_F(Program, RefusedRegistrationShowsMessageBoxAndExits1)
{
    fake::results.registerClass = 0;
    EXPECT_EQ(WinMain(fake::instance, nullptr, nullptr, SW_SHOWNORMAL), 1);
    const size_t at = ExpectCalls("register", 0, kRegisterClass);
    ExpectCalls("registration refused", at, kRegisterRefused, true);
}

TEST_F(Program, NoWindowShowsMessageBoxAndExits1)
{
    fake::results.createWindowFails = true;
    EXPECT_EQ(WinMain(fake::instance, nullptr, nullptr, SW_SHOWNORMAL), 1);
    size_t at = ExpectCalls("register", 0, kRegisterClass);
    at = ExpectCalls("create window", at, kCreateWindow);
    ExpectCalls("no window", at, kNoWindow, true);
}

TEST_F(Program, CreatePassesRefusalsOnAndTakesTheClientSize)
{
    fake::results.choosePixelFormat = 0;
    fake::results.createContextFails = true;
    fake::results.clientWidth = 640;
    fake::results.clientHeight = 480;
    Calls expected = kCreate;
    expected[4] = "SetPixelFormat(hdc, 0, " PFD(32) ")";
    expected[6] = "wglMakeCurrent(hdc, NULL)";
    expected[8] = "glViewport(0, 0, 640, 480)";
    expected[11] = "gluOrtho2D(0, 640, 0, 480)";
    EXPECT_EQ(MainWndProc(fake::window, WM_CREATE, 0, 0), 0);
    ExpectCalls("create, refused, 640 x 480", 0, expected, true);
    EXPECT_EQ(renderState.hRC, nullptr);
}

TEST_F(Program, ColourBitsAreBitsPerPixelTimesPlanesLow8Bits)
{
    struct Case {
        int bitsPixel, planes;
        const char* request;
    };
    // 288 and 264 are over 255: only their low 8 bits reach the request.
    static const Case kCases[] = {
        {32, 1, PFD(32)}, {16, 1, PFD(16)}, {8, 4, PFD(32)}, {32, 9, PFD(32)}, {24, 11, PFD(8)}};
    for (const Case& c : kCases) {
        SCOPED_TRACE(testing::Message() << c.bitsPixel << " x " << c.planes);
        fake::Reset();
        fake::results.bitsPixel = c.bitsPixel;
        fake::results.planes = c.planes;
        SetupGLSurface(fake::window);
        const std::string request = c.request;
        ExpectCalls(
            "colour bits", 1,
            {"GetDeviceCaps(hdc, 12)", "GetDeviceCaps(hdc, 14)",
             "ChoosePixelFormat(hdc, " + request + ")", "SetPixelFormat(hdc, 7, " + request + ")"});
    }
}

TEST_F(Program, EverySizeSetsViewportAndPostsOnePaint)
{
    struct Case {
        WPARAM kind;
        LPARAM size;
        const char* viewport;
    };
    static const Case kCases[] = {
        {SIZE_RESTORED, 0x007B0188, "glViewport(0, 0, 392, 123)"},
        {SIZE_MINIMIZED, 0, "glViewport(0, 0, 0, 0)"},
        {SIZE_MAXIMIZED, 0x02410320, "glViewport(0, 0, 800, 577)"},
        // Both halves are signed 16-bit values.
        {SIZE_RESTORED, 0x80007FFF, "glViewport(0, 0, 32767, -32768)"},
        {SIZE_RESTORED, 0x0001FFFF, "glViewport(0, 0, -1, 1)"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.viewport);
        fake::Reset();
        EXPECT_EQ(MainWndProc(fake::window, WM_SIZE, c.kind, c.size), 0);
        ExpectCalls("size", 0, {c.viewport, "PostMessageA(hwnd, WM_PAINT, 0, 0)"}, true);
    }
}

TEST_F(Program, PaintDrawsFromClientRectAtCreationAndKeepsPaintDC)
{
    struct Case {
        LONG width, height;
        const char* vertex6;
    };
    static const Case kCases[] = {
        {392, 123, "glVertex2f(382, 113)"},
        {640, 480, "glVertex2f(630, 470)"},
        {4, 7, "glVertex2f(-6, -3)"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.vertex6);
        fake::Reset();
        renderState.clientRect = RECT{0, 0, c.width, c.height};
        Calls expected = kPaint;
        expected[kVertex6] = c.vertex6;
        EXPECT_EQ(MainWndProc(fake::window, WM_PAINT, 0, 0), 0);
        ExpectCalls("paint", 0, expected, true);
        EXPECT_EQ(renderState.hDC, fake::dc);
    }
}

TEST_F(Program, OtherMessagesGoToDefWindowProcUnchanged)
{
    struct Case {
        UINT msg;
        WPARAM wParam;
        LPARAM lParam;
        LRESULT result;
        const char* call;
    };
    static const Case kCases[] = {
        {WM_KEYDOWN, 0x41, 0x001E0001, 0, "DefWindowProcA(hwnd, WM_KEYDOWN, 0x41, 0x1e0001)"},
        {WM_ERASEBKGND, 0x20020, 0, 1, "DefWindowProcA(hwnd, WM_ERASEBKGND, 0x20020, 0)"},
        {0x8001, ~WPARAM{0}, -2, -12345,
         "DefWindowProcA(hwnd, 0x8001, 0xffffffffffffffff, 0xfffffffffffffffe)"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.call);
        fake::Reset();
        fake::results.defWindowProc = c.result;
        EXPECT_EQ(MainWndProc(fake::window, c.msg, c.wParam, c.lParam), c.result);
        ExpectCalls("default", 0, {c.call}, true);
    }
}

}  // namespace
