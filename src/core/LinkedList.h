#pragma once
// Intrusive doubly linked list. A node knows the list it is in; deleting a
// node unlinks it first, and a list that owns its nodes deletes those still
// linked when it is destroyed.

#include <cstdint>

namespace ordana {

template <class T>
class CLinkedList;

template <class T>
class CLinkedListNode {
 public:
  CLinkedListNode() = default;
  CLinkedListNode(const CLinkedListNode&) = delete;
  CLinkedListNode& operator=(const CLinkedListNode&) = delete;
  virtual ~CLinkedListNode() {
    if (list_) list_->Remove(this);
  }

  virtual CLinkedListNode* GetNext() const { return next_; }
  virtual CLinkedListNode* GetPrevious() const { return previous_; }
  virtual T GetValue() const { return value_; }
  virtual void SetValue(T value) { value_ = value; }
  virtual CLinkedList<T>* GetList() const { return list_; }
  // Takes the node out of its list; null when it was in none.
  virtual CLinkedListNode* Detach() { return list_ ? list_->Remove(this) : nullptr; }
  // Links `node` into this node's list just before this node. This node
  // must be in a list; a node that is in another list is taken out first.
  virtual CLinkedListNode* InsertBefore(CLinkedListNode* node) {
    if (!node || !list_ || node == this) return nullptr;
    if (node->list_) node->list_->Remove(node);
    node->list_ = list_;
    node->previous_ = previous_;
    node->next_ = this;
    if (previous_) {
      previous_->next_ = node;
    } else {
      list_->head_ = node;
    }
    previous_ = node;
    ++list_->count_;
    return node;
  }
  virtual void Release() { delete this; }

 private:
  friend class CLinkedList<T>;
  CLinkedList<T>* list_ = nullptr;
  CLinkedListNode* previous_ = nullptr;
  CLinkedListNode* next_ = nullptr;
  T value_{};
};

template <class T>
class CLinkedList {
 public:
  using Node = CLinkedListNode<T>;

  explicit CLinkedList(bool ownsNodes = true) : ownsNodes_(ownsNodes) {}
  CLinkedList(const CLinkedList&) = delete;
  CLinkedList& operator=(const CLinkedList&) = delete;
  virtual ~CLinkedList() { Clear(); }

  // Deletes (owning list) or unlinks every node.
  void Clear() {
    while (head_) {
      if (ownsNodes_) {
        delete head_;  // the node's destructor unlinks it
      } else {
        Remove(head_);
      }
    }
  }

  Node* Append(Node* node) {
    if (!node) return nullptr;
    if (node->list_) node->list_->Remove(node);
    node->list_ = this;
    node->previous_ = tail_;
    node->next_ = nullptr;
    if (tail_) {
      tail_->next_ = node;
    } else {
      head_ = node;
    }
    tail_ = node;
    ++count_;
    return node;
  }

  // Unlinks `node`; its own links are left as they were.
  Node* Remove(Node* node) {
    if (!node || node->list_ != this) return nullptr;
    if (node->previous_) {
      node->previous_->next_ = node->next_;
    } else {
      head_ = node->next_;
    }
    if (node->next_) {
      node->next_->previous_ = node->previous_;
    } else {
      tail_ = node->previous_;
    }
    --count_;
    node->list_ = nullptr;
    return node;
  }

  Node* head() const { return head_; }
  Node* tail() const { return tail_; }
  std::uint32_t count() const { return count_; }
  bool ownsNodes() const { return ownsNodes_; }

 private:
  friend class CLinkedListNode<T>;
  Node* head_ = nullptr;
  Node* tail_ = nullptr;
  std::uint32_t count_ = 0;
  bool ownsNodes_;
};

}  // namespace ordana
