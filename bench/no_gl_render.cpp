// The renderer with OpenGL taken out, linked into the bench's baseline in
// place of render/gl_surface.cpp and render/scene.cpp. The window is then
// painted by its white class brush alone.
#include "render/gl_surface.h"
#include "render/scene.h"

void SetupGLSurface(HWND) {}
void ResizeGLViewport(int, int) {}
void ReleaseGLSurface(HWND) {}
void DrawScene() {}
