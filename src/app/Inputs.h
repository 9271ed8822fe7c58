#pragma once
// Working out the inputs and outputs of a run and converting each input.

#include <string>

namespace ordana {

// Thrown to end the program with an exit code from deep inside the input
// processing; the entry point catches it and cleans up.
struct ProgramExit {
  int code;
};

// Resolves input and output, processes every input and returns how many
// were processed.
int ProcessInputs();

// Converts one input into one output; true when both could be opened and the
// conversion ran to the end.
bool ConvertFile(const std::u16string& inputPath, const std::u16string& outputPath);

}  // namespace ordana
