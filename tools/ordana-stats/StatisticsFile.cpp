#include "ordana-stats/StatisticsFile.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "platform/Platform.h"

namespace ordana::stats {
namespace {

constexpr std::uint32_t kFormatRevision = 1;  // header field 12, not read by the detection

// All integers and doubles little-endian, whatever the host.
void PutU32(std::string* out, std::uint32_t value) {
  for (int k = 0; k < 4; ++k) out->push_back(static_cast<char>((value >> (8 * k)) & 0xFF));
}

void PutDouble(std::string* out, double value) {
  std::uint64_t bits = 0;
  static_assert(sizeof bits == sizeof value, "IEEE 754 double expected");
  std::memcpy(&bits, &value, sizeof bits);
  for (int k = 0; k < 8; ++k) out->push_back(static_cast<char>((bits >> (8 * k)) & 0xFF));
}

void PutBlock(std::string* out, std::uint32_t order, const std::vector<Entry>& entries,
              double divisor) {
  out->append("STBL", 4);
  PutU32(out, order);  // not interpreted by the detection; the n-gram length, for readers
  PutU32(out, static_cast<std::uint32_t>(entries.size()));
  for (const Entry& e : entries) {
    PutU32(out, e.key);
    PutDouble(out, e.weight / divisor);
  }
}

}  // namespace

std::string SerializeStatistics(const char (&label)[4], CharsetId charset, const Tables& tables) {
  std::string out;
  out.append("STAT", 4);
  out.append(label, 4);
  PutU32(&out, charset);
  PutU32(&out, kFormatRevision);
  PutBlock(&out, 1, tables.singles, 1.0);
  PutBlock(&out, 2, tables.pairs, kPairMultiplier);
  PutBlock(&out, 3, tables.triples, kTripleMultiplier);
  return out;
}

bool WriteFileAtomically(const std::string& path, const std::string& data, std::string* why) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path target(path);
  if (fs::symlink_status(target, error).type() != fs::file_type::not_found &&
      fs::status(target, error).type() != fs::file_type::regular) {
    *why = "it exists and is not a regular file";
    return false;
  }
  // The temporary is created exclusively beside the target and stays open
  // until it is renamed over it: nobody can slip a link under its name.
  platform::ReplacementFile file;
  if (!platform::CreateReplacementFile(platform::FromNative(path.c_str()).c_str(), false, &file)) {
    *why = "no temporary file can be made beside it";
    return false;
  }
  bool written = true;
  std::size_t done = 0;
  while (written && done < data.size()) {
    std::uint32_t n = 0;
    const std::size_t left = data.size() - done;
    written = platform::WriteFile(file.handle, data.data() + done,
                                  static_cast<std::uint32_t>(std::min<std::size_t>(left, 1u << 20)),
                                  &n) &&
              n != 0;
    done += n;
  }
  if (!written ||
      platform::CommitReplacementFile(&file, nullptr) != platform::CommitResult::kCommitted) {
    platform::DiscardReplacementFile(&file);
    *why = "writing or replacing it failed";
    return false;
  }
  return true;
}

}  // namespace ordana::stats
