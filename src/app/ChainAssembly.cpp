#include "app/ChainAssembly.h"

#include <memory>
#include <new>

#include "app/Settings.h"
#include "codecs/CharsetRegistry.h"
#include "codecs/SingleByteFilters.h"
#include "codecs/Utf16Filters.h"
#include "codecs/Utf32Filters.h"
#include "codecs/Utf8Filters.h"
#include "core/FilePersistenceFilter.h"
#include "core/Filter.h"
#include "core/MessageLog.h"
#include "core/StringTable.h"
#include "detection/AutoDetectionInputFilter.h"
#include "transforms/HtmlEntityDecodeFilter.h"
#include "transforms/HtmlEntityEncodeFilter.h"
#include "transforms/LineTransformFilter.h"
#include "transforms/XmlFilter.h"

namespace ordana {

CFilePersistenceFilter*& PersistenceFilter() {
  static CFilePersistenceFilter* filter = nullptr;
  return filter;
}

namespace {

// Appends a freshly made filter; an allocation failure unwinds to the caller.
template <class F, class... Args>
F* AppendNew(CFilterChain& chain, Args&&... args) {
  auto filter = std::make_unique<F>(std::forward<Args>(args)...);
  chain.Append(filter.get());
  return filter.release();
}

bool fastPaths = true;

// The options every codec is built with: the policy and the byte order mark
// of the command line.
CodecOptions OptionsFromSettings() {
  CodecOptions options;
  options.strict = GetSettings().strictPolicy;
  options.writeBom = GetSettings().writeBom;
  options.fastPaths = fastPaths;
  return options;
}

// Every source id has a decoder: the name lookup gives no other ids, and a
// name it does not know is refused before the chain is built (exit code 1).
void AppendDecoder(CFilterChain& chain, CharsetId id) {
  const CodecOptions options = OptionsFromSettings();
  if (id < static_cast<CharsetId>(kSingleByteCharsetCount)) {
    AppendNew<CSingleByteToUtf16Filter>(chain, id, options);
    return;
  }
  switch (id) {
    case kCharsetUtf8:
      AppendNew<CUtf8ToUtf16Filter>(chain, options);
      return;
    case kCharsetUtf16:
    case kCharsetUtf16Be:
      AppendNew<CUtf16ToUtf16InputFilter>(chain, id == kCharsetUtf16Be, options);
      return;
    case kCharsetUtf32:
    case kCharsetUtf32Be:
      AppendNew<CUtf32ToUtf16Filter>(chain, id == kCharsetUtf32Be, options);
      return;
    default:  // kCharsetAuto
      // The placeholder behind the detection is where the detected decoder
      // goes.
      AppendNew<CAutoDetectionInputFilter>(chain, options);
      AppendNew<CNulFilter>(chain);
      return;
  }
}

int AppendTransforms(CFilterChain& chain) {
  Settings& settings = GetSettings();
  if (settings.eolRequested) {
    const int mode = settings.eolMode == EolMode::kMac    ? CLineTransformFilter::kModeMac
                     : settings.eolMode == EolMode::kUnix ? CLineTransformFilter::kModeUnix
                                                          : CLineTransformFilter::kModeDos;
    AppendNew<CLineTransformFilter>(chain, mode);
  }
  if (settings.modifyXmlDeclaration) {
    // The name as the lookup left it; the settings live until the program
    // ends, so the filter keeps a pointer to them.
    AppendNew<CXmlFilter>(chain, settings.destinationCharsetName);
  }
  if (settings.htmlEntityMode == 1) {
    AppendNew<CHtmlEntityEncodeFilter>(chain, settings.modifyXmlDeclaration);
  } else if (settings.htmlEntityMode == 2) {
    AppendNew<CHtmlEntityDecodeFilter>(chain);
  }
  return kExitOk;
}

int AppendEncoder(CFilterChain& chain, CharsetId id) {
  const CodecOptions options = OptionsFromSettings();
  if (id < static_cast<CharsetId>(kSingleByteCharsetCount)) {
    AppendNew<CUtf16ToSingleByteFilter>(chain, id, options);
    return kExitOk;
  }
  switch (id) {
    case kCharsetUtf8:
      AppendNew<CUtf16ToUtf8Filter>(chain, options);
      return kExitOk;
    case kCharsetUtf16:
    case kCharsetUtf16Be:
      AppendNew<CUtf16ToUtf16OutputFilter>(chain, id == kCharsetUtf16Be, options);
      return kExitOk;
    case kCharsetUtf32:
    case kCharsetUtf32Be:
      AppendNew<CUtf16ToUtf32Filter>(chain, id == kCharsetUtf32Be, options);
      return kExitOk;
    default:  // "auto" among them: detection is for sources only
      LogResourceMessage(kLevelNormal, MessageKind::kRepaired, kStringUnknownDestinationId, id);
      return kExitUnknownDestination;
  }
}

}  // namespace

CFilterChain& GetFilterChain() {
  // Lives until the process ends and deletes its filters then.
  static CFilterChain chain;
  return chain;
}

void UseFastPaths(bool enabled) { fastPaths = enabled; }

int AssembleChain(CharsetId sourceId, CharsetId destinationId) {
  CFilterChain& chain = GetFilterChain();
  try {
    AppendDecoder(chain, sourceId);
    int result = AppendTransforms(chain);
    if (result == kExitOk) result = AppendEncoder(chain, destinationId);
    if (result != kExitOk) return result;
    PersistenceFilter() = AppendNew<CFilePersistenceFilter>(chain);
  } catch (const std::bad_alloc&) {
    LogResourceMessage(kLevelNormal, MessageKind::kFailure, kStringOutOfMemory, "wmain", 660);
    return kExitOutOfMemory;
  }
  return kExitOk;
}

}  // namespace ordana
