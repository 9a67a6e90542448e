// Started by the launcher tests. It writes how it was started (its command line and current
// folder) to launch_record.txt in its current folder, plays the parts its arguments name, and
// writes ended.txt just before it ends:
//   linger=MS                 sleeps MS milliseconds
//   hold                      waits while the file "hold" exists (at most 60 s)
//   marker-dance=HWND,MS      creates the file "marker", waits up to 10 s for window HWND (hex)
//                             to be hidden, deletes "marker", waits up to MS ms for it to be
//                             shown again and as long for it to come to the front, and
//                             writes what it saw to dance.txt
// Other arguments are only recorded.
#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

void WriteText(const char* name, const std::string& text) {
  HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

bool Exists(const char* name) { return GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES; }

// Polls every 10 ms until the condition holds or the time is up; the condition's last value.
template <typename Condition>
bool WaitFor(Condition condition, DWORD milliseconds) {
  DWORD start = GetTickCount();
  while (!condition()) {
    if (GetTickCount() - start >= milliseconds) return false;
    Sleep(10);
  }
  return true;
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

void MarkerDance(const std::string& argument) {
  HWND window = reinterpret_cast<HWND>(std::strtoul(argument.c_str(), nullptr, 16));
  DWORD showWait = std::strtoul(argument.c_str() + argument.find(',') + 1, nullptr, 10);
  WriteText("marker", "");
  bool hidden = WaitFor([&] { return !IsWindowVisible(window); }, 10000);
  DeleteFileA("marker");
  bool shown = WaitFor([&] { return IsWindowVisible(window) != FALSE; }, showWait);
  // The window is shown first and brought to the front just after.
  bool foreground = WaitFor([&] { return GetForegroundWindow() == window; }, showWait);
  WriteText("dance.txt", std::string("hidden=") + (hidden ? "1" : "0") + " shown=" + (shown ? "1" : "0") +
                             " foreground=" + (foreground ? "1" : "0"));
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char folder[MAX_PATH + 1] = "";
  GetCurrentDirectoryA(sizeof folder, folder);
  WriteText("launch_record.txt", std::string(GetCommandLineA()) + "\n" + folder + "\n");
  for (int i = 1; i < __argc; ++i) {
    std::string argument = __argv[i];
    if (StartsWith(argument, "linger="))
      Sleep(std::strtoul(argument.c_str() + 7, nullptr, 10));
    else if (argument == "hold")
      WaitFor([] { return !Exists("hold"); }, 60000);
    else if (StartsWith(argument, "marker-dance="))
      MarkerDance(argument.substr(13));
  }
  WriteText("ended.txt", "");
  return 0;
}
