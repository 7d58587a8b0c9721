// The check program: it drives gltriangles.exe as a user would, from inside
// the same Windows (or Wine prefix), and judges what it shows. One run, one
// case; exit status 0 means the case passed.
//
//   check check CASE EXE FAULTDLL   one case (see Check); what a failure
//                                   leaves goes to the working directory
//   check run EXE BMP   run.sh's run: the first picture judged and kept as
//                       BMP, then Alt+F4; exits with the exe's status, or
//                       kWrongPicture or kFailed, with a line saying why
//   check story EXE     trace.sh's story: first picture, drag, maximise and
//                       restore, minimise and restore, close button; exits
//                       with the exe's status, or kFailed
//   check window [hittests]   the main window: rectangles, styles, state and,
//                             with hittests, the screen points of its caption
//                             buttons and sizing corner, found with
//                             WM_NCHITTEST (a hundred or more messages to the
//                             window, slow where the exe is emulated)
//   check dragfull            turn on "show window contents while dragging",
//                             as a Windows desktop has it by default
//
// For the queries, exit status 3 means "not there (yet)", so the host can
// poll; the bench asks them.
//
// DPI: this process is DPI-aware (system-aware, SetProcessDPIAware), in every mode.
// At 150 % the platform stretches the exe's window, which declares no
// awareness, to 1.5 times its size; unaware, we would be given the exe's
// own coordinates and a screen scaled back down, not what the user sees.
// Aware, rectangles, pointer and screen pixels are the user's, and the scene
// is scaled by the screen's DPI / 96 here, edges and margins with it.
#include <windows.h>

#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

