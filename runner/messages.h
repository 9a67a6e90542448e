// The runner's message boxes and window captions, in English and Japanese.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

struct TRunnerMessage {
  const char* EnglishCaption;  // "Error" for the English-only messages
  const char* EnglishText;     // the text, or the part before the folder name
  const char* EnglishAfter;    // the part after the folder name; null: no folder in the text
  const char* JapaneseText;    // code page 932; null: English only
  const char* JapaneseAfter;
  UINT Type;
  uint32_t ExitCode;  // of a run that ends with this message
};

extern const TRunnerMessage MsgConfirm, MsgDeclined, MsgFolderFailed, MsgNoPackageFile, MsgPackageNotWritten,
    MsgExtractionFailed, MsgExtracted, MsgNoProgramNamed, MsgProgramMissing, MsgStartFailed, MsgArgumentRefused;

// The text as it is shown in the run's language, in UTF-8, with the folder (UTF-8) in double
// quotes where the message names one.
std::string MessageText(const TRunnerMessage& message, std::string_view folder);
std::string MessageCaption(const TRunnerMessage& message);

// Shows the message in the run's language, writes it to the log and makes its exit code the
// run's. The result is MessageBoxW's; a quiet run shows nothing and answers IDOK.
int ShowRunnerMessage(const TRunnerMessage& message, HWND owner, std::string_view folder = {});
// Writes a message to the log, as shown or, in a quiet run, as not shown.
void LogMessage(std::string_view caption, std::string_view text);

// The progress window's captions in the run's language.
const char* ExtractingCaption();
const char* ExecutingCaption();
