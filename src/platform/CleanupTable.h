#pragma once
// The slot bookkeeping shared by both backends of the clean-up table (see
// Platform.h). Each slot changes hands through one lock-free atomic state
// word, so a signal handler (POSIX) or the console control thread (Windows)
// emptying the table never sees half an entry and never removes one twice.

#include <atomic>

#include "platform/Platform.h"

namespace ordana::platform::cleanup {

enum SlotState : int { kFree = 0, kFilling = 1, kRegistered = 2, kRemoving = 3 };

static_assert(std::atomic<int>::is_always_lock_free,
              "the state word must be usable in a signal handler");

// `Entry` holds what a backend needs to remove one thing; `fill` copies it
// in and returns false when it does not fit.
template <class Entry, int kSlots>
class Table {
 public:
  template <class Fill>
  CleanupToken Register(Fill fill) {
    for (int k = 0; k < kSlots; ++k) {
      int expected = kFree;
      if (!states_[k].compare_exchange_strong(expected, kFilling)) continue;
      if (!fill(entries_[k])) {
        states_[k].store(kFree);
        return kNoCleanup;
      }
      states_[k].store(kRegistered);
      return k;
    }
    return kNoCleanup;
  }

  void Withdraw(CleanupToken token) {
    if (token < 0 || token >= kSlots) return;
    int expected = kRegistered;
    // A slot that is being emptied right now stays with its remover.
    states_[token].compare_exchange_strong(expected, kFree);
  }

  template <class Remove>
  void RemoveAll(Remove remove) {
    for (int k = 0; k < kSlots; ++k) {
      int expected = kRegistered;
      if (!states_[k].compare_exchange_strong(expected, kRemoving)) continue;
      remove(entries_[k]);
      states_[k].store(kFree);
    }
  }

 private:
  std::atomic<int> states_[kSlots] = {};
  Entry entries_[kSlots];
};

// The temporary file, four channel names, and room for a second channel.
constexpr int kCleanupSlots = 12;

}  // namespace ordana::platform::cleanup
