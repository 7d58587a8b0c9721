// Built as a glu32.dll that the tests put beside a copy of gltriangles.exe.
// Wine loads a DLL from the exe's folder before its own, so this one is
// loaded on the main thread before WinMain runs, with no thread of ours in
// the process. Led by the environment it makes the platform refuse what
// WinMain asks for:
//   GLTRIANGLES_E2E_FAULT=register  "MinimalApp" is already registered for
//                                    the exe's instance, so RegisterClassA fails
//   GLTRIANGLES_E2E_FAULT=create     a CBT hook on this thread vetoes the
//                                    creation of a "MinimalApp" window
#include <windows.h>
#include <GL/gl.h>

#include <string.h>

namespace {

LRESULT CALLBACK RefuseMainWindow(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND) {
        char cls[64];
        if (GetClassNameA(reinterpret_cast<HWND>(wParam), cls, sizeof cls) > 0 &&
            strcmp(cls, "MinimalApp") == 0) {
            return 1;
        }
    }
    return CallNextHookEx(NULL, code, wParam, lParam);
}

}  // namespace

// The one call the exe imports from glu32, as GLU defines it.
#define EXPORTED extern "C" __declspec(dllexport)
EXPORTED void WINAPI gluOrtho2D(GLdouble left, GLdouble right, GLdouble bottom, GLdouble top)
{
    glOrtho(left, right, bottom, top, -1.0, 1.0);
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    char fault[16] = "";
    GetEnvironmentVariableA("GLTRIANGLES_E2E_FAULT", fault, sizeof fault);
    if (strcmp(fault, "register") == 0) {
        WNDCLASSA wc;
        memset(&wc, 0, sizeof wc);
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(NULL);
        wc.lpszClassName = "MinimalApp";
        return RegisterClassA(&wc) != 0;
    }
    if (strcmp(fault, "create") == 0) {
        return SetWindowsHookExA(WH_CBT, RefuseMainWindow, self, GetCurrentThreadId()) != NULL;
    }
    return FALSE;
}