namespace {

const char kClass[] = "MinimalApp";
const char kTitle[] = "Drawing Triangles With OpenGL (WEZ 6.1)";

LRESULT HitTest(HWND hwnd, int x, int y)
{
    const LPARAM at = static_cast<LPARAM>((static_cast<DWORD>(y & 0xFFFF) << 16) |
                                          static_cast<DWORD>(x & 0xFFFF));
    // With a limit: a hung exe must fail the case, not hang it.
    DWORD_PTR hit = HTNOWHERE;
    if (!SendMessageTimeoutA(hwnd, WM_NCHITTEST, 0, at, SMTO_ABORTIFHUNG | SMTO_BLOCK, 2000,
                             &hit)) {
        return HTNOWHERE;
    }
    return static_cast<LRESULT>(hit);
}

bool InMoveSize(HWND hwnd)
{
    GUITHREADINFO gui;
    gui.cbSize = sizeof gui;
    return GetGUIThreadInfo(GetWindowThreadProcessId(hwnd, NULL), &gui) &&
           (gui.flags & GUI_INMOVESIZE) != 0;
}

struct Button {
    const char* name;
    LRESULT code;
    int x0;  // the run of `code` along the caption line; -1 before it is seen
    int x1;
    POINT at;  // its centre once found
};

// Finds the centre of each button's run along the caption line, measured
// across in x, in one pass for all of them from the right, where caption
// buttons sit, to just past the last one; and then down in y at that x.
// Returns how many were found.
int FindButtons(HWND hwnd, Button* buttons, int count, const RECT& wr, int captionY)
{
    int found = 0;
    for (int x = wr.right - 1; x >= wr.left; --x) {
        const LRESULT hit = HitTest(hwnd, x, captionY);
        bool onButton = false;
        for (int i = 0; i < count; ++i) {
            if (hit == buttons[i].code) {
                if (buttons[i].x1 < 0) {
                    buttons[i].x1 = x;
                    ++found;
                }
                buttons[i].x0 = x;
                onButton = true;
            }
        }
        if (found == count && !onButton) break;
    }
    for (int i = 0; i < count; ++i) {
        Button& b = buttons[i];
        if (b.x0 < 0) continue;
        const int x = (b.x0 + b.x1) / 2;
        int y0 = captionY;
        int y1 = captionY;
        while (y0 > wr.top && HitTest(hwnd, x, y0 - 1) == b.code) --y0;
        while (y1 < wr.bottom - 1 && HitTest(hwnd, x, y1 + 1) == b.code) ++y1;
        b.at.x = x;
        b.at.y = (y0 + y1) / 2;
    }
    return found;
}

// A minimised window has no client area: its caption is all of it.
int CaptionY(HWND hwnd)
{
    RECT wr;
    GetWindowRect(hwnd, &wr);
    POINT origin = {0, 0};
    ClientToScreen(hwnd, &origin);
    return IsIconic(hwnd) ? static_cast<int>((wr.top + wr.bottom) / 2)
                          : static_cast<int>((wr.top + origin.y) / 2);
}

// The sizing corner: walk in from the bottom-right pixel along the diagonal
// and take the middle of the run; false if there is none.
bool FindGrip(HWND hwnd, POINT* grip)
{
    RECT wr;
    GetWindowRect(hwnd, &wr);
    int run = 0;
    while (run < 64 && HitTest(hwnd, static_cast<int>(wr.right) - 1 - run,
                               static_cast<int>(wr.bottom) - 1 - run) == HTBOTTOMRIGHT) {
        ++run;
    }
    grip->x = wr.right - 1 - run / 2;
    grip->y = wr.bottom - 1 - run / 2;
    return run > 0;
}

struct Seen {
    RECT window;
    RECT client;  // on the screen
    LONG style, exStyle;
    DWORD classStyle;
    bool visible, iconic, zoomed, active, sizing;
};

Seen Look(HWND hwnd)
{
    Seen s;
    GetWindowRect(hwnd, &s.window);
    GetClientRect(hwnd, &s.client);
    MapWindowPoints(hwnd, NULL, reinterpret_cast<POINT*>(&s.client), 2);
    s.style = GetWindowLongA(hwnd, GWL_STYLE);
    s.exStyle = GetWindowLongA(hwnd, GWL_EXSTYLE);
    s.classStyle = GetClassLongA(hwnd, GCL_STYLE);
    s.visible = IsWindowVisible(hwnd) != FALSE;
    s.iconic = IsIconic(hwnd) != FALSE;
    s.zoomed = IsZoomed(hwnd) != FALSE;
    s.active = GetForegroundWindow() == hwnd;
    s.sizing = InMoveSize(hwnd);
    return s;
}

int Window(bool hitTests)
{
    HWND hwnd = FindWindowA(kClass, kTitle);
    if (hwnd == NULL) return 3;
    const Seen s = Look(hwnd);
    const RECT& w = s.window;
    const RECT& c = s.client;
    printf("window %ld %ld %ld %ld\n", w.left, w.top, w.right - w.left, w.bottom - w.top);
    printf("client %ld %ld %ld %ld\n", c.left, c.top, c.right - c.left, c.bottom - c.top);
    printf("style 0x%08lx\nexstyle 0x%08lx\nclassstyle 0x%08lx\n",
           static_cast<unsigned long>(s.style), static_cast<unsigned long>(s.exStyle),
           static_cast<unsigned long>(s.classStyle));
    printf("state %d %d %d\n", s.visible, s.iconic, s.zoomed);
    printf("active %d\n", s.active);
    // Whether the window's thread is inside the platform's modal move/size loop.
    printf("movesize %d\n", s.sizing);

    if (!hitTests) return 0;

    Button buttons[] = {{"minbutton", HTMINBUTTON, -1, -1, {0, 0}},
                        {"maxbutton", HTMAXBUTTON, -1, -1, {0, 0}},
                        {"closebutton", HTCLOSE, -1, -1, {0, 0}}};
    FindButtons(hwnd, buttons, 3, w, CaptionY(hwnd));
    for (const Button& b : buttons) {
        if (b.x0 >= 0) printf("%s %ld %ld\n", b.name, b.at.x, b.at.y);
    }
    POINT grip;
    if (FindGrip(hwnd, &grip)) printf("grip %ld %ld\n", grip.x, grip.y);
    return 0;
}

// The error icon as this process draws it, w x h pixels into COLOURS, with
// OPAQUE false where it is see-through (it comes out differently on black
// and on white).
void ExpectedIcon(int w, int h, COLORREF* colours, bool* opaque)
{
    HDC screen = GetDC(NULL);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, w, 2 * h);
    HGDIOBJ old = SelectObject(dc, bitmap);
    const RECT onBlack = {0, 0, w, h};
    const RECT onWhite = {0, h, w, 2 * h};
    FillRect(dc, &onBlack, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    FillRect(dc, &onWhite, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    HICON icon = LoadIconA(NULL, IDI_ERROR);
    DrawIconEx(dc, 0, 0, icon, w, h, 0, NULL, DI_NORMAL);
    DrawIconEx(dc, 0, h, icon, w, h, 0, NULL, DI_NORMAL);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            colours[y * w + x] = GetPixel(dc, x, y);
            opaque[y * w + x] = colours[y * w + x] == GetPixel(dc, x, y + h);
        }
    }
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(NULL, screen);
}

bool DragFullWindows()
{
    BOOL on = FALSE;
    return SystemParametersInfoA(SPI_SETDRAGFULLWINDOWS, TRUE, NULL, SPIF_SENDCHANGE) &&
           SystemParametersInfoA(SPI_GETDRAGFULLWINDOWS, 0, &on, 0) && on;
}

// --- the checks -------------------------------------------------------------

const char* gCase = "";
HANDLE gStarted = NULL;        // the exe this case started, ended with the case
double gScale = 1.0;           // screen pixels per pixel of the exe, which is not DPI-aware
const int kTolerance = 3;      // levels out of 255, per channel (Mesa is off by at most 1)
const double kEdgeMargin = 2;  // pixels, times gScale: this close to an edge is not judged

bool Fail(const char* format, ...)
{
    printf("check.%s: FAIL: ", gCase);
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    putchar('\n');
    fflush(stdout);
    return false;
}

// Polls READY until it holds or MS milliseconds have passed.
template <typename F>
bool WaitFor(F ready, DWORD ms)
{
    const DWORD start = GetTickCount();
    while (!ready()) {
        if (GetTickCount() - start > ms) return false;
        Sleep(10);
    }
    return true;
}

int Scaled(int n)
{
    return static_cast<int>(lround(n * gScale));
}

