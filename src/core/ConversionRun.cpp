#include "core/ConversionRun.h"

#include "core/Buffer.h"
#include "core/File.h"
#include "core/FilePersistenceFilter.h"
#include "core/Filter.h"
#include "core/MessageLog.h"
#include "core/StringTable.h"

namespace ordana {

std::u16string FormatElapsed(std::uint32_t d) {
  auto text = [](std::uint32_t id, double value) {
    const char16_t* format = LoadResourceString(id);
    return format ? Format(format, value) : std::u16string();
  };
  if (d > 60000) return text(kStringElapsedMinutes, d / 60000.0);
  if (d > 1000) return text(kStringElapsedSeconds, d / 1000.0);
  return text(kStringElapsedMilliseconds, static_cast<double>(d));
}

namespace {

// The chain's output stage, whose write errors end the reading.
const CFilePersistenceFilter* FindPersistence(const CFilterChain& chain) {
  for (CFilter* f = chain.First(); f; f = f->NextFilter()) {
    if (auto* persistence = dynamic_cast<CFilePersistenceFilter*>(f)) return persistence;
  }
  return nullptr;
}

// Sends on what the filters still hold and closes the conversion. False
// when a flush or finish failed (pending input that could not be put in
// front of the output): text was lost, as with a failed Process.
bool FinishChain(CFilterChain& chain) {
  const bool flushed = chain.Flush();
  const bool finished = chain.Finish();
  return flushed && finished;
}

// The elapsed time is the program's own text with its line end: written as
// it is, not escaped like a path.
void LogElapsed(std::uint32_t milliseconds) {
  if (!GetMessageLog() || !GetMessageLog()->Enabled(kLevelDetails)) return;
  if (const char16_t* format = LoadResourceString(kStringRequiredTime)) {
    LogOwnText(kLevelDetails, MessageKind::kInformation,
               Format(format, FormatElapsed(milliseconds)).c_str());
  }
}

}  // namespace

bool RunConversion(CFilterChain& chain, CFile& input, ConversionObserver* observer,
                   ConversionOutcome* outcome) {
  ConversionOutcome local;
  if (!outcome) outcome = &local;
  *outcome = ConversionOutcome();

  // A pipe or a device has no size (no error of the input): announced as 0.
  std::uint64_t size = 0;
  if (!platform::GetFileSize(input.handle(), &size)) size = 0;
  const std::u16string& path = input.path();
  if (observer) observer->Opened(path, size);

  CBuffer chunk;
  const std::uint32_t startTick = platform::GetTickCount();
  LogMessage(kLevelNormal, MessageKind::kInformation, u"%s\r\n", path);

  const CFilePersistenceFilter* persistence = FindPersistence(chain);
  bool result = true;
  for (;;) {
    // The offset of the chunk is what was read so far: a pipe or a device
    // has no file position to ask for.
    const std::uint64_t position = outcome->bytesRead;
    if (observer) observer->Converting(position);
    chunk.Clear();
    const std::uint32_t count = input.Read(chunk);
    outcome->bytesRead += count;
    if (!chunk.empty() && !chain.Process(chunk, position)) {
      result = false;
      outcome->chainError = true;
    }
    if (count == 0) {
      // A failed read is not the end of the input.
      if (!input.AtEnd()) outcome->readError = input.lastError();
      break;
    }
    if (persistence && persistence->writeError() != 0) {
      outcome->outputFailed = true;
      break;
    }
  }

  if (!FinishChain(chain)) {
    result = false;
    outcome->chainError = true;
  }
  if (observer) observer->ChainFinished(chain);
  chain.Reset();

  const std::uint32_t endTick = platform::GetTickCount();
  if (observer) observer->Done();
  LogElapsed(endTick - startTick);
  if (persistence && persistence->writeError() != 0) outcome->outputFailed = true;
  return result && outcome->readError == 0 && !outcome->outputFailed;
}

}  // namespace ordana
