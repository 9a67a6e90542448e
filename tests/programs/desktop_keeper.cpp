// Keeps the desktop of a Wine session in use until the session's wineserver ends it. Wine closes
// a desktop that nobody uses and starts its desktop process (explorer.exe) again for the next
// program that needs one, with that program's output handles: a test's, whose pipe ctest then
// waits on after the test has ended. Started first, with its output away from every pipe, this
// program's message-only window holds the desktop, and its desktop process, for the whole session.
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  if (!CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr)) return 1;
  MSG message{};
  while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
  return 0;
}
