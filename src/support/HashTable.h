#pragma once
// Chained hash containers with a power-of-two bucket count. A set or table
// starts with 1024 buckets and doubles when the inserts since the last
// rehash exceed half the buckets; a rehash re-inserts the nodes bucket by
// bucket, each chain from its first node.

#include <cstdint>

#include "support/Lock.h"

namespace ordana {

// Robert Jenkins' 32-bit integer hash.
class CDefaultHash {
 public:
  static std::uint32_t Hash(std::uint32_t a) {
    a = (a + 0x7ed55d16u) + (a << 12);
    a = (a ^ 0xc761c23cu) ^ (a >> 19);
    a = (a + 0x165667b1u) + (a << 5);
    a = (a + 0xd3a2646cu) ^ (a << 9);
    a = (a + 0xfd7046c5u) + (a << 3);
    a = (a ^ 0xb55a4f09u) ^ (a >> 16);
    return a;
  }
};

template <class K, class H = CDefaultHash, class L = CLock>
class CHashSet : public L, public H {
 public:
  static constexpr std::uint32_t kInitialBuckets = 1024;

  CHashSet() : buckets_(AllocateBuckets(kInitialBuckets)) {}
  CHashSet(const CHashSet&) = delete;
  CHashSet& operator=(const CHashSet&) = delete;
  ~CHashSet() override {
    Clear();
    delete[] buckets_;
  }

  void Insert(const K& key) { InsertNode(key); }
  bool Contains(const K& key) const { return FindNode(key) != nullptr; }

  // Frees every node; the bucket count stays.
  void Clear() {
    for (std::uint32_t b = 0; b < bucketCount_; ++b) {
      Node* node = buckets_[b];
      while (node) {
        Node* next = node->next;
        delete node;
        node = next;
      }
      buckets_[b] = nullptr;
    }
    chainedCount_ = 0;
    insertCount_ = 0;
  }

  std::uint32_t BucketCount() const { return bucketCount_; }
  std::uint32_t InsertCount() const { return insertCount_; }
  std::uint32_t ChainedCount() const { return chainedCount_; }
  // Number of keys held.
  std::uint32_t Size() const {
    std::uint32_t n = 0;
    for (std::uint32_t b = 0; b < bucketCount_; ++b) {
      for (Node* node = buckets_[b]; node; node = node->next) ++n;
    }
    return n;
  }

 protected:
  struct Node {
    explicit Node(const K& k) : key(k) {}
    virtual ~Node() = default;
    Node* next = nullptr;
    K key;
  };

  virtual Node* NewNode(const K& key) { return new Node(key); }
  // Adds the key (and in a table the value) of `node`; used by the rehash.
  virtual void Reinsert(Node* node) { InsertNode(node->key); }
  virtual Node** AllocateBuckets(std::uint32_t n) { return new Node*[n](); }

  std::uint32_t BucketOf(const K& key) const {
    return H::Hash(static_cast<std::uint32_t>(key)) & (bucketCount_ - 1);
  }

  Node* FindNode(const K& key) const {
    for (Node* node = buckets_[BucketOf(key)]; node; node = node->next) {
      if (node->key == key) return node;
    }
    return nullptr;
  }

  // Finds or adds the node of `key`, counting the insert, and grows the
  // table when it is more than half full. Returns the node.
  Node* InsertNode(const K& key) {
    ++insertCount_;
    Node*& first = buckets_[BucketOf(key)];
    Node* result;
    if (!first) {
      first = NewNode(key);
      result = first;
    } else {
      Node* node = first;
      while (node->key != key && node->next) node = node->next;
      if (node->key == key) {
        result = node;
      } else {
        node->next = NewNode(key);
        result = node->next;
      }
      ++chainedCount_;
    }
    if (insertCount_ > bucketCount_ / 2) {
      // The node survives only as a copy: callers look the key up again.
      Rehash(bucketCount_ * 2);
      return nullptr;
    }
    return result;
  }

  void Rehash(std::uint32_t n) {
    Node** old = buckets_;
    const std::uint32_t oldCount = bucketCount_;
    chainedCount_ = 0;
    insertCount_ = 0;
    bucketCount_ = n;
    buckets_ = AllocateBuckets(n);
    for (std::uint32_t b = 0; b < oldCount; ++b) {
      Node* node = old[b];
      while (node) {
        Node* next = node->next;
        Reinsert(node);
        delete node;
        node = next;
      }
    }
    delete[] old;
  }

  std::uint32_t bucketCount_ = kInitialBuckets;
  std::uint32_t chainedCount_ = 0;
  std::uint32_t insertCount_ = 0;
  Node** buckets_;
};

template <class K, class V, class H = CDefaultHash, class L = CLock>
class CHashTable : public CHashSet<K, H, L> {
  using Base = CHashSet<K, H, L>;
  using typename Base::Node;

 public:
  // Sets the value of `key`, adding the key when it is new.
  void Insert(const K& key, const V& value) {
    ValueNode* node = static_cast<ValueNode*>(this->InsertNode(key));
    if (!node) node = static_cast<ValueNode*>(this->FindNode(key));
    node->value = value;
  }

  // The value of `key`; a missing key is added with a zero value first.
  V& GetOrInsert(const K& key) {
    Node* node = this->FindNode(key);
    if (!node) {
      Insert(key, V());
      node = this->FindNode(key);
    }
    return static_cast<ValueNode*>(node)->value;
  }

  // The value of `key`, or null; never adds the key.
  const V* Find(const K& key) const {
    const Node* node = this->FindNode(key);
    return node ? &static_cast<const ValueNode*>(node)->value : nullptr;
  }

 protected:
  struct ValueNode : Node {
    explicit ValueNode(const K& k) : Node(k) {}
    V value{};
  };

  Node* NewNode(const K& key) override { return new ValueNode(key); }
  void Reinsert(Node* node) override { Insert(node->key, static_cast<ValueNode*>(node)->value); }
};

}  // namespace ordana