struct App {
    PROCESS_INFORMATION pi;
    HWND hwnd;
    int w0, h0;  // the client area at creation, in the exe's pixels
};

bool Fail(const char* what, const Seen& s)
{
    return Fail(
        "%s; saw window %ld,%ld %ldx%ld, client %ldx%ld, visible %d minimised %d "
        "maximised %d active %d sizing %d",
        what, s.window.left, s.window.top, s.window.right - s.window.left,
        s.window.bottom - s.window.top, s.client.right - s.client.left,
        s.client.bottom - s.client.top, s.visible, s.iconic, s.zoomed, s.active, s.sizing);
}

// The top-level window of class CLS (and TITLE, unless NULL) that the
// process PID shows, or NULL.
HWND FindOwnWindow(DWORD pid, const char* cls, const char* title = NULL)
{
    for (HWND w = FindWindowExA(NULL, NULL, cls, title); w != NULL;
         w = FindWindowExA(NULL, w, cls, title)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (owner == pid) return w;
    }
    return NULL;
}

bool Exited(const App& app)
{
    return WaitForSingleObject(app.pi.hProcess, 0) == WAIT_OBJECT_0;
}

// Starts EXE with SHOW in its STARTUPINFO, or none.
bool Start(const char* exe, int show, App* app)
{
    STARTUPINFOA si;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    if (show >= 0) {
        si.dwFlags = STARTF_USESHOWWINDOW;
        si.wShowWindow = static_cast<WORD>(show);
    }
    memset(app, 0, sizeof *app);
    if (!CreateProcessA(exe, NULL, NULL, NULL, FALSE, 0, NULL, NULL, &si, &app->pi)) {
        return Fail("cannot start %s (error %lu)", exe, GetLastError());
    }
    CloseHandle(app->pi.hThread);
    gStarted = app->pi.hProcess;
    return true;
}

// Starts EXE and waits for its main window to be shown; false once the exe
// has exited or the time is up.
bool Launch(const char* exe, int show, App* app)
{
    if (!Start(exe, show, app)) return false;
    const bool shown = WaitFor(
        [&] {
            app->hwnd = FindOwnWindow(app->pi.dwProcessId, kClass, kTitle);
            return Exited(*app) || (IsWindowVisible(app->hwnd) &&
                                    (GetForegroundWindow() == app->hwnd || IsIconic(app->hwnd)));
        },
        40000);
    DWORD status = 0;
    if (Exited(*app) && GetExitCodeProcess(app->pi.hProcess, &status)) {
        return Fail("the exe exited with %lu before its window was shown", status);
    }
    if (!shown) return Fail("no shown window of class %s titled \"%s\" in 40 s", kClass, kTitle);
    const Seen s = Look(app->hwnd);
    app->w0 = static_cast<int>(lround((s.client.right - s.client.left) / gScale));
    app->h0 = static_cast<int>(lround((s.client.bottom - s.client.top) / gScale));
    return true;
}

// Waits for the exe to exit, into STATUS.
bool Exits(const App& app, DWORD* status)
{
    if (WaitForSingleObject(app.pi.hProcess, 20000) != WAIT_OBJECT_0) {
        return Fail("the exe was still running 20 s later", Look(app.hwnd));
    }
    return GetExitCodeProcess(app.pi.hProcess, status) ||
           Fail("cannot read the exe's exit status (error %lu)", GetLastError());
}

bool ExitsWith(const App& app, DWORD want)
{
    DWORD status = 0;
    return Exits(app, &status) &&
           (status == want || Fail("the exe exited with %lu, expected %lu", status, want));
}

// --- the screen -------------------------------------------------------------

struct Shot {
    int w, h;
    DWORD* bits;  // 0x00RRGGBB, top row first
    HBITMAP bitmap;
};

void Free(Shot* shot)
{
    if (shot->bitmap != NULL) DeleteObject(shot->bitmap);
    shot->bitmap = NULL;
}

// The screen within R, as the user sees it.
bool Grab(const RECT& r, Shot* shot)
{
    Free(shot);
    shot->w = static_cast<int>(r.right - r.left);
    shot->h = static_cast<int>(r.bottom - r.top);
    if (shot->w <= 0 || shot->h <= 0) return false;
    BITMAPINFO bi;
    memset(&bi, 0, sizeof bi);
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = shot->w;
    bi.bmiHeader.biHeight = -shot->h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    HDC screen = GetDC(NULL);
    HDC dc = CreateCompatibleDC(screen);
    void* bits = NULL;
    shot->bitmap = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, NULL, 0);
    shot->bits = static_cast<DWORD*>(bits);
    bool ok = shot->bitmap != NULL;
    if (ok) {
        HGDIOBJ old = SelectObject(dc, shot->bitmap);
        ok = BitBlt(dc, 0, 0, shot->w, shot->h, screen, r.left, r.top, SRCCOPY) != FALSE;
        GdiFlush();
        SelectObject(dc, old);
    }
    DeleteDC(dc);
    ReleaseDC(NULL, screen);
    return ok;
}

