#include <windows.h>

#include <string.h>

#include "app/main_wnd_proc.h"

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow)
{
    (void)hPrevInstance;
    (void)lpCmdLine;
    (void)nCmdShow;  // the window always opens in its normal state

    // Fixed 100-byte buffers: the text and its NUL first, blanks after.
    char className[100];
    memset(className, ' ', sizeof className);
    memcpy(className, "MinimalApp", sizeof "MinimalApp");

    char windowTitle[100];
    memset(windowTitle, ' ', sizeof windowTitle);
    memcpy(windowTitle, "Drawing Triangles With OpenGL (WEZ 6.1)",
           sizeof "Drawing Triangles With OpenGL (WEZ 6.1)");

    WNDCLASSA wc;
    wc.style = CS_VREDRAW | CS_HREDRAW | CS_OWNDC;  // CS_OWNDC: one DC for GL
    wc.lpfnWndProc = MainWndProc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = hInstance;
    wc.hIcon = LoadIconA(NULL, IDI_APPLICATION);
    wc.hCursor = LoadCursorA(NULL, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszMenuName = NULL;
    wc.lpszClassName = className;

    // Failures exit with 1 so that whoever started us can tell.
    if (!RegisterClassA(&wc)) {
        MessageBoxA(NULL, "Error - can't register window class...\rProgram terminated", "Error",
                    MB_ICONERROR);
        return 1;
    }

    // Not yet visible; WM_CREATE sets up the GL surface before this returns.
    HWND hwnd = CreateWindowExA(WS_EX_DLGMODALFRAME, className, windowTitle,
                                WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, 0, 0, 400,
                                150, NULL, NULL, hInstance, NULL);
    if (hwnd == NULL) {
        MessageBoxA(NULL, "Error - can't create main window...\rProgram terminated", "Error",
                    MB_ICONERROR);
        return 1;
    }

    ShowWindow(hwnd, SW_SHOWNORMAL);

    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }

    // WM_DESTROY posts the quit message with 0, so a normal run ends with 0.
    return 0;
}
