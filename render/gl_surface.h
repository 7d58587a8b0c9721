#ifndef GLTRIANGLES_RENDER_GL_SURFACE_H
#define GLTRIANGLES_RENDER_GL_SURFACE_H

#include <windows.h>

// The window's OpenGL surface, from WM_CREATE to WM_DESTROY.
void SetupGLSurface(HWND hwnd);
void ResizeGLViewport(int width, int height);
void ReleaseGLSurface(HWND hwnd);

#endif
