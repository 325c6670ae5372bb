#include "process/command_line.h"

#include <cstring>

namespace korvella {
namespace {

int argumentCount = -1;
const char* const* argumentVector = nullptr;
// The split command line, where the system gave one string.
std::vector<std::string> splitTokens;
std::vector<const char*> splitVector;

bool IsSeparator(unsigned char byte) { return byte >= 1 && byte <= 32; }

}  // namespace

void TakeArguments(const platform::ProcessArguments& arguments) {
  if (arguments.commandLine == nullptr) {
    argumentCount = arguments.argc - 1;
    argumentVector = arguments.argv;
    return;
  }
  splitTokens = SplitCommandLine(arguments.commandLine);
  splitVector.clear();
  for (const auto& token : splitTokens) splitVector.push_back(token.c_str());
  argumentCount = static_cast<int>(splitTokens.size()) - 1;
  argumentVector = splitVector.data();
}

int ArgumentCount() { return argumentCount; }

std::string_view Argument(int n) {
  if (n < 1 || n > argumentCount) return {};
  const char* const text = argumentVector[n];
  return {text, strnlen(text, kMaxNameLength)};
}

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
  // A zero byte ends the command line wherever it stands.
  commandLine = commandLine.substr(0, commandLine.find('\0'));
  std::vector<std::string> tokens;
  std::size_t at = 0;
  for (;;) {
    while (at < commandLine.size() && IsSeparator(static_cast<unsigned char>(commandLine[at]))) {
      ++at;
    }
    if (at == commandLine.size()) return tokens;
    std::string token;
    bool quoting = false;
    while (at < commandLine.size()) {
      const auto byte = static_cast<unsigned char>(commandLine[at]);
      if (IsSeparator(byte) && !quoting) break;
      if (byte == '"') {
        if (at + 1 < commandLine.size() && commandLine[at + 1] == '"') {
          at += 2;
          continue;
        }
        quoting = !quoting;
      } else {
        token.push_back(static_cast<char>(byte));
      }
      ++at;
    }
    tokens.push_back(std::move(token));
  }
}

}  // namespace korvella
