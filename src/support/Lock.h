#pragma once
// The lock policy of the containers. The program is single-threaded, so this
// policy does nothing; it marks where a threaded policy would lock.

namespace ordana {

class CLock {
 public:
  virtual ~CLock() = default;
  virtual void Lock() {}
  virtual bool TryLock() { return true; }
  virtual void Unlock() {}
};

}  // namespace ordana
