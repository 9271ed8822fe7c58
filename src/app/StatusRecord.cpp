#include "app/StatusRecord.h"

namespace ordana {

StatusRecord* CurrentStatusRecord() {
  static StatusRecord record{};
  return &record;
}

}  // namespace ordana
