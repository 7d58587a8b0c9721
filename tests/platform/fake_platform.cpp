#include "fake_platform.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <gtest/gtest.h>

#include <charconv>
#include <cstdio>
#include <deque>
#include <initializer_list>

#include "app/main_wnd_proc.h"
#include "render/render_state.h"

namespace fake {

Results results;

namespace {

// The program's class-name and title buffers are this long.
constexpr size_t kTextBufferSize = 100;

const HICON kIcon = reinterpret_cast<HICON>(0x50050);
const HCURSOR kCursor = reinterpret_cast<HCURSOR>(0x60060);
const HBRUSH kBrush = reinterpret_cast<HBRUSH>(0x70070);

std::vector<std::string> calls;
std::deque<MSG> posted;
std::deque<MSG> script;
WNDPROC windowProc = nullptr;
bool windowAlive = false;

void Record(const char* function, std::initializer_list<std::string> args)
{
    std::string line = std::string(function) + "(";
    const char* separator = "";
    for (const std::string& arg : args) {
        line += separator + arg;
        separator = ", ";
    }
    calls.push_back(line + ")");
}

std::string Int(long long value)
{
    return std::to_string(value);
}

// Flags, masks, enums and message parameters: 0 or 0x...
std::string Hex(unsigned long long value)
{
    char text[24];
    std::snprintf(text, sizeof text, "%#llx", value);
    return text;
}

// Shortest text that reads back as the same value, so equal text means
// bit-identical arguments.
template <typename Real>
std::string Number(Real value)
{
    char text[32];
    return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

std::string Handle(const void* handle)
{
    static const struct {
        const void* handle;
        const char* name;
    } kNames[] = {{instance, "hinst"}, {window, "hwnd"},    {dc, "hdc"},      {context, "hglrc"},
                  {kIcon, "icon"},     {kCursor, "cursor"}, {kBrush, "brush"}};
    if (handle == nullptr) return "NULL";
    for (const auto& known : kNames)
        if (known.handle == handle) return known.name;
    return Hex(reinterpret_cast<uintptr_t>(handle));
}

std::string Escaped(char c)
{
    switch (c) {
    case '\0':
        return "\\0";
    case '\r':
        return "\\r";
    case '\n':
        return "\\n";
    case '"':
        return "\\\"";
    case '\\':
        return "\\\\";
    default:
        break;
    }
    if (c < ' ' || c > '~') {
        char text[8];
        std::snprintf(text, sizeof text, "\\x%02x", static_cast<unsigned char>(c));
        return text;
    }
    return std::string(1, c);
}

// A NUL-terminated string, quoted.
std::string Text(const char* text)
{
    if (text == nullptr) return "NULL";
    std::string quoted = "\"";
    for (; *text; ++text) quoted += Escaped(*text);
    return quoted + "\"";
}

// A whole fixed-size buffer, NUL and padding included; runs of one byte
// are shortened, e.g. "MinimalApp\0" ' 'x89.
std::string Buffer(const char* buffer)
{
    if (buffer == nullptr) return "NULL";
    std::string out;
    bool inQuotes = false;
    for (size_t i = 0; i < kTextBufferSize;) {
        size_t run = 1;
        while (i + run < kTextBufferSize && buffer[i + run] == buffer[i]) ++run;
        if (run < 4) {
            out += inQuotes ? "" : out.empty() ? "\"" : " \"";
            out += Escaped(buffer[i++]);
            inQuotes = true;
            continue;
        }
        out += inQuotes ? "\" '" : out.empty() ? "'" : " '";
        out += Escaped(buffer[i]) + "'x" + std::to_string(run);
        inQuotes = false;
        i += run;
    }
    return inQuotes ? out + "\"" : out;
}

// A resource name: an integer identifier or a string.
std::string Resource(const char* name)
{
    const uintptr_t id = reinterpret_cast<uintptr_t>(name);
    return id < 0x10000 ? Int(static_cast<long long>(id)) : Text(name);
}

std::string MessageName(UINT msg)
{
    switch (msg) {
    case WM_CREATE:
        return "WM_CREATE";
    case WM_DESTROY:
        return "WM_DESTROY";
    case WM_SIZE:
        return "WM_SIZE";
    case WM_PAINT:
        return "WM_PAINT";
    case WM_CLOSE:
        return "WM_CLOSE";
    case WM_QUIT:
        return "WM_QUIT";
    case WM_ERASEBKGND:
        return "WM_ERASEBKGND";
    case WM_KEYDOWN:
        return "WM_KEYDOWN";
    default:
        break;
    }
    return Hex(msg);
}

std::string PixelFormat(const PIXELFORMATDESCRIPTOR* p)
{
    return "{nSize=" + Int(p->nSize) + " nVersion=" + Int(p->nVersion) +
           " dwFlags=" + Hex(p->dwFlags) + " iPixelType=" + Int(p->iPixelType) +
           " cColorBits=" + Int(p->cColorBits) + " cRedBits=" + Int(p->cRedBits) +
           " cRedShift=" + Int(p->cRedShift) + " cGreenBits=" + Int(p->cGreenBits) +
           " cGreenShift=" + Int(p->cGreenShift) + " cBlueBits=" + Int(p->cBlueBits) +
           " cBlueShift=" + Int(p->cBlueShift) + " cAlphaBits=" + Int(p->cAlphaBits) +
           " cAlphaShift=" + Int(p->cAlphaShift) + " cAccumBits=" + Int(p->cAccumBits) +
           " cAccumRedBits=" + Int(p->cAccumRedBits) +
           " cAccumGreenBits=" + Int(p->cAccumGreenBits) +
           " cAccumBlueBits=" + Int(p->cAccumBlueBits) +
           " cAccumAlphaBits=" + Int(p->cAccumAlphaBits) + " cDepthBits=" + Int(p->cDepthBits) +
           " cStencilBits=" + Int(p->cStencilBits) + " cAuxBuffers=" + Int(p->cAuxBuffers) +
           " iLayerType=" + Int(p->iLayerType) + " bReserved=" + Int(p->bReserved) +
           " dwLayerMask=" + Hex(p->dwLayerMask) + " dwVisibleMask=" + Hex(p->dwVisibleMask) +
           " dwDamageMask=" + Hex(p->dwDamageMask) + "}";
}

LRESULT Deliver(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return hwnd == window && windowAlive ? windowProc(hwnd, msg, wParam, lParam) : 0;
}

}  // namespace

void Reset()
{
    calls.clear();
    posted.clear();
    script.clear();
    windowProc = nullptr;
    windowAlive = false;
    results = Results{};
    renderState = WindowRenderState{};
}

void Script(UINT msg, WPARAM wParam, LPARAM lParam)
{
    script.push_back(MSG{window, msg, wParam, lParam, 0, {0, 0}});
}

const std::vector<std::string>& Log()
{
    return calls;
}

std::string Message(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return Handle(hwnd) + ", " + MessageName(msg) + ", " + Hex(wParam) + ", " +
           Hex(static_cast<unsigned long long>(lParam));
}

}  // namespace fake

using namespace fake;

HICON WINAPI LoadIconA(HINSTANCE hInstance, LPCSTR lpIconName)
{
    Record("LoadIconA", {Handle(hInstance), Resource(lpIconName)});
    return kIcon;
}

HCURSOR WINAPI LoadCursorA(HINSTANCE hInstance, LPCSTR lpCursorName)
{
    Record("LoadCursorA", {Handle(hInstance), Resource(lpCursorName)});
    return kCursor;
}

HGDIOBJ WINAPI GetStockObject(int i)
{
    Record("GetStockObject", {Int(i)});
    return i == WHITE_BRUSH ? kBrush : nullptr;
}

ATOM WINAPI RegisterClassA(const WNDCLASSA* wc)
{
    Record("RegisterClassA",
           {"{style=" + Hex(wc->style) +
            " lpfnWndProc=" + (wc->lpfnWndProc == MainWndProc ? "MainWndProc" : "other") +
            " cbClsExtra=" + Int(wc->cbClsExtra) + " cbWndExtra=" + Int(wc->cbWndExtra) +
            " hInstance=" + Handle(wc->hInstance) + " hIcon=" + Handle(wc->hIcon) +
            " hCursor=" + Handle(wc->hCursor) + " hbrBackground=" + Handle(wc->hbrBackground) +
            " lpszMenuName=" + Text(wc->lpszMenuName) +
            " lpszClassName=" + Buffer(wc->lpszClassName) + "}"});
    if (results.registerClass != 0) windowProc = wc->lpfnWndProc;
    return results.registerClass;
}

HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle,
                            int X, int Y, int nWidth, int nHeight, HWND hWndParent, HMENU hMenu,
                            HINSTANCE hInstance, LPVOID lpParam)
{
    Record("CreateWindowExA",
           {Hex(dwExStyle), Buffer(lpClassName), Buffer(lpWindowName), Hex(dwStyle), Int(X), Int(Y),
            Int(nWidth), Int(nHeight), Handle(hWndParent), Handle(hMenu), Handle(hInstance),
            Handle(lpParam)});
    if (results.createWindowFails || windowProc == nullptr) return nullptr;
    windowAlive = true;
    Deliver(window, WM_CREATE, 0, 0);
    return window;
}

BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow)
{
    Record("ShowWindow", {Handle(hWnd), Int(nCmdShow)});
    return FALSE;
}

BOOL WINAPI GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax)
{
    Record("GetMessageA", {Handle(hWnd), Int(wMsgFilterMin), Int(wMsgFilterMax)});
    std::deque<MSG>& queue = posted.empty() ? script : posted;
    if (queue.empty()) {
        ADD_FAILURE() << "GetMessageA: nothing posted or scripted; the loop would wait forever";
        *lpMsg = MSG{nullptr, WM_QUIT, 0, 0, 0, {0, 0}};
        return FALSE;
    }
    *lpMsg = queue.front();
    queue.pop_front();
    return lpMsg->message != WM_QUIT;
}

BOOL WINAPI TranslateMessage(const MSG* lpMsg)
{
    Record("TranslateMessage",
           {Message(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam)});
    return FALSE;
}

LRESULT WINAPI DispatchMessageA(const MSG* lpMsg)
{
    Record("DispatchMessageA",
           {Message(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam)});
    return Deliver(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}

LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    Record("DefWindowProcA", {Message(hWnd, Msg, wParam, lParam)});
    if (Msg == WM_CLOSE && hWnd == window && windowAlive) {
        Deliver(hWnd, WM_DESTROY, 0, 0);
        windowAlive = false;
    }
    return results.defWindowProc;
}

BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    Record("PostMessageA", {Message(hWnd, Msg, wParam, lParam)});
    posted.push_back(MSG{hWnd, Msg, wParam, lParam, 0, {0, 0}});
    return TRUE;
}

void WINAPI PostQuitMessage(int nExitCode)
{
    Record("PostQuitMessage", {Int(nExitCode)});
    posted.push_back(MSG{nullptr, WM_QUIT, static_cast<WPARAM>(nExitCode), 0, 0, {0, 0}});
}

int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType)
{
    Record("MessageBoxA", {Handle(hWnd), Text(lpText), Text(lpCaption), Hex(uType)});
    return IDOK;
}

HDC WINAPI BeginPaint(HWND hWnd, LPPAINTSTRUCT lpPaint)
{
    Record("BeginPaint", {Handle(hWnd)});
    *lpPaint = PAINTSTRUCT{};
    lpPaint->hdc = dc;
    return dc;
}

BOOL WINAPI EndPaint(HWND hWnd, const PAINTSTRUCT*)
{
    Record("EndPaint", {Handle(hWnd)});
    return TRUE;
}

HDC WINAPI GetDC(HWND hWnd)
{
    Record("GetDC", {Handle(hWnd)});
    return dc;
}

int WINAPI ReleaseDC(HWND hWnd, HDC hDC)
{
    Record("ReleaseDC", {Handle(hWnd), Handle(hDC)});
    return 1;
}

BOOL WINAPI GetClientRect(HWND hWnd, LPRECT lpRect)
{
    Record("GetClientRect", {Handle(hWnd)});
    *lpRect = RECT{0, 0, results.clientWidth, results.clientHeight};
    return TRUE;
}

int WINAPI GetDeviceCaps(HDC hdc, int index)
{
    Record("GetDeviceCaps", {Handle(hdc), Int(index)});
    return index == BITSPIXEL ? results.bitsPixel : index == PLANES ? results.planes : 0;
}

int WINAPI ChoosePixelFormat(HDC hdc, const PIXELFORMATDESCRIPTOR* ppfd)
{
    Record("ChoosePixelFormat", {Handle(hdc), PixelFormat(ppfd)});
    return results.choosePixelFormat;
}

BOOL WINAPI SetPixelFormat(HDC hdc, int format, const PIXELFORMATDESCRIPTOR* ppfd)
{
    Record("SetPixelFormat", {Handle(hdc), Int(format), PixelFormat(ppfd)});
    return format != 0;
}

HGLRC WINAPI wglCreateContext(HDC hdc)
{
    Record("wglCreateContext", {Handle(hdc)});
    return results.createContextFails ? nullptr : context;
}

BOOL WINAPI wglMakeCurrent(HDC hdc, HGLRC hglrc)
{
    Record("wglMakeCurrent", {Handle(hdc), Handle(hglrc)});
    return TRUE;
}

BOOL WINAPI wglDeleteContext(HGLRC hglrc)
{
    Record("wglDeleteContext", {Handle(hglrc)});
    return TRUE;
}

void APIENTRY glClear(GLbitfield mask)
{
    Record("glClear", {Hex(mask)});
}
void APIENTRY glBegin(GLenum mode)
{
    Record("glBegin", {Hex(mode)});
}
void APIENTRY glEnd(void)
{
    Record("glEnd", {});
}
void APIENTRY glFlush(void)
{
    Record("glFlush", {});
}
void APIENTRY glLoadIdentity(void)
{
    Record("glLoadIdentity", {});
}
void APIENTRY glMatrixMode(GLenum mode)
{
    Record("glMatrixMode", {Hex(mode)});
}

void APIENTRY glColor3f(GLfloat red, GLfloat green, GLfloat blue)
{
    Record("glColor3f", {Number(red), Number(green), Number(blue)});
}

void APIENTRY glVertex2f(GLfloat x, GLfloat y)
{
    Record("glVertex2f", {Number(x), Number(y)});
}

void APIENTRY glViewport(GLint x, GLint y, GLsizei width, GLsizei height)
{
    Record("glViewport", {Int(x), Int(y), Int(width), Int(height)});
}

void APIENTRY gluOrtho2D(GLdouble left, GLdouble right, GLdouble bottom, GLdouble top)
{
    Record("gluOrtho2D", {Number(left), Number(right), Number(bottom), Number(top)});
}