void SaveBmp(const Shot& shot, const char* path)
{
    BITMAPFILEHEADER file;
    BITMAPINFOHEADER info;
    memset(&file, 0, sizeof file);
    memset(&info, 0, sizeof info);
    const DWORD size = static_cast<DWORD>(shot.w) * static_cast<DWORD>(shot.h) * 4;
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + size;
    info.biSize = sizeof info;
    info.biWidth = shot.w;
    info.biHeight = -shot.h;
    info.biPlanes = 1;
    info.biBitCount = 32;
    info.biCompression = BI_RGB;
    HANDLE f = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (f == INVALID_HANDLE_VALUE) return;
    DWORD written;
    WriteFile(f, &file, sizeof file, &written, NULL);
    WriteFile(f, &info, sizeof info, &written, NULL);
    WriteFile(f, shot.bits, size, &written, NULL);
    CloseHandle(f);
}

int Channel(DWORD c, int shift)
{
    return static_cast<int>((c >> shift) & 0xFF);
}

bool Off(DWORD want, DWORD got)
{
    for (int shift = 0; shift < 24; shift += 8) {
        const int d = Channel(want, shift) - Channel(got, shift);
        if (d > kTolerance || d < -kTolerance) return true;
    }
    return false;
}

// --- the picture the exe must show ------------------------------------------

struct Vertex {
    double r, g, b, x, y;
};

// The two triangles of a scene set up in a w0 x h0 client area (in the exe's
// pixels, origin bottom left, y up), placed in a w x h one on the screen,
// (0, 0) at its top left: the projection keeps the creation-time range, so
// x and y stretch apart.
void Triangles(int w, int h, int w0, int h0, Vertex t[6])
{
    const Vertex scene[6] = {{1, 0, 0, 10, 10},  {1, 1, 0, 60, 70},
                             {0, 1, 0, 160, 20}, {0, 1, 1, 220, 90},
                             {0, 0, 1, 280, 5},  {1, 0, 1, w0 - 10.0, h0 - 10.0}};
    for (int i = 0; i < 6; ++i) {
        t[i] = scene[i];
        t[i].x = scene[i].x * w / w0;
        t[i].y = h - scene[i].y * h / h0;
    }
}

double Cross(const Vertex& o, const Vertex& a, double px, double py)
{
    return (a.x - o.x) * (py - o.y) - (a.y - o.y) * (px - o.x);
}

double SegmentDistance(double px, double py, const Vertex& a, const Vertex& b)
{
    const double dx = b.x - a.x;
    const double dy = b.y - a.y;
    double t = ((px - a.x) * dx + (py - a.y) * dy) / (dx * dx + dy * dy);
    t = t < 0 ? 0 : t > 1 ? 1 : t;
    return hypot(px - a.x - t * dx, py - a.y - t * dy);
}

// The colour at (px, py), or false where it is too close to an edge to judge.
bool ColourAt(double px, double py, const Vertex t[6], DWORD* colour)
{
    *colour = 0;
    for (int i = 0; i < 6; i += 3) {
        const Vertex& a = t[i];
        const Vertex& b = t[i + 1];
        const Vertex& c = t[i + 2];
        const double margin = kEdgeMargin * gScale;
        if (SegmentDistance(px, py, a, b) < margin || SegmentDistance(px, py, b, c) < margin ||
            SegmentDistance(px, py, c, a) < margin) {
            return false;
        }
        const double area = Cross(a, b, c.x, c.y);
        const double wa = Cross(b, c, px, py) / area;
        const double wb = Cross(c, a, px, py) / area;
        const double wc = 1 - wa - wb;
        if (wa >= 0 && wb >= 0 && wc >= 0) {
            const double r = wa * a.r + wb * b.r + wc * c.r;
            const double g = wa * a.g + wb * b.g + wc * c.g;
            const double bl = wa * a.b + wb * b.b + wc * c.b;
            *colour =
                static_cast<DWORD>(lround(255 * r) << 16 | lround(255 * g) << 8 | lround(255 * bl));
        }
    }
    return true;
}

