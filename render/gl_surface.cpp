#include "render/gl_surface.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include "render/render_state.h"

void SetupGLSurface(HWND hwnd)
{
    renderState.hDC = GetDC(hwnd);

    // Single-buffered RGBA at the display's depth; DrawScene flushes
    // straight to the window, so there is nothing to swap.
    const int bitsPerPixel = GetDeviceCaps(renderState.hDC, BITSPIXEL);
    const int planes = GetDeviceCaps(renderState.hDC, PLANES);

    PIXELFORMATDESCRIPTOR request;
    request.nSize = sizeof(PIXELFORMATDESCRIPTOR);
    request.nVersion = 1;
    request.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL;
    request.iPixelType = PFD_TYPE_RGBA;
    request.cColorBits = static_cast<BYTE>(bitsPerPixel * planes);
    request.cRedBits = 0;
    request.cRedShift = 0;
    request.cGreenBits = 0;
    request.cGreenShift = 0;
    request.cBlueBits = 0;
    request.cBlueShift = 0;
    request.cAlphaBits = 0;
    request.cAlphaShift = 0;
    request.cAccumBits = 0;
    request.cAccumRedBits = 0;
    request.cAccumGreenBits = 0;
    request.cAccumBlueBits = 0;
    request.cAccumAlphaBits = 0;
    request.cDepthBits = 0;
    request.cStencilBits = 0;
    request.cAuxBuffers = 0;
    request.iLayerType = PFD_MAIN_PLANE;
    request.bReserved = 0;
    request.dwLayerMask = 0;
    request.dwVisibleMask = 0;
    request.dwDamageMask = 0;

    // Results are not checked: without a context every GL call below is
    // a no-op and the window simply stays blank.
    const int format = ChoosePixelFormat(renderState.hDC, &request);
    SetPixelFormat(renderState.hDC, format, &request);

    renderState.hRC = wglCreateContext(renderState.hDC);
    wglMakeCurrent(renderState.hDC, renderState.hRC);

    GetClientRect(hwnd, &renderState.clientRect);
    glViewport(0, 0, renderState.clientRect.right, renderState.clientRect.bottom);

    // One scene unit per client pixel of the window as created, origin at
    // the bottom left. The projection is set once: later resizes stretch it.
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluOrtho2D(0.0, static_cast<GLdouble>(renderState.clientRect.right), 0.0,
               static_cast<GLdouble>(renderState.clientRect.bottom));
    glMatrixMode(GL_MODELVIEW);
}

void ResizeGLViewport(int width, int height)
{
    glViewport(0, 0, width, height);
}

void ReleaseGLSurface(HWND hwnd)
{
    // Unbind before deleting: a context must not be deleted while current.
    wglMakeCurrent(NULL, NULL);
    ReleaseDC(hwnd, renderState.hDC);
    wglDeleteContext(renderState.hRC);
}
