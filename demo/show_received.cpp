// The demo package's payload: shows what the runner handed it, its command line, its
// working folder and the environment report beside it. With CABRUN_DEMO_OUTPUT set it
// writes the same text to that file instead (for runs without anyone at the screen).
#include <windows.h>

#include <string>

namespace {

std::string ReportBesideMe() {
  char path[MAX_PATH + 1];
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string report(path, n);
  size_t dot = report.find_last_of(".\\");
  if (dot != std::string::npos && report[dot] == '.') report.erase(dot);
  report += ".env";
  std::string text = "Report " + report + ":\r\n";
  HANDLE file = CreateFileA(report.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return text + "(none)\r\n";
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) text.append(buffer, read);
  CloseHandle(file);
  return text;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char folder[MAX_PATH + 1] = "";
  GetCurrentDirectoryA(sizeof folder, folder);
  std::string text = std::string("Command line:\r\n") + GetCommandLineA() + "\r\n\r\nWorking folder:\r\n" + folder +
                     "\r\n\r\n" + ReportBesideMe();

  char output[MAX_PATH + 1];
  DWORD n = GetEnvironmentVariableA("CABRUN_DEMO_OUTPUT", output, sizeof output);
  if (n == 0 || n >= sizeof output) {
    MessageBoxA(nullptr, text.c_str(), "cabrun demo payload", MB_OK | MB_ICONINFORMATION);
    return 0;
  }
  HANDLE file = CreateFileA(output, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
  return 0;
}
