// The Windows entry point of lumivex.scr: hands the instance handle to the saver.
#include <windows.h>

#include "saver/saver_main.h"
#include "saver/win32_saver.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) { return SaverMain(instance); }