// Waits for the client area to show the scene, every pixel of it judged but
// those near an edge; keeps what it saw last as KEEP if given, else on time
// out as CASE-seen.bmp.
bool PictureRight(const App& app, const char* what, const char* keep = NULL)
{
    Shot shot = {0, 0, NULL, NULL};
    char failure[300] = "no picture could be read from the screen";
    const bool right = WaitFor(
        [&] {
            const Seen s = Look(app.hwnd);
            if (!Grab(s.client, &shot)) return false;
            Vertex t[6];
            Triangles(shot.w, shot.h, app.w0, app.h0, t);
            int judged = 0;
            int wrong = 0;
            for (int y = 0; y < shot.h; ++y) {
                for (int x = 0; x < shot.w; ++x) {
                    DWORD want;
                    if (!ColourAt(x + 0.5, y + 0.5, t, &want)) continue;
                    ++judged;
                    const DWORD got = shot.bits[y * shot.w + x] & 0xFFFFFF;
                    if (Off(want, got) && wrong++ == 0) {
                        snprintf(
                            failure, sizeof failure,
                            "first wrong pixel at client (%d, %d): expected #%06lx, found #%06lx",
                            x, y, want, got);
                    }
                }
            }
            if (wrong == 0 && judged < shot.w * shot.h / 2) {
                snprintf(failure, sizeof failure, "only %d of %d pixels away from edges", judged,
                         shot.w * shot.h);
                return false;
            }
            if (wrong > 0) {
                const size_t n = strlen(failure);
                snprintf(failure + n, sizeof failure - n,
                         "; %d of %d judged pixels wrong, in %dx%d", wrong, judged, shot.w, shot.h);
            }
            return wrong == 0;
        },
        10000);
    char path[MAX_PATH];
    snprintf(path, sizeof path, keep != NULL ? "%s" : "%s-seen.bmp", keep != NULL ? keep : gCase);
    if ((keep != NULL || !right) && shot.bitmap != NULL) SaveBmp(shot, path);
    if (!right && shot.bitmap != NULL) {
        Fail("%s is wrong: %s (scene %dx%d, tolerance %d, edge margin %g px); kept %s", what,
             failure, app.w0, app.h0, kTolerance, kEdgeMargin * gScale, path);
    } else if (!right) {
        Fail("%s: %s", what, failure);
    }
    Free(&shot);
    return right;
}

// --- input --------------------------------------------------------------------

void Send(INPUT* in)
{
    SendInput(1, in, sizeof *in);
}

// The pointer to (x, y), with FLAGS (a button going down or up) there.
// Each event carries its place: under Wine the X server may still report
// where an earlier case left the pointer.
void MouseAt(int x, int y, DWORD flags)
{
    INPUT in;
    memset(&in, 0, sizeof in);
    in.type = INPUT_MOUSE;
    // The middle of pixel (x, y) on the 0..65535 scale of the primary screen.
    in.mi.dx = (2 * x + 1) * 65536 / (2 * GetSystemMetrics(SM_CXSCREEN));
    in.mi.dy = (2 * y + 1) * 65536 / (2 * GetSystemMetrics(SM_CYSCREEN));
    in.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | flags;
    Send(&in);
}

bool MouseTo(int x, int y)
{
    MouseAt(x, y, 0);
    POINT at = {0, 0};
    return WaitFor([&] { return GetCursorPos(&at) && at.x == x && at.y == y; }, 5000) ||
           Fail("the pointer went to %ld, %ld, not %d, %d", at.x, at.y, x, y);
}

void Key(WORD vk, bool up)
{
    INPUT in;
    memset(&in, 0, sizeof in);
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    Send(&in);
}

// Clicks the caption button with hit-test code CODE.
bool ClickButton(HWND hwnd, LRESULT code, const char* name)
{
    RECT wr;
    GetWindowRect(hwnd, &wr);
    Button b = {name, code, -1, -1, {0, 0}};
    const int captionY = CaptionY(hwnd);
    if (FindButtons(hwnd, &b, 1, wr, captionY) == 0) {
        char what[100];
        snprintf(what, sizeof what, "no %s at y %d (WM_NCHITTEST never answers %ld)", name,
                 captionY, static_cast<long>(code));
        return Fail(what, Look(hwnd));
    }
    const int x = static_cast<int>(b.at.x);
    const int y = static_cast<int>(b.at.y);
    if (!MouseTo(x, y)) return false;
    MouseAt(x, y, MOUSEEVENTF_LEFTDOWN);
    MouseAt(x, y, MOUSEEVENTF_LEFTUP);
    return true;
}

template <typename F>
bool Until(const App& app, F condition, const char* what)
{
    Seen s = Look(app.hwnd);
    return WaitFor(
               [&] {
                   s = Look(app.hwnd);
                   return condition(s);
               },
               20000) ||
           Fail(what, s);
}

bool Normal(const Seen& s)
{
    return s.visible && !s.iconic && !s.zoomed;
}

// Normal and back at R: the state changes before the place.
bool RestoredTo(const App& app, const RECT& r)
{
    const auto restored = [&](const Seen& s) { return Normal(s) && EqualRect(&s.window, &r); };
    return Until(app, restored, "not restored");
}

// --- the cases ------------------------------------------------------------

bool WindowRight(const App& app)
{
    const Seen s = Look(app.hwnd);
    const LONG style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
    const DWORD classStyle = CS_VREDRAW | CS_HREDRAW | CS_OWNDC;
    if ((s.style & ~WS_VISIBLE) != style) {
        return Fail("style 0x%08lx, expected 0x%08lx", s.style & ~WS_VISIBLE, style);
    }
    if ((s.exStyle & WS_EX_DLGMODALFRAME) == 0) {
        return Fail("extended style 0x%08lx lacks WS_EX_DLGMODALFRAME", s.exStyle);
    }
    if (s.classStyle != classStyle) {
        return Fail("class style 0x%08lx, expected 0x%08lx", s.classStyle, classStyle);
    }
    if (s.window.left != 0 || s.window.top != 0 || s.window.right != Scaled(400) ||
        s.window.bottom != Scaled(150) || !Normal(s) || !s.active) {
        return Fail("not shown normally at 0,0 400x150 and active", s);
    }
    return true;
}

