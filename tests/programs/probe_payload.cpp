// The payload of the end-to-end packages. Started by the runner, it writes down what it was
// given and then behaves as the test asks through its environment, which the runner hands on:
//   PROBE_RECORD       file that the record is appended to (without it the probe does nothing)
//   PROBE_HIDE_AFTER   ms after start at which the hide marker is made beside the probe
//   PROBE_HIDE_FOR     ms the marker is kept before it is deleted again
//   PROBE_AWAIT        a name in the probe's folder to wait for (up to two minutes), after the
//                      record's first block: something that another process puts there
//   PROBE_SLEEP        ms to wait before ending (after the marker's time)
//   PROBE_EXIT         the exit code to end with (decimal; default 0)
//   PROBE_BOX          text of a message box to show (caption PROBE_BOX_CAPTION, style
//                      PROBE_BOX_STYLE in decimal); lets the driver be checked on its own
// It also records its arguments as the C runtime parsed them (ArgumentCount, Argument0, ...), the
// show command it was started with (ShowCommand) and whether a window of its own shown with that
// command is visible (WindowVisible, 0 or 1), as a GUI program's would be, and,
// just before it ends, the names directly in its folder (NamesAtEnd, sorted, joined by "|").
// The record is a block of name=value lines that starts with "begin" and ends with "end=";
// backslash, CR and LF in values are written as \\, \r and \n. Paths and names are in UTF-8, read
// through the wide functions; the command line is the ANSI one, as a program of the system's code
// page reads it.
#include <windows.h>

#include <cstdlib>
#include <set>
#include <string>

#include "format/protected_plain.h"

namespace {

std::wstring Wide(const std::string& utf8) {
  std::wstring wide(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0), L'\0');
  if (!wide.empty()) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], static_cast<int>(wide.size()));
  return wide;
}

std::string Utf8(const wchar_t* wide, int length) {
  std::string utf8(WideCharToMultiByte(CP_UTF8, 0, wide, length, nullptr, 0, nullptr, nullptr), '\0');
  if (!utf8.empty()) WideCharToMultiByte(CP_UTF8, 0, wide, length, &utf8[0], static_cast<int>(utf8.size()), nullptr, nullptr);
  return utf8;
}

std::string Variable(const char* name) {
  char buffer[1024];
  DWORD length = GetEnvironmentVariableA(name, buffer, sizeof buffer);
  return length && length < sizeof buffer ? std::string(buffer, length) : std::string();
}

DWORD Milliseconds(const char* name) { return static_cast<DWORD>(std::strtoul(Variable(name).c_str(), nullptr, 10)); }

const char* Plain(ProtectedId id) {
  for (const ProtectedPlainEntry& entry : ProtectedPlain)
    if (entry.Id == id) return entry.Text;
  return "";
}

