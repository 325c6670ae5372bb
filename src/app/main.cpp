// korvella FILE1 FILE2: how alike two files are, as three percentages.
#include "app/command_line.h"
#include "app/failure.h"
#include "engine/engine.h"
#include "input/inputs.h"
#include "report/report.h"

int main(int argc, char** argv) {
  korvella::StartRun();
  korvella::TakeArguments(argc, argv);
  korvella::CheckArguments();
  korvella::OpenInputs();
  korvella::RunComparison();
  korvella::WriteConsoleReport();
  korvella::AppendLogLine();
  korvella::EndRun(0);
}
