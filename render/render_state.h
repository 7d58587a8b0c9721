#ifndef GLTRIANGLES_RENDER_RENDER_STATE_H
#define GLTRIANGLES_RENDER_RENDER_STATE_H

#include <windows.h>

// The window's drawing state, shared by the window procedure and the
// rendering operations. There is exactly one, for the one window.
struct WindowRenderState {
    RECT clientRect;  // client area at creation; the projection keeps it
    HGLRC hRC;
    HDC hDC;  // from GetDC, then each BeginPaint: the window's own DC (CS_OWNDC),
              // except while it is minimised
};

extern WindowRenderState renderState;

#endif
