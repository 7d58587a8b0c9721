#include "render/scene.h"

#include <windows.h>
#include <GL/gl.h>

#include "render/render_state.h"

void DrawScene()
{
    // The clear colour is never set, so this clears to OpenGL's initial
    // black, over the whole client area, whatever the class brush painted.
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

    // Six vertices, each preceded by its own colour; the default smooth
    // shading blends them across each triangle.
    glBegin(GL_TRIANGLES);
    glColor3f(1.0f, 0.0f, 0.0f);
    glVertex2f(10.0f, 10.0f);
    glColor3f(1.0f, 1.0f, 0.0f);
    glVertex2f(60.0f, 70.0f);
    glColor3f(0.0f, 1.0f, 0.0f);
    glVertex2f(160.0f, 20.0f);

    glColor3f(0.0f, 1.0f, 1.0f);
    glVertex2f(220.0f, 90.0f);
    glColor3f(0.0f, 0.0f, 1.0f);
    glVertex2f(280.0f, 5.0f);
    // Tracks the top-right corner of the client area as created.
    glColor3f(1.0f, 0.0f, 1.0f);
    glVertex2f(static_cast<GLfloat>(renderState.clientRect.right - 10),
               static_cast<GLfloat>(renderState.clientRect.bottom - 10));
    glEnd();

    // Single-buffered: flush so the picture reaches the window before
    // EndPaint.
    glFlush();
}
