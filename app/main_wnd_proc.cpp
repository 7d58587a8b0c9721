#include "app/main_wnd_proc.h"

#include "render/gl_surface.h"
#include "render/render_state.h"
#include "render/scene.h"

SHORT LowWord(DWORD value)
{
    return static_cast<SHORT>(value & 0xFFFF);
}

SHORT HighWord(DWORD value)
{
    return static_cast<SHORT>((value >> 16) & 0xFFFF);
}

LRESULT CALLBACK MainWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_CREATE: {
        SetupGLSurface(hwnd);
        return 0;
    }
    case WM_DESTROY: {
        ReleaseGLSurface(hwnd);
        PostQuitMessage(0);
        return 0;
    }
    case WM_SIZE: {
        // Every kind of size change alike, minimised (0 x 0) included.
        const int width = LowWord(static_cast<DWORD>(lParam));
        const int height = HighWord(static_cast<DWORD>(lParam));
        ResizeGLViewport(width, height);
        // Queue a repaint so that the picture follows the new size even
        // inside the modal sizing loop.
        PostMessageA(hwnd, WM_PAINT, 0, 0);
        return 0;
    }
    case WM_PAINT: {
        // Always begin and end painting, so the update region is validated
        // and the platform stops asking.
        PAINTSTRUCT ps;
        renderState.hDC = BeginPaint(hwnd, &ps);
        DrawScene();
        EndPaint(hwnd, &ps);
        return 0;
    }
    default:
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
}
