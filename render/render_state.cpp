#include "render/render_state.h"

// Zero until the window's WM_CREATE fills it in.
WindowRenderState renderState = {};
