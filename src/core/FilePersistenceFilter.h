#pragma once
// The last filter of every chain: writes what reaches it to the output
// stream.

#include "core/File.h"
#include "core/Filter.h"

namespace ordana {

class CFilePersistenceFilter : public CFilter {
 public:
  CFilePersistenceFilter();
  ~CFilePersistenceFilter() override;

  bool Process(CBuffer& input) override;
  std::int32_t Filter() override;
  bool Flush(CBuffer& target) override;
  // With keep-open set, does nothing at all, so the output outlives the end
  // of a conversion; otherwise resets and closes the output.
  bool Reset() override;

  CFile& stream() { return stream_; }
  bool keepOpen() const { return keepOpen_; }
  void SetKeepOpen(bool keepOpen) { keepOpen_ = keepOpen; }

  // The first write or final flush error since the driver last cleared it
  // (0: none). It survives Reset, so the driver can still see it after the
  // conversion has closed the output: a short write loses data, and such an
  // output must not be taken for a finished conversion.
  platform::ErrorCode writeError() const { return writeError_; }
  void ClearWriteError() { writeError_ = 0; }

 private:
  void WriteOut(const CBuffer& data);

  CFile stream_;
  bool keepOpen_ = false;
  platform::ErrorCode writeError_ = 0;
};

}  // namespace ordana