bool CheckWindow(const char* exe, int show, bool picture)
{
    App app;
    return Launch(exe, show, &app) && WindowRight(app) &&
           (!picture || PictureRight(app, "the first picture"));
}

void AltF4()
{
    Key(VK_MENU, false);
    Key(VK_F4, false);
    Key(VK_F4, true);
    Key(VK_MENU, true);
}

// Maximises with the caption button and restores with it, the picture
// right each time; false once anything is not.
bool MaximiseAndRestore(const App& app)
{
    const Seen before = Look(app.hwnd);
    // The state changes before the place, where the restore button is.
    const auto maximised = [&](const Seen& s) {
        return s.visible && s.zoomed && !EqualRect(&s.window, &before.window);
    };
    if (!ClickButton(app.hwnd, HTMAXBUTTON, "maximise button") ||
        !Until(app, maximised, "not maximised") || !PictureRight(app, "the maximised picture")) {
        return false;
    }
    const Seen big = Look(app.hwnd);
    if (big.client.right - big.client.left <= before.client.right - before.client.left ||
        big.client.bottom - big.client.top <= before.client.bottom - before.client.top) {
        return Fail("the maximised client area is not bigger", big);
    }
    return ClickButton(app.hwnd, HTMAXBUTTON, "restore button") && RestoredTo(app, before.window) &&
           PictureRight(app, "the restored picture");
}

bool MinimiseAndRestore(const App& app)
{
    const RECT before = Look(app.hwnd).window;
    const auto minimised = [&](const Seen& s) {
        return s.visible && s.iconic && !EqualRect(&s.window, &before);
    };
    return ClickButton(app.hwnd, HTMINBUTTON, "minimise button") &&
           Until(app, minimised, "not minimised") &&
           (!Exited(app) || Fail("the exe exited when minimised")) &&
           // A minimised window's restore button.
           ClickButton(app.hwnd, HTMINBUTTON, "restore button") && RestoredTo(app, before) &&
           (!Exited(app) || Fail("the exe exited")) &&
           PictureRight(app, "the picture after minimising and restoring");
}

// Drags the sizing corner by each of the COUNT offsets in STEPS, the
// button held all through, the picture right at each step; the button goes
// up whatever happens.
bool Drag(const App& app, const int (*steps)[2], int count)
{
    POINT grip;
    if (!DragFullWindows()) return Fail("cannot turn on showing contents while dragging");
    if (!FindGrip(app.hwnd, &grip)) return Fail("no sizing corner (HTBOTTOMRIGHT) found");
    const RECT w = Look(app.hwnd).window;
    const int x = static_cast<int>(grip.x);
    const int y = static_cast<int>(grip.y);
    if (!MouseTo(x, y)) return false;
    MouseAt(x, y, MOUSEEVENTF_LEFTDOWN);
    // A move before the sizing loop has begun is not a drag, and the loop
    // would wait for the next one.
    const auto sizing = [](const Seen& s) { return s.sizing; };
    bool ok = Until(app, sizing, "no sizing loop on the corner");
    for (int i = 0; ok && i < count; ++i) {
        const int* d = steps[i];
        char what[100];
        snprintf(what, sizeof what, "the picture while dragging by %+d, %+d", d[0], d[1]);
        Seen s = Look(app.hwnd);
        ok = MouseTo(x + d[0], y + d[1]) &&
             (WaitFor(
                  [&] {
                      s = Look(app.hwnd);
                      return s.sizing && s.window.left == w.left && s.window.top == w.top &&
                             s.window.right == w.right + d[0] && s.window.bottom == w.bottom + d[1];
                  },
                  20000) ||
              Fail("the window does not follow the drag in the sizing loop", s)) &&
             PictureRight(app, what);
    }
    POINT at;
    GetCursorPos(&at);
    MouseAt(static_cast<int>(at.x), static_cast<int>(at.y), MOUSEEVENTF_LEFTUP);
    const auto ended = [](const Seen& s) { return !s.sizing; };
    return ok && Until(app, ended, "the sizing loop goes on");
}

bool CheckMaximise(const char* exe)
{
    App app;
    return Launch(exe, -1, &app) && PictureRight(app, "the first picture") &&
           MaximiseAndRestore(app) && WindowRight(app);
}

bool CheckMinimise(const char* exe)
{
    App app;
    return Launch(exe, -1, &app) && MinimiseAndRestore(app) && WindowRight(app);
}

bool CheckDrag(const char* exe)
{
    App app;
    const int steps[][2] = {{40, 20}, {150, 90}, {330, 260}, {100, 10}, {-60, -25}};
    return Launch(exe, -1, &app) && Drag(app, steps, 5);
}

bool CheckClose(const char* exe, bool altF4)
{
    App app;
    if (!Launch(exe, -1, &app)) return false;
    if (altF4) {
        AltF4();
    } else if (!ClickButton(app.hwnd, HTCLOSE, "close button")) {
        return false;
    }
    return ExitsWith(app, 0);
}

// The box's children: its text, its buttons, and its error icon against
// what this process draws for IDI_ERROR, pixel for pixel.
struct BoxSeen {
    char text[256];
    char buttons[256];
    RECT icon;
};

