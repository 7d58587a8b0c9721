// Asks the platform, from inside the same Wine prefix, what the host-side
// tests cannot see from X alone. Prints "key value..." lines on stdout.
//
//   probe window [hittests]   the main window: rectangles, styles, state and,
//                             with hittests, the screen points of its caption
//                             buttons and sizing corner, found with
//                             WM_NCHITTEST (a hundred or more messages to the
//                             window, slow where the exe is emulated)
//   probe msgbox              the "Error" message box: owner, text, buttons,
//                             and the error icon as expected and as placed
//   probe dragfull            turn on "show window contents while dragging",
//                             as a Windows desktop has it by default
//
// Exit status 3 means "not there (yet)", so the host can poll.
#include <windows.h>

#include <stdio.h>
#include <string.h>

namespace {

const char kClass[] = "MinimalApp";
const char kTitle[] = "Drawing Triangles With OpenGL (WEZ 6.1)";

LRESULT HitTest(HWND hwnd, int x, int y)
{
    const LPARAM at = static_cast<LPARAM>((static_cast<DWORD>(y & 0xFFFF) << 16) |
                                          static_cast<DWORD>(x & 0xFFFF));
    return SendMessageA(hwnd, WM_NCHITTEST, 0, at);
}

struct Button {
    const char* name;
    LRESULT code;
    int x0;  // the run of `code` along the caption line; -1 before it is seen
    int x1;
};

// Prints the centre of each button's run along the caption line, measured
// across in x, in one pass for all of them from the right, where caption
// buttons sit, to just past the last one; and then down in y at that x.
void PrintButtons(HWND hwnd, Button* buttons, int count, const RECT& wr, int captionY)
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
        const Button& b = buttons[i];
        if (b.x0 < 0) continue;
        const int x = (b.x0 + b.x1) / 2;
        int y0 = captionY;
        int y1 = captionY;
        while (y0 > wr.top && HitTest(hwnd, x, y0 - 1) == b.code) --y0;
        while (y1 < wr.bottom - 1 && HitTest(hwnd, x, y1 + 1) == b.code) ++y1;
        printf("%s %d %d\n", b.name, x, (y0 + y1) / 2);
    }
}

int Window(bool hitTests)
{
    HWND hwnd = FindWindowA(kClass, kTitle);
    if (hwnd == NULL) return 3;

    RECT wr;
    GetWindowRect(hwnd, &wr);
    printf("window %ld %ld %ld %ld\n", wr.left, wr.top, wr.right - wr.left, wr.bottom - wr.top);
    RECT cr;
    GetClientRect(hwnd, &cr);
    POINT origin = {0, 0};
    ClientToScreen(hwnd, &origin);
    printf("client %ld %ld %ld %ld\n", origin.x, origin.y, cr.right, cr.bottom);

    printf("style 0x%08lx\n", static_cast<unsigned long>(GetWindowLongA(hwnd, GWL_STYLE)));
    printf("exstyle 0x%08lx\n", static_cast<unsigned long>(GetWindowLongA(hwnd, GWL_EXSTYLE)));
    printf("classstyle 0x%08lx\n", static_cast<unsigned long>(GetClassLongA(hwnd, GCL_STYLE)));
    printf("state %d %d %d\n", IsWindowVisible(hwnd) ? 1 : 0, IsIconic(hwnd) ? 1 : 0,
           IsZoomed(hwnd) ? 1 : 0);
    printf("active %d\n", GetForegroundWindow() == hwnd ? 1 : 0);
    // Whether the window's thread is inside the platform's modal move/size loop.
    GUITHREADINFO gui;
    gui.cbSize = sizeof gui;
    const DWORD thread = GetWindowThreadProcessId(hwnd, NULL);
    printf("movesize %d\n",
           GetGUIThreadInfo(thread, &gui) && (gui.flags & GUI_INMOVESIZE) != 0 ? 1 : 0);

    if (!hitTests) return 0;

    // A minimised window has no client area: its caption is all of it.
    const int captionY = IsIconic(hwnd) ? static_cast<int>((wr.top + wr.bottom) / 2)
                                        : static_cast<int>((wr.top + origin.y) / 2);
    Button buttons[] = {{"minbutton", HTMINBUTTON, -1, -1},
                        {"maxbutton", HTMAXBUTTON, -1, -1},
                        {"closebutton", HTCLOSE, -1, -1}};
    PrintButtons(hwnd, buttons, 3, wr, captionY);

    // The sizing corner: walk in from the bottom-right pixel along the
    // diagonal and take the middle of the run.
    int run = 0;
    while (run < 64 && HitTest(hwnd, static_cast<int>(wr.right) - 1 - run,
                               static_cast<int>(wr.bottom) - 1 - run) == HTBOTTOMRIGHT) {
        ++run;
    }
    if (run > 0) {
        printf("grip %ld %ld\n", wr.right - 1 - run / 2, wr.bottom - 1 - run / 2);
    }
    return 0;
}

