// The floor of the start-up benchmark: a program that shows one Yes/No box
// and ends, built with the same toolchain and static runtime as Quorpa.exe.
// Nothing Quorpa does can start faster than this.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return ::MessageBoxA(nullptr, "floor", "floor", MB_YESNO | MB_ICONQUESTION) == IDYES ? 0 : 1;
}
