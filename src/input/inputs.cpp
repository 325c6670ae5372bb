#include "input/inputs.h"

#include <algorithm>

#include "process/command_line.h"
#include "process/failure.h"

namespace korvella {
namespace {

InputPair inputPair;
ComparisonResult comparisonResult;

void TakeName(Name& name, std::string_view argument) {
  name.length = static_cast<std::uint8_t>(argument.size());
  std::copy(argument.begin(), argument.end(), name.bytes);
}

void PrintLine(std::string_view text, std::string_view name = {}) {
  Write(ConsoleOut(), text);
  CheckIo();
  if (!name.empty()) {
    Write(ConsoleOut(), name);
    CheckIo();
  }
  EndLine(ConsoleOut());
  CheckIo();
}

// An empty name is standard input.
platform::FileHandle OpenInput(const Name& name) {
  if (name.length == 0) return platform::StandardInput();
  return platform::OpenForReading(name.View());
}

void CloseInput(platform::FileHandle file) {
  if (file != platform::StandardInput()) platform::CloseFile(file);
}

}  // namespace

InputPair& Inputs() { return inputPair; }
ComparisonResult& Result() { return comparisonResult; }

__attribute__((noinline)) void CheckArguments() {
  if (ArgumentCount() != 2) ShowUsage();
  TakeName(inputPair.Name1, Argument(1));
  TakeName(inputPair.Name2, Argument(2));
  if (inputPair.Name1.View() == inputPair.Name2.View()) {
    PrintLine("Error: the same name in both.");
    ShowUsage();
  }
}

__attribute__((noinline)) void OpenInputs() {
  InputPair& pair = inputPair;
  pair.File1 = OpenInput(pair.Name1);
  if (platform::TakeIoError() != 0) {
    PrintLine("Error: can't open file ", pair.Name1.View());
    ShowUsage();
  }
  pair.File2 = OpenInput(pair.Name2);
  if (platform::TakeIoError() != 0) {
    PrintLine("Error: can't open file ", pair.Name2.View());
    CloseInput(pair.File1);
    CheckIo();
    ShowUsage();
  }
  pair.Size1 = platform::QueryFileSize(pair.File1);
  CheckIo();
  pair.Size2 = platform::QueryFileSize(pair.File2);
  CheckIo();
  if (pair.Size1 == 0 || pair.Size2 == 0) {
    PrintLine("Error: can'not compare empty files");
    CloseInputs();
    ShowUsage();
  }
  if (pair.Size1 != pair.Size2) {
    PrintLine("Warning: file sizes mismatch, take care!");
    comparisonResult.ComparedLength = std::min(pair.Size1, pair.Size2);
  } else {
    comparisonResult.ComparedLength = pair.Size1;
  }
  comparisonResult.Tolerance = 24;
}

std::int32_t ReadBlock(platform::FileHandle file, unsigned char* buffer, std::int32_t count) {
  return platform::ReadFully(file, buffer, count);
}

__attribute__((noinline)) void CloseInputs() {
  CloseInput(inputPair.File1);
  CheckIo();
  CloseInput(inputPair.File2);
  CheckIo();
}

void ReportReadError(std::string_view name) {
  PrintLine("Error reading file ", name);
  CloseInputs();
  EndRun(1);
}

}  // namespace korvella