void PrintEscaped(const char* key, const char* text)
{
    printf("%s ", key);
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c == '\r') {
            fputs("\\r", stdout);
        } else if (*c == '\n') {
            fputs("\\n", stdout);
        } else {
            putchar(*c);
        }
    }
    putchar('\n');
}

// The error icon as this process draws it, one pixel per 6 hex digits, or
// "......" where it is see-through (it comes out differently on black and
// on white), so the host can compare it with what the box shows.
void PrintExpectedIcon(int width, int height)
{
    HDC screen = GetDC(NULL);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, 2 * height);
    HGDIOBJ old = SelectObject(dc, bitmap);
    const RECT onBlack = {0, 0, width, height};
    const RECT onWhite = {0, height, width, 2 * height};
    FillRect(dc, &onBlack, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    FillRect(dc, &onWhite, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    HICON icon = LoadIconA(NULL, IDI_ERROR);
    DrawIconEx(dc, 0, 0, icon, width, height, 0, NULL, DI_NORMAL);
    DrawIconEx(dc, 0, height, icon, width, height, 0, NULL, DI_NORMAL);
    fputs("iconpixels ", stdout);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const COLORREF a = GetPixel(dc, x, y);
            if (a == GetPixel(dc, x, y + height)) {
                printf("%02x%02x%02x", GetRValue(a), GetGValue(a), GetBValue(a));
            } else {
                fputs("......", stdout);
            }
        }
    }
    putchar('\n');
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(NULL, screen);
}

BOOL CALLBACK PrintChild(HWND child, LPARAM buttons)
{
    char cls[64];
    GetClassNameA(child, cls, sizeof cls);
    char text[256];
    GetWindowTextA(child, text, sizeof text);
    const LONG style = GetWindowLongA(child, GWL_STYLE);
    if (lstrcmpiA(cls, "Static") == 0 && (style & SS_TYPEMASK) == SS_ICON) {
        RECT r;
        GetWindowRect(child, &r);
        printf("icon %ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
        PrintExpectedIcon(static_cast<int>(r.right - r.left), static_cast<int>(r.bottom - r.top));
    } else if (lstrcmpiA(cls, "Static") == 0 && text[0] != '\0') {
        PrintEscaped("text", text);
    } else if (lstrcmpiA(cls, "Button") == 0) {
        char* list = reinterpret_cast<char*>(buttons);
        if (strlen(list) + strlen(text) + 2 < 256) {
            strcat(list, " ");
            strcat(list, text);
        }
    }
    return TRUE;
}

int MessageBoxInfo()
{
    HWND box = FindWindowA("#32770", "Error");
    if (box == NULL) return 3;
    char text[256];
    GetWindowTextA(box, text, sizeof text);
    printf("title %s\n", text);
    DWORD pid = 0;
    GetWindowThreadProcessId(box, &pid);
    // Which exe showed it: the tests launch a copy of their own.
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    char image[MAX_PATH] = "";
    DWORD size = sizeof image;
    if (process != NULL) {
        QueryFullProcessImageNameA(process, 0, image, &size);
        CloseHandle(process);
    }
    printf("image %s\n", image);
    printf("owner %d\n", GetWindow(box, GW_OWNER) != NULL ? 1 : 0);
    printf("state %d %d\n", IsWindowVisible(box) ? 1 : 0, GetForegroundWindow() == box ? 1 : 0);
    char buttons[256] = "";
    EnumChildWindows(box, PrintChild, reinterpret_cast<LPARAM>(buttons));
    printf("buttons%s\n", buttons);
    return 0;
}

int DragFullWindows()
{
    if (!SystemParametersInfoA(SPI_SETDRAGFULLWINDOWS, TRUE, NULL, SPIF_SENDCHANGE)) return 1;
    BOOL on = FALSE;
    SystemParametersInfoA(SPI_GETDRAGFULLWINDOWS, 0, &on, 0);
    printf("dragfull %d\n", on ? 1 : 0);
    return on ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && strcmp(argv[1], "window") == 0) return Window(false);
    if (argc == 3 && strcmp(argv[1], "window") == 0 && strcmp(argv[2], "hittests") == 0) {
        return Window(true);
    }
    if (argc == 2 && strcmp(argv[1], "msgbox") == 0) return MessageBoxInfo();
    if (argc == 2 && strcmp(argv[1], "dragfull") == 0) return DragFullWindows();
    fputs("usage: probe window [hittests] | msgbox | dragfull\n", stderr);
    return 2;
}
