// korvella FILE1 FILE2: how alike two files are, as three percentages.
#include "input/inputs.h"
#include "input/read_loop.h"
#include "platform/platform.h"
#include "process/command_line.h"
#include "process/failure.h"
#include "report/report.h"

int main(int argc, char** argv) {
  korvella::StartRun();
  korvella::TakeArguments(korvella::platform::TakeProcessArguments(argc, argv));
  korvella::CheckArguments();
  korvella::OpenInputs();
  korvella::RunComparison();
  korvella::WriteConsoleReport();
  korvella::AppendLogLine();
  korvella::EndRun(0);
}
