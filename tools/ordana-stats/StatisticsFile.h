#pragma once
// Writing a statistics file: "STAT", the label, the set's id, a revision, then
// the blocks of single bytes, pairs and triples ("STBL", the n-gram length,
// the entry count, and each entry's key and weight), all integers and doubles
// little-endian whatever the host. The weights of pairs and triples are
// stored divided by the detection's multipliers, which it multiplies back.

#include <string>

#include "codecs/CharsetRegistry.h"
#include "ordana-stats/Model.h"

namespace ordana::stats {

// The bytes of the statistics file for `tables`.
std::string SerializeStatistics(const char (&label)[4], CharsetId charset, const Tables& tables);

// Writes `data` to `path` through a new temporary file beside it, which
// replaces `path` only once it is complete, so a failed run never leaves
// half a file. Only a regular file is ever replaced: when something else
// stands under `path` (a directory, a device, a FIFO, a dangling link) the
// file is not written and `why` says so.
bool WriteFileAtomically(const std::string& path, const std::string& data, std::string* why);

}  // namespace ordana::stats
