#include "runner/messages.h"

#include "runner/log.h"
#include "runner/state.h"
#include "sys/wide_text.h"

namespace {

// "ファイルの抽出"
const char kJapaneseCaption[] = "\x83t\x83@\x83" "C\x83\x8B\x82\xCC\x92\x8A\x8Fo";
// "ファイルを " and the opening double quote
const char kJapaneseFilesTo[] = "\x83t\x83@\x83" "C\x83\x8B\x82\xF0 \"";

bool IsJapanese(const TRunnerMessage& message) { return JapaneseMode && message.JapaneseText; }

}  // namespace

const TRunnerMessage MsgConfirm = {
    "Extracts of files", "Are files extracted to \"", "\"?",
    kJapaneseFilesTo, "\" \x82\xD6\x92\x8A\x8Fo\x82\xB5\x82\xDC\x82\xB7\x82\xA9\x81H",  // "ファイルを " … " へ抽出しますか？"
    MB_OKCANCEL | MB_ICONQUESTION, 0};
const TRunnerMessage MsgDeclined = {
    "Extracts of files", "Extraction of file was canceled.", nullptr,
    // "ファイルの抽出を中止しました。"
    "\x83t\x83@\x83" "C\x83\x8B\x82\xCC\x92\x8A\x8Fo\x82\xF0\x92\x86\x8E~\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81" "B",
    nullptr, MB_OK, ERROR_CANCELLED};
const TRunnerMessage MsgFolderFailed = {
    "Extracts of files", "Could not create \"", "\" folder!",
    // "フォルダ " … " を作成できません！"
    "\x83t\x83H\x83\x8B\x83_ \"", "\" \x82\xF0\x8D\xEC\x90\xAC\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1\x81I",
    MB_ICONERROR, 101};
const TRunnerMessage MsgNoPackageFile = {"Error", "Could not create package!", nullptr, nullptr, nullptr, MB_ICONERROR,
                                          102};
const TRunnerMessage MsgPackageNotWritten = {"Error", "Could not extract package!", nullptr, nullptr, nullptr,
                                             MB_ICONERROR, 103};
const TRunnerMessage MsgExtractionFailed = {
    "Extracts of files", "Could not extract files!", nullptr,
    // "ファイルを抽出できません！"
    "\x83t\x83@\x83" "C\x83\x8B\x82\xF0\x92\x8A\x8Fo\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1\x81I", nullptr,
    MB_ICONERROR, 104};
const TRunnerMessage MsgExtracted = {
    "Extracts of files", "Files are extracted to \"", "\".",
    kJapaneseFilesTo, "\" \x82\xD6\x92\x8A\x8Fo\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81" "B",  // … " へ抽出しました。"
    MB_OK, 0};
const TRunnerMessage MsgNoProgramNamed = {"Error", "An executable file is not specified!", nullptr, nullptr, nullptr,
                                          MB_ICONERROR, 105};
const TRunnerMessage MsgProgramMissing = {"Error", "An executable file is not found!", nullptr, nullptr, nullptr,
                                          MB_ICONERROR, 106};
const TRunnerMessage MsgStartFailed = {"Error", "Could not execute the executable file!", nullptr, nullptr, nullptr,
                                       MB_ICONERROR, 107};
const TRunnerMessage MsgArgumentRefused = {"Error", "An argument cannot be passed to the executable file!", nullptr,
                                           nullptr, nullptr, MB_ICONERROR, 107};

// The texts are kept in code page 932 (the English ones are ASCII, which it shares); the folder
// is a path, in UTF-8 as every path of the run.
std::string MessageText(const TRunnerMessage& message, std::string_view folder) {
  bool japanese = IsJapanese(message);
  std::string text = Utf8FromCodePage(japanese ? message.JapaneseText : message.EnglishText, 932);
  const char* after = japanese ? message.JapaneseAfter : message.EnglishAfter;
  if (after) text.append(folder).append(Utf8FromCodePage(after, 932));
  return text;
}

std::string MessageCaption(const TRunnerMessage& message) {
  return Utf8FromCodePage(IsJapanese(message) ? kJapaneseCaption : message.EnglishCaption, 932);
}

void LogMessage(std::string_view caption, std::string_view text) {
  WriteLog({QuietMode ? "message not shown: " : "message: ", caption, ": ", text});
}

int ShowRunnerMessage(const TRunnerMessage& message, HWND owner, std::string_view folder) {
  RunExitCode = message.ExitCode;
  std::string caption = MessageCaption(message), text = MessageText(message, folder);
  LogMessage(caption, text);
  // Nobody is there to answer: a quiet run goes on as if OK were pressed, which confirms an
  // extraction without asking.
  if (QuietMode) return IDOK;
  return MessageBoxW(owner, WidePath(text).c_str(), WidePath(caption).c_str(), message.Type);
}

const char* ExtractingCaption() {
  return JapaneseMode ? "\x92\x8A\x8Fo\x82\xB5\x82\xC4\x82\xA2\x82\xDC\x82\xB7...." : "Extracting....";  // "抽出しています...."
}

const char* ExecutingCaption() {
  return JapaneseMode ? "\x8E\xC0\x8Ds\x82\xB5\x82\xC4\x82\xA2\x82\xDC\x82\xB7...." : "Executing....";  // "実行しています...."
}
