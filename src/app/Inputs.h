#pragma once
// Working out the inputs and outputs of a run and converting each input.

#include <cstdint>
#include <string>

#include "codecs/CharsetRegistry.h"

namespace ordana {

// Thrown to end the program with an exit code from deep inside the input
// processing; the entry point catches it and cleans up.
struct ProgramExit {
  int code;
};

// Resolves input and output, processes every input and returns how many
// were processed.
int ProcessInputs();

// A detection-only run (--detect): prints the character set each input (every
// path of the command line, and the list of --files-from) would be read
// as, with `source` auto the set the detection chooses, and converts nothing.
// Returns how many inputs were examined; FailedInputCount tells how many
// could not be read.
int DetectInputs(CharsetId source);

// How many inputs of the last ProcessInputs or DetectInputs failed: not read to their end,
// their output not written, moved or closed, a named input or a pattern's
// directory that does not exist.
int FailedInputCount();

// Converts one input into one output; true when both could be opened and the
// conversion ran to the end.
[[nodiscard]] bool ConvertFile(const std::u16string& inputPath, const std::u16string& outputPath);

// Converts the files of `directory` whose names match `pattern` (and, with
// /r, those of its subdirectories); returns how many were processed.
int WalkDirectory(const std::u16string& directory, const std::u16string& pattern,
                  const std::u16string& outputDirectory, const std::u16string& outputFile);

// Asks string-table question `resourceId` with `text` for its %s until the
// answer is its yes or its no letter; true for yes. The end of the standard
// input answers no.
bool AskYesNo(std::uint32_t resourceId, const std::u16string& text);

}  // namespace ordana
