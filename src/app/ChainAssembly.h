#pragma once
#include <cstdint>

namespace ordana {

class CFilePersistenceFilter;
class CFilterChain;

// The one chain of the program.
CFilterChain& GetFilterChain();

// The persistence filter of the chain, once it is assembled.
CFilePersistenceFilter*& PersistenceFilter();

// Whether the codecs use their fast paths (on unless the entry point turns
// them off, to check that the plain loops give the same results).
void UseFastPaths(bool enabled);

// Builds the filter chain for the two character sets and the settings.
// Returns kExitOk, or the exit code the program must end with.
int AssembleChain(std::uint32_t sourceId, std::uint32_t destinationId);

}  // namespace ordana
