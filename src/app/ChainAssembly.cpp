#include "app/ChainAssembly.h"

#include <memory>
#include <new>

#include "app/MessageLog.h"
#include "app/Settings.h"
#include "core/FilePersistenceFilter.h"
#include "core/Filter.h"

namespace ordana {

CFilePersistenceFilter*& PersistenceFilter() {
  static CFilePersistenceFilter* filter = nullptr;
  return filter;
}

int AssembleChain(std::uint32_t /*sourceId*/, std::uint32_t /*destinationId*/) {
  CFilterChain& chain = GetFilterChain();
  try {
    // Until the codecs are in, every conversion is a byte copy.
    chain.Append(std::make_unique<CNulFilter>().release());
    auto persistence = std::make_unique<CFilePersistenceFilter>();
    PersistenceFilter() = persistence.get();
    chain.Append(persistence.release());
  } catch (const std::bad_alloc&) {
    LogMessage(1, 2, u"Memory allocation error in %S:%d\r\n", "wmain", 660);
    return kExitOutOfMemory;
  }
  return kExitOk;
}

}  // namespace ordana
