#ifndef GLTRIANGLES_RENDER_SCENE_H
#define GLTRIANGLES_RENDER_SCENE_H

// Draws the two colour-blended triangles on black into the current context.
void DrawScene();

#endif
