// A recording fake of the Win32, WGL, OpenGL and GLU calls the program
// makes. Every call appends one line to a single ordered log, with its
// arguments rendered as text: records and buffers are copied out at the
// time of the call, because they are the caller's locals.
#ifndef GLTRIANGLES_TEST_PLATFORM_FAKE_PLATFORM_H
#define GLTRIANGLES_TEST_PLATFORM_FAKE_PLATFORM_H

#include <windows.h>

#include <string>
#include <vector>

namespace fake {

// The handles the fake hands out; the log prints them by these names.
inline const HINSTANCE instance = reinterpret_cast<HINSTANCE>(0x400000);  // "hinst"
inline const HWND window = reinterpret_cast<HWND>(0x10010);               // "hwnd"
inline const HDC dc = reinterpret_cast<HDC>(0x20020);                     // "hdc"
inline const HGLRC context = reinterpret_cast<HGLRC>(0x30030);            // "hglrc"

// What the platform answers; Reset() restores these defaults.
struct Results {
    ATOM registerClass = 0xC0DE;
    bool createWindowFails = false;
    int choosePixelFormat = 7;
    bool createContextFails = false;
    LRESULT defWindowProc = 0;
    LONG clientWidth = 392;
    LONG clientHeight = 123;
    int bitsPixel = 32;
    int planes = 1;
};
extern Results results;

// Empties the log, the message queue and the script, restores the
// default results and zeroes the program's renderState.
void Reset();

// Queues a message that the user or the platform sends to the window;
// GetMessageA hands scripted messages out once nothing is posted.
void Script(UINT msg, WPARAM wParam, LPARAM lParam);

const std::vector<std::string>& Log();

// A message as the log prints it, e.g. "hwnd, WM_SIZE, 0x2, 0x7b0188".
std::string Message(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

}  // namespace fake

#endif
