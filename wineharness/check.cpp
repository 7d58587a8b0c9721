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
//                             with hittests, the screen point of its sizing
//                             corner, found with WM_NCHITTEST (dozens of
//                             messages to the window, slow where the exe is
//                             emulated)
//   check dragfull            turn on "show window contents while dragging",
//                             as a Windows desktop has it by default
//   check shown         what the platform makes of a main window's first
//                       ShowWindow(SW_SHOWNORMAL), as its exit status (SW_*)
//
// For the queries, exit status 3 means "not there (yet)", so the host can
// poll; the bench asks them.
//
// DPI: this process is DPI-aware (SetProcessDPIAware), so rectangles, the
// pointer and screen pixels are the user's. The exe declares no awareness:
// on a scaled screen Windows (and Wine 10) stretch its window, while it
// measures itself in its own units; Wine 8 leaves it unstretched. So what
// the exe knows of itself (its client size, the points its hit tests take)
// is asked from inside its own awareness (AsExe), and turned into screen
// pixels through its client area seen both ways (ToScreen).
#include <windows.h>

#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

namespace {

// What the program makes: its class, its window and what it shows.
const char kClass[] = "MinimalApp";
const char kTitle[] = "Drawing Triangles With OpenGL (WEZ 6.1)";
const LONG kStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
const DWORD kExStyle = WS_EX_DLGMODALFRAME;
const DWORD kClassStyle = CS_VREDRAW | CS_HREDRAW | CS_OWNDC;
const RECT kPlace = {0, 0, 400, 150};  // in the exe's units

const char* gCase = "";
HANDLE gStarted = NULL;  // the exe this case started, ended with the case
HANDLE gJob = NULL;      // every process we start: ended with us, however we end
DWORD gDeadline = 0;     // GetTickCount() by which the case must be over
double gSlow = 1;        // how much slower than kLaunchMs the exe came up
bool gCut = false;       // a wait was cut short by the deadline
bool gHold = true;       // pictures are held (not in the trace's story, where they only pace it)
const DWORD kLaunchMs = 1500;  // a launch natively under Wine: longer means a slow host
const int kTolerance = 3;      // levels out of 255, per channel (Mesa is off by at most 1)
const double kEdgeMargin = 2;  // times the stretch: this near an edge is not judged
// Windows 11 rounds a window's corners with an 8 px radius at 96 DPI, which
// may clip the client area's bottom corners: those squares are not judged.
const int kCorner = 8;
const DWORD kHoldMs = 500;   // a picture that matched must still match this much later
const DWORD kGoneMs = 1000;  // the window goes this soon after a close
const char kEnd[] = "the picture at the end of the case";  // judged again as a case ends

bool Fail(const char* format, ...)
{
    printf("check.%s: FAIL: ", gCase);
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    if (gCut) printf(" (the case ran out of time)");
    putchar('\n');
    return false;
}

// MS, stretched on a slow host, but never past the case's deadline.
DWORD Limit(DWORD ms)
{
    const DWORD left = gDeadline - GetTickCount();
    const DWORD stretched = static_cast<DWORD>(ms * gSlow);
    gCut = left >= 0x80000000u || stretched >= left;
    return gCut ? (left >= 0x80000000u ? 0 : left) : stretched;
}

// Polls READY until it holds or the time is up.
template <typename F>
bool WaitFor(F ready, DWORD ms)
{
    const DWORD start = GetTickCount();
    const DWORD limit = Limit(ms);
    while (!ready()) {
        if (GetTickCount() - start > limit) return false;
        Sleep(10);
    }
    return true;
}

// Runs F in HWND's DPI awareness: what it asks of the window comes in the
// window's own units, and what it sends is read so.
template <typename F>
void AsExe(HWND hwnd, F f)
{
    const DPI_AWARENESS_CONTEXT ours =
        SetThreadDpiAwarenessContext(GetWindowDpiAwarenessContext(hwnd));
    f();
    if (ours != NULL) SetThreadDpiAwarenessContext(ours);
}

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

// In the window's own units (call inside AsExe): the middle of the run of
// CODE along the caption line, from the right, where caption buttons sit;
// false if there is none.
bool FindOnCaption(HWND hwnd, LRESULT code, POINT* at)
{
    RECT wr;
    GetWindowRect(hwnd, &wr);
    POINT origin = {0, 0};
    ClientToScreen(hwnd, &origin);
    const int y = static_cast<int>((wr.top + origin.y) / 2);
    int x1 = -1;
    int x0 = -1;
    for (int x = static_cast<int>(wr.right) - 1; x >= wr.left && (x0 < 0 || x0 == x + 1); --x) {
        if (HitTest(hwnd, x, y) != code) continue;
        if (x1 < 0) x1 = x;
        x0 = x;
    }
    at->x = (x0 + x1) / 2;
    at->y = y;
    return x1 >= 0;
}

// The sizing corner, in the window's own units: walk in from the
// bottom-right pixel along the diagonal and take the middle of the run.
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
    RECT client;     // on the screen
    RECT own;        // the window in the exe's units
    RECT ownClient;  // on the screen, in the exe's units
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
    AsExe(hwnd, [&] {
        GetWindowRect(hwnd, &s.own);
        GetClientRect(hwnd, &s.ownClient);
        MapWindowPoints(hwnd, NULL, reinterpret_cast<POINT*>(&s.ownClient), 2);
    });
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

// A point in the exe's units on the screen: the client area seen both ways
// gives the platform's stretch. (Not the window's rectangle: Wine 10 gives a
// stretched window that reaches past the screen's top-left corner, as a
// maximised one does, a rectangle of garbage.)
POINT ToScreen(const Seen& s, POINT p)
{
    const RECT& o = s.ownClient;
    return {s.client.left + MulDiv(p.x - o.left, s.client.right - s.client.left, o.right - o.left),
            s.client.top + MulDiv(p.y - o.top, s.client.bottom - s.client.top, o.bottom - o.top)};
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
    printf("state %d %d %d\n", s.visible, s.iconic, s.zoomed);
    printf("active %d\n", s.active);
    POINT grip;
    bool found = false;
    if (hitTests) AsExe(hwnd, [&] { found = FindGrip(hwnd, &grip); });
    if (found) printf("grip %ld %ld\n", ToScreen(s, grip).x, ToScreen(s, grip).y);
    return 0;
}

// A hidden window made as the program makes its own, in the current
// awareness: the platform's own answer to the extended style and client
// area that such a window gets, in this theme and at this DPI.
HWND MakeLikeTheExe()
{
    return CreateWindowExA(kExStyle, "Static", "", kStyle, kPlace.left, kPlace.top, kPlace.right,
                           kPlace.bottom, NULL, NULL, NULL, NULL);  // kPlace starts at 0, 0
}

// check shown: this child's first ShowWindow, of a main window like the
// exe's, told as the state it got.
int Shown()
{
    HWND hwnd = MakeLikeTheExe();
    ShowWindow(hwnd, SW_SHOWNORMAL);
    return IsZoomed(hwnd) ? SW_SHOWMAXIMIZED : IsIconic(hwnd) ? SW_SHOWMINIMIZED : SW_SHOWNORMAL;
}

bool DragFullWindows()
{
    BOOL on = FALSE;
    return SystemParametersInfoA(SPI_SETDRAGFULLWINDOWS, TRUE, NULL, SPIF_SENDCHANGE) &&
           SystemParametersInfoA(SPI_GETDRAGFULLWINDOWS, 0, &on, 0) && on;
}

// --- the checks -------------------------------------------------------------

struct App {
    PROCESS_INFORMATION pi;
    HWND hwnd;
    int w0, h0;     // the client area at creation, in the exe's pixels
    DWORD exStyle;  // what the platform makes of kExStyle
    double stretch;
};

bool Fail(const char* what, const Seen& s)
{
    return Fail(
        "%s; saw window %ld,%ld %ldx%ld, client %ldx%ld (%ldx%ld in its own units), visible %d "
        "minimised %d maximised %d active %d sizing %d",
        what, s.window.left, s.window.top, s.window.right - s.window.left,
        s.window.bottom - s.window.top, s.client.right - s.client.left,
        s.client.bottom - s.client.top, s.ownClient.right - s.ownClient.left,
        s.ownClient.bottom - s.ownClient.top, s.visible, s.iconic, s.zoomed, s.active, s.sizing);
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

// Starts EXE (with ARGS, if any) with SHOW in its STARTUPINFO, or none, in
// our job, which ends it if we are ended first (by ctest's time limit, say).
bool Spawn(const char* exe, char* args, int show, PROCESS_INFORMATION* pi)
{
    if (gJob == NULL) {
        gJob = CreateJobObjectA(NULL, NULL);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limit = {};
        limit.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(gJob, JobObjectExtendedLimitInformation, &limit, sizeof limit);
    }
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    if (show >= 0) {
        si.dwFlags = STARTF_USESHOWWINDOW;
        si.wShowWindow = static_cast<WORD>(show);
    }
    memset(pi, 0, sizeof *pi);
    if (!CreateProcessA(exe, args, NULL, NULL, FALSE, CREATE_SUSPENDED, NULL, NULL, &si, pi)) {
        return Fail("cannot start %s (error %lu)", exe, GetLastError());
    }
    AssignProcessToJobObject(gJob, pi->hProcess);
    ResumeThread(pi->hThread);
    CloseHandle(pi->hThread);
    return true;
}

bool Start(const char* exe, int show, App* app)
{
    memset(app, 0, sizeof *app);
    if (!Spawn(exe, NULL, show, &app->pi)) return false;
    gStarted = app->pi.hProcess;
    return true;
}

// What the platform makes of the first ShowWindow(SW_SHOWNORMAL) of a main
// window whose launcher asked for SHOW: Windows takes the launcher's show
// command, Wine does not. A child of ours started the same way shows a
// window like the exe's and says.
int ShownAs(int show)
{
    char self[MAX_PATH], args[] = "check shown";
    PROCESS_INFORMATION pi;
    DWORD state = 0;
    GetModuleFileNameA(NULL, self, MAX_PATH);
    if (!Spawn(self, args, show, &pi)) return -1;
    WaitForSingleObject(pi.hProcess, Limit(20000));
    GetExitCodeProcess(pi.hProcess, &state);
    CloseHandle(pi.hProcess);  // one that hangs ends with our job
    if (state < SW_SHOWNORMAL || state > SW_SHOWMAXIMIZED) {
        return Fail("our own window, shown the same way, told nothing (status %lu)", state) - 1;
    }
    return static_cast<int>(state);
}

// Starts EXE and waits for its main window to be shown (not to be in
// front: Windows gives that only by its foreground rules); false once the
// exe has exited or the time is up. The time it took tells how slow this
// host is, and every later wait is stretched by it.
bool Launch(const char* exe, int show, App* app)
{
    const DWORD began = GetTickCount();
    if (!Start(exe, show, app)) return false;
    const bool shown = WaitFor(
        [&] {
            app->hwnd = FindOwnWindow(app->pi.dwProcessId, kClass, kTitle);
            return Exited(*app) || IsWindowVisible(app->hwnd);
        },
        40000);
    DWORD status = 0;
    if (Exited(*app) && GetExitCodeProcess(app->pi.hProcess, &status)) {
        return Fail("the exe exited with %lu before its window was shown", status);
    }
    if (!shown) return Fail("no shown window of class %s titled \"%s\"", kClass, kTitle);
    const double took = (GetTickCount() - began) / static_cast<double>(kLaunchMs);
    gSlow = took > 1 ? took : 1;
    RECT client = {0, 0, 0, 0};
    AsExe(app->hwnd, [&] {
        HWND like = MakeLikeTheExe();
        GetClientRect(like, &client);
        app->exStyle = static_cast<DWORD>(GetWindowLongA(like, GWL_EXSTYLE));
        DestroyWindow(like);
    });
    app->w0 = static_cast<int>(client.right);
    app->h0 = static_cast<int>(client.bottom);
    const Seen s = Look(app->hwnd);  // screen pixels per unit of the exe:
    app->stretch =
        static_cast<double>(s.client.right - s.client.left) /
        (s.ownClient.right > s.ownClient.left ? s.ownClient.right - s.ownClient.left : 1);
    return true;
}

// Waits for the exe to exit, into STATUS.
bool Exits(const App& app, DWORD* status)
{
    if (WaitForSingleObject(app.pi.hProcess, Limit(20000)) != WAIT_OBJECT_0) {
        return Fail("the exe was still running", Look(app.hwnd));
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

double SegmentDistance2(double px, double py, const Vertex& a, const Vertex& b)
{
    const double dx = b.x - a.x;
    const double dy = b.y - a.y;
    double t = ((px - a.x) * dx + (py - a.y) * dy) / (dx * dx + dy * dy);
    t = t < 0 ? 0 : t > 1 ? 1 : t;
    const double ex = px - a.x - t * dx;  // squared: no square root per pixel, where
    const double ey = py - a.y - t * dy;  // the check program itself may run emulated
    return ex * ex + ey * ey;
}

// The colour at (px, py), or false where it is within MARGIN of an edge.
bool ColourAt(double px, double py, const Vertex t[6], double margin, DWORD* colour)
{
    *colour = 0;
    for (int i = 0; i < 6; i += 3) {
        const Vertex& a = t[i];
        const Vertex& b = t[i + 1];
        const Vertex& c = t[i + 2];
        // Past the margin around its corners' box a point is outside, clear of its edges.
        if (px < fmin(fmin(a.x, b.x), c.x) - margin || px > fmax(fmax(a.x, b.x), c.x) + margin ||
            py < fmin(fmin(a.y, b.y), c.y) - margin || py > fmax(fmax(a.y, b.y), c.y) + margin) {
            continue;
        }
        const double m2 = margin * margin;
        if (SegmentDistance2(px, py, a, b) < m2 || SegmentDistance2(px, py, b, c) < m2 ||
            SegmentDistance2(px, py, c, a) < m2) {
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

// Whether the client area shows the scene now, every pixel of it judged but
// those near an edge or in a rounded corner; says why not into FAILURE, with
// the count of wrong pixels if ALL, else at the first (a cheap poll).
bool Judge(const App& app, Shot* shot, char* failure, size_t size, bool all)
{
    if (!Grab(Look(app.hwnd).client, shot)) return false;
    Vertex t[6];
    Triangles(shot->w, shot->h, app.w0, app.h0, t);
    const int corner = MulDiv(kCorner, static_cast<int>(GetDpiForSystem()), 96);
    // A stretched picture blurs by one of the exe's pixels: at its sides, into the frame.
    const int side = app.stretch > 1 ? static_cast<int>(ceil(app.stretch)) : 0;
    int judged = 0, wrong = 0;
    for (int y = 0; y < shot->h; ++y) {
        for (int x = 0; x < shot->w; ++x) {
            DWORD want;
            if (x < side || y < side || x >= shot->w - side || y >= shot->h - side) continue;
            if ((x < corner || x >= shot->w - corner) && y >= shot->h - corner) continue;
            if (!ColourAt(x + 0.5, y + 0.5, t, kEdgeMargin * app.stretch, &want)) continue;
            ++judged;
            const DWORD got = shot->bits[y * shot->w + x] & 0xFFFFFF;
            if (Off(want, got) && wrong++ == 0) {
                snprintf(failure, size,
                         "first wrong pixel at client (%d, %d): expected #%06lx, found #%06lx", x,
                         y, want, got);
                if (!all) return false;
            }
        }
    }
    if (wrong == 0 && judged < shot->w * shot->h / 2) {
        snprintf(failure, size, "only %d of %d pixels away from edges", judged, shot->w * shot->h);
        return false;
    }
    if (wrong > 0) {
        const size_t n = strlen(failure);
        snprintf(failure + n, size - n, "; %d of %d judged pixels wrong, in %dx%d", wrong, judged,
                 shot->w, shot->h);
    }
    return wrong == 0;
}

// Waits for the client area to show the scene, and once it does, with HOLD
// judges it again kHoldMs later: a picture must stay right. Keeps what it
// saw last as KEEP if given, else on failure as CASE-seen.bmp.
bool PictureRight(const App& app, const char* what, const char* keep = NULL, bool hold = true)
{
    Shot shot = {0, 0, NULL, NULL};
    char failure[300] = "no picture could be read from the screen";
    bool right = WaitFor([&] { return Judge(app, &shot, failure, sizeof failure, false); }, 10000);
    if (right && hold && gHold) Sleep(kHoldMs);  // then judged again: it must stay right
    if (!right || (hold && gHold)) right = Judge(app, &shot, failure, sizeof failure, true);
    char path[MAX_PATH];
    snprintf(path, sizeof path, keep != NULL ? "%s" : "%s-seen.bmp", keep != NULL ? keep : gCase);
    if ((keep != NULL || !right) && shot.bitmap != NULL) SaveBmp(shot, path);
    if (!right && shot.bitmap != NULL) {
        Fail("%s is wrong: %s (scene %dx%d, tolerance %d, edge margin %g px); kept %s", what,
             failure, app.w0, app.h0, kTolerance, kEdgeMargin * app.stretch, path);
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
void MouseAt(POINT p, DWORD flags)
{
    INPUT in;
    memset(&in, 0, sizeof in);
    in.type = INPUT_MOUSE;
    // The middle of pixel (x, y) on the 0..65535 scale of the primary screen.
    in.mi.dx = (2 * p.x + 1) * 65536 / (2 * GetSystemMetrics(SM_CXSCREEN));
    in.mi.dy = (2 * p.y + 1) * 65536 / (2 * GetSystemMetrics(SM_CYSCREEN));
    in.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | flags;
    Send(&in);
}

bool MouseTo(POINT p)
{
    MouseAt(p, 0);
    POINT at = {0, 0};
    return WaitFor([&] { return GetCursorPos(&at) && at.x == p.x && at.y == p.y; }, 5000) ||
           Fail("the pointer went to %ld, %ld, not %ld, %ld", at.x, at.y, p.x, p.y);
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

// Presses the COUNT KEYS in turn, each only while HWND is in front, so
// that no key reaches another window, and lets them go in reverse.
bool Press(HWND hwnd, const WORD* keys, int count)
{
    int down = 0;
    while (down < count && GetForegroundWindow() == hwnd) Key(keys[down++], false);
    for (int i = down; i-- > 0;) Key(keys[i], true);
    char front[100] = "";
    GetWindowTextA(GetForegroundWindow(), front, sizeof front);
    return down == count ||
           Fail("shown but not active: \"%s\" is in front, so key %d of %d was not sent", front,
                down + 1, count);
}

// A click at AT, in the exe's units.
bool Click(HWND hwnd, POINT at)
{
    at = ToScreen(Look(hwnd), at);
    if (!MouseTo(at)) return false;
    MouseAt(at, MOUSEEVENTF_LEFTDOWN);
    // Held as a user's finger holds it: Wine 10 places a stretched window
    // that a click without a pause maximises at 0, 0, a border away from
    // where it says it is.
    Sleep(100);
    MouseAt(at, MOUSEEVENTF_LEFTUP);
    return true;
}

// Clicks what answers CODE on the window's caption line.
bool ClickButton(HWND hwnd, LRESULT code, const char* name)
{
    POINT at = {0, 0};
    bool found = false;
    AsExe(hwnd, [&] { found = FindOnCaption(hwnd, code, &at); });
    if (found) return Click(hwnd, at);
    char what[100];
    snprintf(what, sizeof what, "no %s on the caption (WM_NCHITTEST never answers %ld)", name,
             static_cast<long>(code));
    return Fail(what, Look(hwnd));
}

// In front, as a user brings it there: a click on the middle of its caption.
bool Activate(HWND hwnd)
{
    if (GetForegroundWindow() == hwnd) return true;
    POINT at = {0, 0};
    LRESULT hit = HTNOWHERE;
    AsExe(hwnd, [&] {
        RECT wr;
        POINT origin = {0, 0};
        GetWindowRect(hwnd, &wr);
        ClientToScreen(hwnd, &origin);
        at.x = (wr.left + wr.right) / 2;
        at.y = (wr.top + origin.y) / 2;
        hit = HitTest(hwnd, static_cast<int>(at.x), static_cast<int>(at.y));
    });
    if (hit != HTCAPTION) return Fail("no caption to click in the middle of the window's top");
    return (Click(hwnd, at) && WaitFor([&] { return GetForegroundWindow() == hwnd; }, 5000)) ||
           Fail("shown but not active after a click on its caption");
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

// Its class, styles and state and, shown normally, its place and client
// area in its own units, as the platform makes them for such a window.
bool WindowRight(const App& app, int shown)
{
    const Seen s = Look(app.hwnd);
    // The state is judged below, on its own.
    const LONG style = s.style & ~(WS_VISIBLE | WS_MAXIMIZE | WS_MINIMIZE);
    if (style != kStyle) return Fail("style 0x%08lx, expected 0x%08lx", style, kStyle);
    if (static_cast<DWORD>(s.exStyle) != app.exStyle) {
        return Fail("extended style 0x%08lx, expected 0x%08lx", s.exStyle, app.exStyle);
    }
    if (s.classStyle != kClassStyle) {
        return Fail("class style 0x%08lx, expected 0x%08lx", s.classStyle, kClassStyle);
    }
    const int state = s.zoomed ? SW_SHOWMAXIMIZED : s.iconic ? SW_SHOWMINIMIZED : SW_SHOWNORMAL;
    const char* const names[] = {"hidden", "normal", "minimised", "maximised"};
    if (state != shown) return Fail("shown %s, expected %s", names[state], names[shown]);
    if (shown == SW_SHOWNORMAL &&
        (!EqualRect(&s.own, &kPlace) || s.ownClient.right - s.ownClient.left != app.w0 ||
         s.ownClient.bottom - s.ownClient.top != app.h0)) {
        char what[100];
        snprintf(what, sizeof what, "not at 0,0 400x150 with a %dx%d client in its own units",
                 app.w0, app.h0);
        return Fail(what, s);
    }
    return true;
}

bool CheckWindow(const char* exe, int show, bool picture)
{
    App app;
    const int shown = show < 0 ? SW_SHOWNORMAL : ShownAs(show);
    if (shown < 0) return false;
    return Launch(exe, show, &app) && WindowRight(app, shown) &&
           (!picture || shown == SW_SHOWMINIMIZED ||
            (PictureRight(app, "the first picture") && PictureRight(app, kEnd)));
}

bool AltF4(HWND hwnd)
{
    const WORD keys[] = {VK_MENU, VK_F4};
    return Activate(hwnd) && Press(hwnd, keys, 2);
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

// Minimises with the caption button and restores as the taskbar does
// (Wine's sends a minimised window SC_RESTORE when its button is clicked):
// with a taskbar, a minimised window is off the screen.
bool MinimiseAndRestore(const App& app)
{
    const RECT before = Look(app.hwnd).window;
    const auto minimised = [&](const Seen& s) {
        return s.visible && s.iconic && !EqualRect(&s.window, &before);
    };
    return ClickButton(app.hwnd, HTMINBUTTON, "minimise button") &&
           Until(app, minimised, "not minimised") &&
           (!Exited(app) || Fail("the exe exited when minimised")) &&
           PostMessageA(app.hwnd, WM_SYSCOMMAND, SC_RESTORE, 0) && RestoredTo(app, before) &&
           (!Exited(app) || Fail("the exe exited")) &&
           PictureRight(app, "the picture after minimising and restoring");
}

// Drags the sizing corner by each of the COUNT offsets in STEPS, in the
// exe's units, the button held all through, the picture right at each
// step; the button goes up whatever happens.
bool Drag(const App& app, const int (*steps)[2], int count)
{
    POINT grip;
    bool found = false;
    if (!DragFullWindows()) return Fail("cannot turn on showing contents while dragging");
    AsExe(app.hwnd, [&] { found = FindGrip(app.hwnd, &grip); });
    if (!found) return Fail("no sizing corner (HTBOTTOMRIGHT) found");
    const Seen start = Look(app.hwnd);
    const RECT& w = start.own;
    if (!MouseTo(ToScreen(start, grip))) return false;
    MouseAt(ToScreen(start, grip), MOUSEEVENTF_LEFTDOWN);
    // A move before the sizing loop has begun is not a drag, and the loop
    // would wait for the next one.
    const auto sizing = [](const Seen& s) { return s.sizing; };
    bool ok = Until(app, sizing, "no sizing loop on the corner");
    for (int i = 0; ok && i < count; ++i) {
        const int* d = steps[i];
        char what[100];
        snprintf(what, sizeof what, "the picture while dragging by %+d, %+d", d[0], d[1]);
        const POINT to = {grip.x + d[0], grip.y + d[1]};
        const RECT want = {w.left, w.top, w.right + d[0], w.bottom + d[1]};
        // A move that reaches the loop before it is ready is lost: made again now and then.
        int polls = 0;
        const auto followed = [&](const Seen& s) {
            if (++polls % 50 == 0) MouseAt(ToScreen(start, to), 0);
            return s.sizing && EqualRect(&s.own, &want);
        };
        ok = MouseTo(ToScreen(start, to)) &&
             Until(app, followed, "the window does not follow the drag in the sizing loop") &&
             PictureRight(app, what, NULL, i == count - 1);  // held once, at the end
    }
    POINT at;
    GetCursorPos(&at);
    MouseAt(at, MOUSEEVENTF_LEFTUP);
    const auto ended = [](const Seen& s) { return !s.sizing; };
    return ok && Until(app, ended, "the sizing loop goes on");
}

bool CheckMaximise(const char* exe)
{
    App app;
    return Launch(exe, -1, &app) && PictureRight(app, "the first picture") &&
           MaximiseAndRestore(app) && WindowRight(app, SW_SHOWNORMAL) && PictureRight(app, kEnd);
}

bool CheckMinimise(const char* exe)
{
    App app;
    return Launch(exe, -1, &app) && MinimiseAndRestore(app) && WindowRight(app, SW_SHOWNORMAL) &&
           PictureRight(app, kEnd);
}

bool CheckDrag(const char* exe)
{
    App app;
    const int steps[][2] = {{40, 20}, {150, 90}, {330, 260}, {100, 10}, {-60, -25}};
    return Launch(exe, -1, &app) && Drag(app, steps, 5) && PictureRight(app, kEnd);
}

// The close button or Alt+F4, sent while the exe runs with its window: the
// window must then go at once, as the close's doing, and the exe exit with 0.
bool CheckClose(const char* exe, bool altF4)
{
    App app;
    if (!Launch(exe, -1, &app)) return false;
    if (Exited(app) || !IsWindow(app.hwnd)) return Fail("the exe ended before the close");
    if (!(altF4 ? AltF4(app.hwnd) : ClickButton(app.hwnd, HTCLOSE, "close button"))) return false;
    return (WaitFor([&] { return !IsWindow(app.hwnd); }, kGoneMs) ||
            Fail("the window was still there %lu ms after the close", Limit(kGoneMs))) &&
           ExitsWith(app, 0);
}

// A message box's children: its text, its visible buttons' IDs, its icon.
struct BoxSeen {
    char text[256];
    int buttons;
    int id;  // the first button's
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
    } else if (lstrcmpiA(cls, "Button") == 0 && IsWindowVisible(child) && box->buttons++ == 0) {
        box->id = GetDlgCtrlID(child);
    }
    return TRUE;
}

BoxSeen ReadBox(HWND box)
{
    BoxSeen seen;
    memset(&seen, 0, sizeof seen);
    EnumChildWindows(box, ReadChild, reinterpret_cast<LPARAM>(&seen));
    return seen;
}

// The error box that this process shows, in the awareness of a given window.
struct Reference {
    HWND like;
    const char* text;
};

DWORD WINAPI ShowReference(LPVOID param)
{
    const Reference* ref = static_cast<const Reference*>(param);
    AsExe(ref->like, [&] { MessageBoxA(NULL, ref->text, "Error", MB_ICONERROR | MB_TOPMOST); });
    return 0;
}

// The box's error icon against the one that the platform shows in a box
// of this process made the same way, at the same scale, pixel for pixel.
bool IconRight(HWND box, const char* text, const RECT& r)
{
    Shot want = {0, 0, NULL, NULL}, shot = want;
    Reference ref = {box, text};
    HANDLE thread = CreateThread(NULL, 0, ShowReference, &ref, 0, NULL);
    HWND mine = NULL;
    const bool shown = WaitFor(
        [&] {
            mine = FindOwnWindow(GetCurrentProcessId(), "#32770");
            if (mine == NULL) return false;
            if (!IsWindowVisible(mine) || !Grab(ReadBox(mine).icon, &want)) return false;
            for (int i = 1; i < want.w * want.h; ++i) {
                if (want.bits[i] != want.bits[0]) return true;  // drawn
            }
            return false;
        },
        10000);
    PostMessageA(mine, WM_COMMAND, IDOK, 0);
    WaitForSingleObject(thread, 5000);
    CloseHandle(thread);
    char failure[200] = "cannot read the icon from the screen";
    const auto same = [&] {
        if (!Grab(r, &shot) || shot.w != want.w || shot.h != want.h) return false;
        int wrong = 0;
        for (int i = 0; i < shot.w * shot.h; ++i) {
            if (Off(want.bits[i] & 0xFFFFFF, shot.bits[i] & 0xFFFFFF) && wrong++ == 0) {
                snprintf(failure, sizeof failure,
                         "first wrong icon pixel (%d, %d): expected #%06lx, found #%06lx",
                         i % shot.w, i / shot.w, want.bits[i] & 0xFFFFFF, shot.bits[i] & 0xFFFFFF);
            }
        }
        const size_t n = strlen(failure);
        if (wrong > 0) {
            snprintf(failure + n, sizeof failure - n, "; %d of %d differ", wrong, shot.w * shot.h);
        }
        return wrong == 0;
    };
    bool right = shown && WaitFor(same, 10000);
    // Held, like a picture: the first grab may still show our box, where the exe's is.
    if (right) {
        Sleep(kHoldMs);
        right = same();
    }
    const bool kept = !right && shot.bitmap != NULL;
    if (kept) SaveBmp(shot, "icon-seen.bmp");
    if (kept) SaveBmp(want, "icon-expected.bmp");
    Free(&shot);
    Free(&want);
    if (!shown) return Fail("this process's own error box showed no icon to compare with");
    return right || Fail("%s (%ldx%ld)%s", failure, r.right - r.left, r.bottom - r.top,
                         kept ? "; kept icon-seen.bmp and icon-expected.bmp" : "");
}

bool CheckRefused(const char* exe, const char* fault, const char* cause, const char* text)
{
    // A copy of the exe here, with the fault's glu32.dll beside it.
    char copy[MAX_PATH], dll[MAX_PATH];
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
                       IsWindowVisible(box);
            },
            40000) ||
        box == NULL || Exited(app)) {
        return Fail("no message box from the exe (it %s)",
                    Exited(app)                                         ? "exited"
                    : FindOwnWindow(app.pi.dwProcessId, kClass) != NULL ? "opened its main window"
                                                                        : "is still running");
    }
    char caption[64];
    GetWindowTextA(box, caption, sizeof caption);
    const BoxSeen seen = ReadBox(box);
    // The button by its ID: its text is translated on other Windows languages.
    if (strcmp(caption, "Error") != 0 || strcmp(seen.text, text) != 0 || seen.buttons != 1 ||
        seen.id != IDOK) {
        return Fail("box \"%s\" says \"%s\" with %d button(s), the first with ID %d (IDOK is %d)",
                    caption, seen.text, seen.buttons, seen.id, IDOK);
    }
    if (GetWindow(box, GW_OWNER) != NULL) return Fail("the box has an owner");
    if (FindOwnWindow(app.pi.dwProcessId, kClass) != NULL) return Fail("a main window exists too");
    const WORD enter[] = {VK_RETURN};
    return IconRight(box, text, seen.icon) && Activate(box) && Press(box, enter, 1) &&
           ExitsWith(app, 1);
}

// A case of SECONDS at most, a deadline inside the test's own time limit,
// so that what it started is ended by End, not left behind.
void Begin(const char* name, DWORD seconds)
{
    gCase = name;
    gDeadline = GetTickCount() + seconds * 1000;
    // What an earlier run of the case kept is not this run's.
    char seen[MAX_PATH];
    snprintf(seen, sizeof seen, "%s-seen.bmp", name);
    DeleteFileA(seen);
    DeleteFileA("icon-seen.bmp");
    DeleteFileA("icon-expected.bmp");
    // A drag cut short when an earlier check was killed leaves the button down.
    POINT at;
    if (GetAsyncKeyState(VK_LBUTTON) < 0 && GetCursorPos(&at)) MouseAt(at, MOUSEEVENTF_LEFTUP);
}

// A failed run may leave the exe running: the next one must not find it.
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
    Begin(name, 100);  // the tests' TIMEOUT is 120 s
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
    if (ok)
        printf("check.%s: ok (host %.1f times slower than %lu ms to launch)\n", name, gSlow,
               kLaunchMs);
    return End(ok ? 0 : 1);
}

// What run and story return when not the exe's status.
const int kWrongPicture = 124;  // the exe was closed all the same
const int kFailed = 125;        // no window, a step that did not happen, or no exit

// run.sh's run: the first picture, judged and kept as BMP whatever it is,
// then Alt+F4.
int Run(const char* exe, const char* bmp)
{
    Begin("run", 100);  // run.sh waits 120 s
    App app;
    if (!Launch(exe, -1, &app)) return End(kFailed);
    const bool right = PictureRight(app, "the first picture", bmp);
    DWORD status = 0;
    if (!AltF4(app.hwnd) || !Exits(app, &status)) return End(kFailed);
    printf("gltriangles.exe exited with status %lu\n", status);
    return End(right ? static_cast<int>(status) : kWrongPicture);
}

// trace.sh's story, the life of a window in a few steps. The drag comes
// first: in Wine 10 a drag just after a restore gets no mouse input.
int Story(const char* exe)
{
    Begin("story", 280);  // trace.sh waits 300 s
    gHold = false;
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
    // A crash, ours or the exe's (which inherits this), ends the process at
    // once instead of waiting on a dialog; a failure line is never held back.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    setvbuf(stdout, NULL, _IONBF, 0);
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
    if (argc == 2 && strcmp(argv[1], "shown") == 0) return Shown();
    if (argc == 5 && strcmp(argv[1], "check") == 0) return Check(argv[2], argv[3], argv[4]);
    if (argc == 4 && strcmp(argv[1], "run") == 0) return Run(argv[2], argv[3]);
    if (argc == 3 && strcmp(argv[1], "story") == 0) return Story(argv[2]);
    fputs(
        "usage: check check CASE EXE FAULTDLL | run EXE BMP | story EXE | window [hittests] | "
        "dragfull | shown\n",
        stderr);
    return 2;
}
