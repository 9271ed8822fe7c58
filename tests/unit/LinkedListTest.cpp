#include <gtest/gtest.h>

#include <vector>

#include "core/LinkedList.h"

namespace ordana {
namespace {

using Node = CLinkedListNode<int>;
using List = CLinkedList<int>;

Node* MakeNode(int value) {
  Node* node = new Node();
  node->SetValue(value);
  return node;
}

std::vector<int> Forward(const List& list) {
  std::vector<int> values;
  for (Node* n = list.head(); n; n = n->GetNext()) values.push_back(n->GetValue());
  return values;
}

std::vector<int> Backward(const List& list) {
  std::vector<int> values;
  for (Node* n = list.tail(); n; n = n->GetPrevious()) values.push_back(n->GetValue());
  return values;
}

TEST(LinkedListTest, AppendKeepsOrderAndCount) {
  List list;
  EXPECT_EQ(list.Append(nullptr), nullptr);
  for (int v : {1, 2, 3}) list.Append(MakeNode(v));
  EXPECT_EQ(Forward(list), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(Backward(list), (std::vector<int>{3, 2, 1}));
  EXPECT_EQ(list.count(), 3u);
  EXPECT_EQ(list.head()->GetList(), &list);
}

TEST(LinkedListTest, RemoveHeadMiddleTailAndOnly) {
  struct Step {
    int removeIndex;
    std::vector<int> remaining;
  };
  const Step steps[] = {{0, {2, 3, 4}}, {1, {2, 4}}, {1, {2}}, {0, {}}};
  List list(false);
  Node nodes[4];
  for (int k = 0; k < 4; ++k) {
    nodes[k].SetValue(k + 1);
    list.Append(&nodes[k]);
  }
  for (const Step& step : steps) {
    Node* victim = list.head();
    for (int k = 0; k < step.removeIndex; ++k) victim = victim->GetNext();
    EXPECT_EQ(list.Remove(victim), victim);
    EXPECT_EQ(victim->GetList(), nullptr);
    EXPECT_EQ(Forward(list), step.remaining);
    std::vector<int> reversed(step.remaining.rbegin(), step.remaining.rend());
    EXPECT_EQ(Backward(list), reversed);
    EXPECT_EQ(list.count(), step.remaining.size());
  }
  EXPECT_EQ(list.head(), nullptr);
  EXPECT_EQ(list.tail(), nullptr);
  EXPECT_EQ(list.Remove(&nodes[0]), nullptr);  // in no list: nothing happens
  EXPECT_EQ(list.Remove(nullptr), nullptr);
}

TEST(LinkedListTest, InsertBeforeHeadAndMiddle) {
  List list;
  Node* b = list.Append(MakeNode(2));
  Node* d = list.Append(MakeNode(4));
  EXPECT_EQ(b->InsertBefore(MakeNode(1))->GetValue(), 1);
  EXPECT_EQ(list.head()->GetValue(), 1);
  EXPECT_EQ(list.head()->GetPrevious(), nullptr);
  d->InsertBefore(MakeNode(3));
  EXPECT_EQ(Forward(list), (std::vector<int>{1, 2, 3, 4}));
  EXPECT_EQ(Backward(list), (std::vector<int>{4, 3, 2, 1}));
  EXPECT_EQ(list.count(), 4u);
  EXPECT_EQ(b->InsertBefore(nullptr), nullptr);
  Node loose, other;
  EXPECT_EQ(loose.InsertBefore(&other), nullptr);  // not in a list
  EXPECT_EQ(other.GetList(), nullptr);
}

TEST(LinkedListTest, DeletingANodeUnlinksItAndTheListDeletesTheRest) {
  List list;
  list.Append(MakeNode(1));
  Node* middle = list.Append(MakeNode(2));
  list.Append(MakeNode(3));
  delete middle;
  EXPECT_EQ(Forward(list), (std::vector<int>{1, 3}));
  Node* detached = list.head()->Detach();
  EXPECT_EQ(detached->GetValue(), 1);
  EXPECT_EQ(detached->Detach(), nullptr);
  delete detached;
  EXPECT_EQ(list.count(), 1u);
  // The owning list deletes node 3 when it goes; LeakSanitizer would notice.
}

}  // namespace
}  // namespace ordana