BOOL CALLBACK ReadChild(HWND child, LPARAM to)
{
    BoxSeen* box = reinterpret_cast<BoxSeen*>(to);
    char cls[64];
    char text[256];
    GetClassNameA(child, cls, sizeof cls);
    GetWindowTextA(child, text, sizeof text);
    const LONG style = GetWindowLongA(child, GWL_STYLE);
    if (lstrcmpiA(cls, "Static") == 0 && (style & SS_TYPEMASK) == SS_ICON) {
        GetWindowRect(child, &box->icon);
    } else if (lstrcmpiA(cls, "Static") == 0 && text[0] != '\0') {
        lstrcpynA(box->text, text, sizeof box->text);
    } else if (lstrcmpiA(cls, "Button") == 0 && IsWindowVisible(child)) {
        const size_t n = strlen(box->buttons);
        snprintf(box->buttons + n, sizeof box->buttons - n, "%s%s", n ? " " : "", text);
    }
    return TRUE;
}

// Waits for the box to show the error icon, pixel for pixel as this process
// draws it.
bool IconRight(const RECT& r)
{
    const int w = static_cast<int>(r.right - r.left);
    const int h = static_cast<int>(r.bottom - r.top);
    if (w <= 0 || h <= 0 || w > 256 || h > 256) return Fail("no error icon in the box");
    static COLORREF want[256 * 256];
    static bool opaque[256 * 256];
    ExpectedIcon(w, h, want, opaque);
    int solid = 0;
    for (int i = 0; i < w * h; ++i) solid += opaque[i] ? 1 : 0;
    if (solid <= w * h / 4) return Fail("the expected icon is mostly see-through");
    Shot shot = {0, 0, NULL, NULL};
    char failure[200] = "cannot read the icon from the screen";
    const bool right = WaitFor(
        [&] {
            if (!Grab(r, &shot)) return false;
            int wrong = 0;
            for (int i = 0; i < w * h; ++i) {
                const DWORD expected = static_cast<DWORD>(
                    GetRValue(want[i]) << 16 | GetGValue(want[i]) << 8 | GetBValue(want[i]));
                const DWORD got = shot.bits[i] & 0xFFFFFF;
                if (opaque[i] && Off(expected, got) && wrong++ == 0) {
                    snprintf(failure, sizeof failure,
                             "first wrong icon pixel (%d, %d): expected #%06lx, found #%06lx",
                             i % w, i / w, expected, got);
                }
            }
            if (wrong > 0) {
                const size_t n = strlen(failure);
                snprintf(failure + n, sizeof failure - n, "; %d of %d differ", wrong, solid);
            }
            return wrong == 0;
        },
        10000);
    const bool kept = !right && shot.bitmap != NULL;
    if (kept) SaveBmp(shot, "icon-seen.bmp");
    Free(&shot);
    return right || Fail("%s%s", failure, kept ? "; kept icon-seen.bmp" : "");
}

bool CheckRefused(const char* exe, const char* fault, const char* cause, const char* text)
{
    // A copy of the exe here, with the fault's glu32.dll beside it.
    char copy[MAX_PATH];
    char dll[MAX_PATH];
    GetFullPathNameA("gltriangles.exe", MAX_PATH, copy, NULL);
    GetFullPathNameA("glu32.dll", MAX_PATH, dll, NULL);
    if (!CopyFileA(exe, copy, FALSE) || !CopyFileA(fault, dll, FALSE)) {
        return Fail("cannot copy the exe and %s here (error %lu)", fault, GetLastError());
    }
    SetEnvironmentVariableA("GLTRIANGLES_E2E_FAULT", cause);
    App app;
    if (!Start(copy, -1, &app)) return false;
    HWND box = NULL;
    if (!WaitFor(
            [&] {
                box = FindOwnWindow(app.pi.dwProcessId, "#32770");
                return Exited(app) || FindOwnWindow(app.pi.dwProcessId, kClass) != NULL ||
                       (box != NULL && IsWindowVisible(box) && GetForegroundWindow() == box);
            },
            40000) ||
        box == NULL || Exited(app)) {
        return Fail("no active message box from the exe (it %s)",
                    Exited(app)                                         ? "exited"
                    : FindOwnWindow(app.pi.dwProcessId, kClass) != NULL ? "opened its main window"
                                                                        : "is still running");
    }
    char caption[64];
    GetWindowTextA(box, caption, sizeof caption);
    BoxSeen seen;
    memset(&seen, 0, sizeof seen);
    EnumChildWindows(box, ReadChild, reinterpret_cast<LPARAM>(&seen));
    if (strcmp(caption, "Error") != 0 || strcmp(seen.text, text) != 0 ||
        strcmp(seen.buttons, "OK") != 0) {
        return Fail("box \"%s\" says \"%s\" with buttons \"%s\"", caption, seen.text, seen.buttons);
    }
    if (GetWindow(box, GW_OWNER) != NULL) return Fail("the box has an owner");
    if (FindOwnWindow(app.pi.dwProcessId, kClass) != NULL) return Fail("a main window exists too");
    if (!IconRight(seen.icon)) return false;
    Key(VK_RETURN, false);
    Key(VK_RETURN, true);
    return ExitsWith(app, 1);
}

