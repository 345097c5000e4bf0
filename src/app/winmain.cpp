// VorseFix.exe's entry point: the one window and its message loop; no command line is read.
#include "app/main_window.h"

int WINAPI WinMain(HINSTANCE Instance, HINSTANCE, LPSTR, int ShowCommand) {
  return vorse::RunVorseFix(Instance, ShowCommand);
}
