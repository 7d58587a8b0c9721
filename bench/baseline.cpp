// The least that any windowed program does: register a class, create a
// window of the same size, style and place as gltriangles.exe, show it and
// run the message loop. No OpenGL, so the bench can tell what the GL set-up
// and drawing add on top.
#include <windows.h>

static LRESULT CALLBACK BaselineWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    // Painting is the class brush's white, through default processing.
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow)
{
    (void)hPrevInstance;
    (void)lpCmdLine;
    (void)nCmdShow;

    // Same class style as the program, so only the GL work differs.
    WNDCLASSA wc;
    wc.style = CS_VREDRAW | CS_HREDRAW | CS_OWNDC;
    wc.lpfnWndProc = BaselineWndProc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = hInstance;
    wc.hIcon = LoadIconA(NULL, IDI_APPLICATION);
    wc.hCursor = LoadCursorA(NULL, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszMenuName = NULL;
    wc.lpszClassName = "BenchBaseline";
    if (!RegisterClassA(&wc)) {
        return 1;
    }

    HWND hwnd = CreateWindowExA(WS_EX_DLGMODALFRAME, "BenchBaseline", "Bench Baseline",
                                WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_CLIPSIBLINGS,
                                0, 0, 400, 150, NULL, NULL, hInstance, NULL);
    if (hwnd == NULL) {
        return 1;
    }
    ShowWindow(hwnd, SW_SHOWNORMAL);

    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}
