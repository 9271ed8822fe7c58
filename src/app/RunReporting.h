#pragma once
// The application's side of a conversion run: the status record that
// ordana-watch follows and the line of the CSV report.

#include "core/ConversionRun.h"

namespace ordana {

struct StatusRecord;

class StatusReportingObserver : public ConversionObserver {
 public:
  void Opened(const std::u16string& path, std::uint64_t size) override;
  void Converting(std::uint64_t offset) override;
  void ChainFinished(const CFilterChain& chain) override;
  void Done() override;

 private:
  // Chosen when the input is opened: the status channel is opened on the
  // first conversion; without a shared record this is a local one that
  // publishes nothing.
  StatusRecord* record_ = nullptr;
};

}  // namespace ordana
