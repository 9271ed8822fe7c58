#include "core/Buffer.h"

#include <cstring>
#include <new>
#include <utility>

namespace ordana {

CBuffer::CBuffer() {
  if (!platform::ReserveRegion(kReservationSize, kCommitSize, &region_)) {
    // Nothing can work without the buffer; the chain assembly turns this
    // into its out-of-memory exit.
    throw std::bad_alloc();
  }
}

CBuffer::~CBuffer() { platform::ReleaseRegion(&region_); }

void CBuffer::SetLength(std::uint32_t length) {
  length_ = length <= reservationSize_ ? length : reservationSize_;
}

void CBuffer::Discard(std::uint32_t n) {
  if (n >= length_) {
    length_ = 0;
    return;
  }
  std::memmove(region_.base, region_.base + n, length_ - n);
  length_ -= n;
}

bool CBuffer::Append(const void* data, std::uint32_t size) {
  std::uint8_t* target = PrepareWrite(size);
  if (!target) return false;
  if (size) std::memcpy(target, data, size);
  length_ += size;
  return true;
}

bool CBuffer::Prepend(const void* data, std::uint32_t size) {
  if (size > Room() || !PrepareWrite(size)) return false;
  if (size == 0) return true;
  std::memmove(region_.base + size, region_.base, length_);
  std::memcpy(region_.base, data, size);
  length_ += size;
  return true;
}

std::uint8_t* CBuffer::PrepareWrite(std::uint32_t size) {
  if (size > Room()) return nullptr;
  if (!platform::CommitRange(&region_, length_, size)) return nullptr;
  return region_.base + length_;
}

void CBuffer::Swap(CBuffer& other) {
  std::swap(reservationSize_, other.reservationSize_);
  std::swap(commitSize_, other.commitSize_);
  std::swap(length_, other.length_);
  std::swap(region_, other.region_);
}

}  // namespace ordana
