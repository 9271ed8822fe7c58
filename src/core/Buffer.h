#pragma once
// CBuffer: the byte buffer that carries data through the pipeline.
//
// A buffer reserves kReservationSize bytes of address space up front, of
// which kCommitSize are usable at once; the rest becomes usable on first
// touch, so a buffer grows in place and its data never changes address
// (only Swap gives a buffer another's storage).
// The data always starts at base(); removing data from the front moves the
// remainder down.
//
// Writers must stay inside the reservation. Every writer in the program
// either goes through Append/Insert, which refuse what does not fit, or
// checks Room() itself before it writes through base(). The page behind
// the reservation is never accessible, so a writer that ignores this
// faults at once instead of corrupting memory.

#include <cstddef>
#include <cstdint>

#include "platform/Platform.h"

namespace ordana {

class CBuffer {
 public:
  static constexpr std::uint32_t kReservationSize = 4u * 1024 * 1024;
  static constexpr std::uint32_t kCommitSize = 2u * 1024 * 1024;

  CBuffer();
  virtual ~CBuffer();
  CBuffer(const CBuffer&) = delete;
  CBuffer& operator=(const CBuffer&) = delete;

  std::uint8_t* base() const { return region_.base; }
  std::uint32_t length() const { return length_; }
  std::uint32_t reservationSize() const { return reservationSize_; }
  std::uint32_t commitSize() const { return commitSize_; }
  bool empty() const { return length_ == 0; }
  // Bytes that can still be written behind the data.
  std::uint32_t Room() const { return reservationSize_ - length_; }
  // False when the reservation could not be made (out of address space).
  bool valid() const { return region_.base != nullptr; }

  // Sets the length after the caller wrote through base(); the new length
  // must not exceed the reservation (it is clamped if it does).
  void SetLength(std::uint32_t length);
  // Removes n bytes from the front; n larger than the length empties it.
  void Discard(std::uint32_t n);
  void Clear() { length_ = 0; }
  // Appends size bytes when they fit; false (and nothing written) when not.
  [[nodiscard]] bool Append(const void* data, std::uint32_t size);
  // Inserts size bytes at the front when they fit; false when not.
  [[nodiscard]] bool Prepend(const void* data, std::uint32_t size);
  // Makes [length, length + size) usable for a direct write and returns its
  // start, or null when it would leave the reservation.
  std::uint8_t* PrepareWrite(std::uint32_t size);
  // Exchanges the two buffers' storage and data (the filter chain hands a
  // whole buffer on this way instead of copying it). A pointer taken into
  // either buffer before points into the other one after.
  void Swap(CBuffer& other);

 private:
  std::uint32_t reservationSize_ = kReservationSize;
  std::uint32_t commitSize_ = kCommitSize;
  std::uint32_t length_ = 0;
  platform::MemoryRegion region_;
};

}  // namespace ordana
