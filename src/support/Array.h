#pragma once
// CArray: an array whose storage (a CArrayBlob) is shared between copies and
// copied on the first write through a shared blob. Storage grows to n + n / 2
// when n elements are asked for, so appending one at a time gives the
// capacities 1, 3, 6, 10, 16, 25, ...
//
// The array stores its elements by value and owns nothing they point to.

#include <cstdint>
#include <stdexcept>

#include "support/Lock.h"

namespace ordana {

template <class T, class L = CLock, class I = int>
class CArray : public L {
 public:
  class CArrayBlob : public L {
   public:
    std::uint32_t count = 0;
    std::uint32_t capacity = 0;
    std::uint32_t maximumCapacity = 0;  // 0: unlimited
    T* elements = nullptr;
    std::int32_t referenceCount = 1;

    ~CArrayBlob() override { delete[] elements; }
  };

  explicit CArray(std::uint32_t defaultCapacity = 64, std::uint32_t maximumCapacity = 0)
      : defaultCapacity_(defaultCapacity), maximumCapacity_(maximumCapacity) {}
  CArray(const CArray& other) : L() { Share(other); }
  CArray& operator=(const CArray& other) {
    if (this != &other) {
      Release();
      Share(other);
    }
    return *this;
  }
  ~CArray() override { Release(); }

  // The element array with room for at least n elements, private to this
  // array, for writing.
  T* GetBuffer(std::uint32_t n) {
    if (!blob_) {
      blob_ = new CArrayBlob();
      blob_->capacity = n != 0 ? n : defaultCapacity_;
      blob_->maximumCapacity = maximumCapacity_;
      if (maximumCapacity_ != 0 && blob_->maximumCapacity < n) blob_->maximumCapacity = n;
      blob_->elements = new T[blob_->capacity]();
      return blob_->elements;
    }
    if (blob_->referenceCount > 1) {
      blob_->Lock();
      auto* copy = new CArrayBlob();
      copy->count = blob_->count;
      copy->capacity = blob_->capacity < n ? n : blob_->capacity;
      copy->maximumCapacity = blob_->maximumCapacity;
      copy->elements = new T[copy->capacity]();
      for (std::uint32_t k = 0; k < blob_->count; ++k) copy->elements[k] = blob_->elements[k];
      blob_->Unlock();
      Release();
      blob_ = copy;
    }
    if (blob_->capacity < n) Grow(n);
    return blob_->elements;
  }

  void Append(const T& element) {
    const std::uint32_t count = Count();
    T* elements = GetBuffer(count + 1);
    elements[count] = element;
    ++blob_->count;
  }

  // Element i, for i below Count().
  T& At(std::uint32_t i) { return GetBuffer(i)[i]; }

  std::uint32_t Count() const { return blob_ ? blob_->count : 0; }
  std::uint32_t Capacity() const { return blob_ ? blob_->capacity : 0; }
  // For tests: whether two arrays share their storage.
  const CArrayBlob* Blob() const { return blob_; }

 private:
  void Share(const CArray& other) {
    defaultCapacity_ = other.defaultCapacity_;
    maximumCapacity_ = other.maximumCapacity_;
    blob_ = other.blob_;
    if (blob_) {
      blob_->Lock();
      ++blob_->referenceCount;
      blob_->Unlock();
    }
  }

  void Release() {
    if (!blob_) return;
    blob_->Lock();
    const bool last = --blob_->referenceCount == 0;
    blob_->Unlock();
    if (last) delete blob_;
    blob_ = nullptr;
  }

  void Grow(std::uint32_t n) {
    if (blob_->maximumCapacity != 0 && n > blob_->maximumCapacity) {
      throw std::length_error("array capacity exceeded");
    }
    blob_->Lock();
    const std::uint32_t capacity = n + n / 2;
    T* elements = new T[capacity]();
    for (std::uint32_t k = 0; k < blob_->count; ++k) elements[k] = blob_->elements[k];
    delete[] blob_->elements;
    blob_->elements = elements;
    blob_->capacity = capacity;
    blob_->Unlock();
  }

  std::uint32_t defaultCapacity_;
  std::uint32_t maximumCapacity_;
  CArrayBlob* blob_ = nullptr;
};

}  // namespace ordana