// Wall-clock milliseconds, comparable between processes.
std::string Now() {
  FILETIME time;
  GetSystemTimeAsFileTime(&time);
  ULONGLONG ticks = (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  return std::to_string(ticks / 10000);
}

std::string Escaped(const std::string& value) {
  std::string text;
  for (char c : value) {
    if (c == '\\')
      text += "\\\\";
    else if (c == '\r')
      text += "\\r";
    else if (c == '\n')
      text += "\\n";
    else
      text += c;
  }
  return text;
}

std::string Line(const std::string& name, const std::string& value) { return name + "=" + Escaped(value) + "\n"; }

void Append(const std::string& record, const std::string& text) {
  HANDLE file = CreateFileA(record.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

bool ReadFileBytes(const std::string& path, std::string& bytes) {
  HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bytes.assign(GetFileSize(file, nullptr), '\0');
  DWORD read = 0;
  bool ok = bytes.empty() || ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr);
  CloseHandle(file);
  bytes.resize(read);
  return ok;
}

bool IsFolder(const std::string& path) {
  DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string NamesIn(const std::string& folder) {
  std::set<std::string> names;
  WIN32_FIND_DATAW entry{};
  HANDLE search = FindFirstFileW(Wide(folder + "\\*").c_str(), &entry);
  if (search != INVALID_HANDLE_VALUE) {
    do names.insert(Utf8(entry.cFileName, static_cast<int>(wcslen(entry.cFileName))));
    while (FindNextFileW(search, &entry));
    FindClose(search);
  }
  std::string text;
  for (const std::string& name : names)
    if (name != "." && name != "..") text += (text.empty() ? "" : "|") + name;
  return text;
}


// A top-level window shown the way a GUI program shows its main window.
bool ShownWindowIsVisible(int showCommand) {
  HWND window = CreateWindowExA(0, "STATIC", "probe", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 200, 100,
                                nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  if (!window) return false;
  ShowWindow(window, showCommand);
  bool visible = IsWindowVisible(window) != FALSE;
  DestroyWindow(window);
  return visible;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int showCommand) {
  std::string record = Variable("PROBE_RECORD");
  if (record.empty()) return 1;

  wchar_t buffer[MAX_PATH + 1];
  DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH + 1);
  std::string self = Utf8(buffer, static_cast<int>(length));
  std::string folder = self.substr(0, self.find_last_of('\\'));
  length = GetCurrentDirectoryW(MAX_PATH + 1, buffer);
  std::string current = Utf8(buffer, static_cast<int>(length));

  // The report has the probe's own base name and the report extension.
  std::string name = self.substr(folder.size() + 1);
  std::string report = folder + "\\" + name.substr(0, name.find_last_of('.')) + "." + Plain(PsReportExtension);
  std::string reportBytes;
  bool reportFound = ReadFileBytes(report, reportBytes);

  std::string text = "begin\n";
  text += Line("Start", Now());
  text += Line("ProcessId", std::to_string(GetCurrentProcessId()));
  text += Line("CommandLine", GetCommandLineA());
  text += Line("ArgumentCount", std::to_string(__argc - 1));
  for (int i = 1; i < __argc; ++i) text += Line("Argument" + std::to_string(i - 1), __argv[i]);
  text += Line("ShowCommand", std::to_string(showCommand));
  text += Line("WindowVisible", ShownWindowIsVisible(showCommand) ? "1" : "0");
  text += Line("CurrentFolder", current);
  text += Line("Module", self);
  text += Line("FolderExists", IsFolder(folder) ? "1" : "0");
  text += reportFound ? Line("Report", reportBytes) : Line("ReportMissing", report);
  Append(record, text);

  std::string await = Variable("PROBE_AWAIT");
  for (DWORD start = GetTickCount(); !await.empty() && GetTickCount() - start < 120000;) {
    if (GetFileAttributesW(Wide(folder + "\\" + await).c_str()) != INVALID_FILE_ATTRIBUTES) break;
    Sleep(20);
  }

  std::string box = Variable("PROBE_BOX");
  if (!box.empty()) {
    int answer = MessageBoxA(nullptr, box.c_str(), Variable("PROBE_BOX_CAPTION").c_str(), Milliseconds("PROBE_BOX_STYLE"));
    Append(record, Line("BoxAnswer", std::to_string(answer)));
  }

  std::string hideAfter = Variable("PROBE_HIDE_AFTER");
  if (!hideAfter.empty()) {
    std::string marker = folder + "\\" + Plain(PsHideMarker);
    Sleep(Milliseconds("PROBE_HIDE_AFTER"));
    HANDLE file = CreateFileW(Wide(marker).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    Append(record, Line("MarkerMade", Now()));
    Sleep(Milliseconds("PROBE_HIDE_FOR"));
    DeleteFileW(Wide(marker).c_str());
    Append(record, Line("MarkerGone", Now()));
  }
  Sleep(Milliseconds("PROBE_SLEEP"));
  Append(record, Line("NamesAtEnd", NamesIn(folder)) + Line("end", Now()));
  return static_cast<int>(Milliseconds("PROBE_EXIT"));
}
