// Host stand-in for <GL/gl.h>: the OpenGL 1.1 types, values and entry
// points that the program uses. tests/platform/fake_platform.cpp
// records the calls.
#ifndef GLTRIANGLES_TEST_PLATFORM_GL_GL_H
#define GLTRIANGLES_TEST_PLATFORM_GL_GL_H

#ifndef APIENTRY
#define APIENTRY
#endif

typedef unsigned int GLenum;
typedef unsigned int GLbitfield;
typedef int GLint;
typedef int GLsizei;
typedef float GLfloat;
typedef double GLdouble;

#define GL_DEPTH_BUFFER_BIT 0x00000100
#define GL_COLOR_BUFFER_BIT 0x00004000
#define GL_TRIANGLES 0x0004
#define GL_MODELVIEW 0x1700
#define GL_PROJECTION 0x1701

extern "C" {
void APIENTRY glClear(GLbitfield mask);
void APIENTRY glBegin(GLenum mode);
void APIENTRY glEnd(void);
void APIENTRY glColor3f(GLfloat red, GLfloat green, GLfloat blue);
void APIENTRY glVertex2f(GLfloat x, GLfloat y);
void APIENTRY glFlush(void);
void APIENTRY glViewport(GLint x, GLint y, GLsizei width, GLsizei height);
void APIENTRY glMatrixMode(GLenum mode);
void APIENTRY glLoadIdentity(void);
}

#endif
