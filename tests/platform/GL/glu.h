// Host stand-in for <GL/glu.h>: the one GLU call the program makes.
#ifndef GLTRIANGLES_TEST_PLATFORM_GL_GLU_H
#define GLTRIANGLES_TEST_PLATFORM_GL_GLU_H

#include <GL/gl.h>

extern "C" {
void APIENTRY gluOrtho2D(GLdouble left, GLdouble right, GLdouble bottom, GLdouble top);
}

#endif