void Begin(const char* name)
{
    gCase = name;
    // What an earlier run of the case kept is not this run's.
    char seen[MAX_PATH];
    snprintf(seen, sizeof seen, "%s-seen.bmp", name);
    DeleteFileA(seen);
    DeleteFileA("icon-seen.bmp");
    HDC screen = GetDC(NULL);
    gScale = GetDeviceCaps(screen, LOGPIXELSY) / 96.0;
    ReleaseDC(NULL, screen);
}

// A failed run may leave the exe running: the next one must not see it.
int End(int status)
{
    if (gStarted != NULL && WaitForSingleObject(gStarted, 0) == WAIT_TIMEOUT) {
        TerminateProcess(gStarted, 1);
        WaitForSingleObject(gStarted, 5000);
    }
    if (gStarted != NULL) CloseHandle(gStarted);
    gStarted = NULL;
    return status;
}

int Check(const char* name, const char* exe, const char* fault)
{
    Begin(name);
    bool ok;
    if (strcmp(name, "window") == 0) {
        ok = CheckWindow(exe, -1, false);
    } else if (strcmp(name, "picture") == 0) {
        ok = CheckWindow(exe, -1, true);
    } else if (strcmp(name, "show-maximized") == 0) {
        ok = CheckWindow(exe, SW_SHOWMAXIMIZED, true);
    } else if (strcmp(name, "show-minimized") == 0) {
        ok = CheckWindow(exe, SW_SHOWMINIMIZED, true);
    } else if (strcmp(name, "maximise") == 0) {
        ok = CheckMaximise(exe);
    } else if (strcmp(name, "minimise") == 0) {
        ok = CheckMinimise(exe);
    } else if (strcmp(name, "drag") == 0) {
        ok = CheckDrag(exe);
    } else if (strcmp(name, "close") == 0) {
        ok = CheckClose(exe, false);
    } else if (strcmp(name, "alt-f4") == 0) {
        ok = CheckClose(exe, true);
    } else if (strcmp(name, "class-refused") == 0) {
        ok = CheckRefused(exe, fault, "register",
                          "Error - can't register window class...\rProgram terminated");
    } else if (strcmp(name, "window-refused") == 0) {
        ok = CheckRefused(exe, fault, "create",
                          "Error - can't create main window...\rProgram terminated");
    } else {
        fprintf(stderr, "check: no case %s\n", name);
        return 2;
    }
    if (ok) printf("check.%s: ok (screen scale %g)\n", name, gScale);
    return End(ok ? 0 : 1);
}

// What run and story return when not the exe's status.
const int kWrongPicture = 124;  // the exe was closed all the same
const int kFailed = 125;        // no window, a step that did not happen, or no exit

// run.sh's run: the first picture, judged and kept as BMP whatever it is,
// then Alt+F4.
int Run(const char* exe, const char* bmp)
{
    Begin("run");
    App app;
    if (!Launch(exe, -1, &app)) return End(kFailed);
    const bool right = PictureRight(app, "the first picture", bmp);
    AltF4();
    DWORD status = 0;
    if (!Exits(app, &status)) return End(kFailed);
    printf("gltriangles.exe exited with status %lu\n", status);
    return right ? static_cast<int>(status) : kWrongPicture;
}

// trace.sh's story, the life of a window in a few steps. The drag comes
// first: in Wine 10 a drag just after a restore gets no mouse input.
int Story(const char* exe)
{
    Begin("story");
    App app;
    const int grow[][2] = {{30, 20}};
    DWORD status = 0;
    const bool ok = Launch(exe, -1, &app) && PictureRight(app, "the first picture") &&
                    Drag(app, grow, 1) && MaximiseAndRestore(app) && MinimiseAndRestore(app) &&
                    ClickButton(app.hwnd, HTCLOSE, "close button") && Exits(app, &status);
    return End(ok ? static_cast<int>(status) : kFailed);
}

}  // namespace

int main(int argc, char** argv)
{
    SetProcessDPIAware();
    if (argc == 2 && strcmp(argv[1], "window") == 0) return Window(false);
    if (argc == 3 && strcmp(argv[1], "window") == 0 && strcmp(argv[2], "hittests") == 0) {
        return Window(true);
    }
    if (argc == 2 && strcmp(argv[1], "dragfull") == 0) {
        const bool on = DragFullWindows();
        printf("dragfull %d\n", on ? 1 : 0);
        return on ? 0 : 1;
    }
    if (argc == 5 && strcmp(argv[1], "check") == 0) return Check(argv[2], argv[3], argv[4]);
    if (argc == 4 && strcmp(argv[1], "run") == 0) return Run(argv[2], argv[3]);
    if (argc == 3 && strcmp(argv[1], "story") == 0) return Story(argv[2]);
    fputs(
        "usage: check check CASE EXE FAULTDLL | run EXE BMP | story EXE | window [hittests] | "
        "dragfull\n",
        stderr);
    return 2;
}
