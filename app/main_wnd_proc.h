#ifndef GLTRIANGLES_APP_MAIN_WND_PROC_H
#define GLTRIANGLES_APP_MAIN_WND_PROC_H

#include <windows.h>

// The low and high 16 bits of a 32-bit message parameter, as signed values.
SHORT LowWord(DWORD value);
SHORT HighWord(DWORD value);

LRESULT CALLBACK MainWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

#endif
