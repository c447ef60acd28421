// The Windows entry point of lumivex.scr: hands the instance handle to the saver.
#include <windows.h>

#include "saver/saver_run.h"
#include "saver/win32_saver.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) { return SaverMain(instance); }
