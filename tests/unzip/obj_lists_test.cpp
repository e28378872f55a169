#include "unzip/obj_lists.h"

#include <gtest/gtest.h>

#include <memory>

namespace kalv::unzip {
namespace {

// Counts live objects, so that ownership mistakes show as leaks or double frees.
struct Item {
    static inline int alive = 0;
    explicit Item(int k) : key(k) { ++alive; }
    ~Item() { --alive; }
    int key;
};

class ItemsByKey : public SortedObjectList<Item> {
public:
    ItemsByKey(bool owns, Duplicates d) : SortedObjectList<Item>(owns, d) {}
    int compare(const Item& a, const Item& b) const override { return a.key - b.key; }
};

std::string error_of(const std::function<void()>& f) {
    try {
        f();
    } catch (const ListError& e) {
        return e.what();
    }
    return "(no error)";
}

TEST(ObjectList, CapacityGrowsBy4Then8Then16) {
    ObjectList<Item> list(true);
    std::vector<int> seen;
    for (int i = 0; i < 50; ++i) {
        list.add(new Item(i));
        if (seen.empty() || seen.back() != list.capacity()) seen.push_back(list.capacity());
    }
    EXPECT_EQ(seen, (std::vector<int>{4, 8, 16, 32, 48, 64}));
    list.clear();
    EXPECT_EQ(Item::alive, 0);
    EXPECT_EQ(list.capacity(), 0);
}

TEST(ObjectList, The65521stObjectFailsWithTheListProblem) {
    ObjectList<Item> list(false);
    Item one(0);
    for (int i = 0; i < 65520; ++i) list.add(&one);
    EXPECT_EQ(error_of([&] { list.add(&one); }), kListProblem);
    EXPECT_EQ(list.count(), 65520);
}

TEST(ObjectList, IndexesOutOfRangeFail) {
    ObjectList<Item> list(true);
    list.add(new Item(1));
    EXPECT_EQ(error_of([&] { list.item(1); }), kListProblem);
    EXPECT_EQ(error_of([&] { list.item(-1); }), kListProblem);
    EXPECT_EQ(error_of([&] { list.insert(3, nullptr); }), kListProblem);
    EXPECT_EQ(error_of([&] { list.set_capacity(0); }), kListProblem);  // below the count
    EXPECT_EQ(error_of([&] { list.set_capacity(0xFFFF); }), kListProblem);
}

TEST(ObjectList, NeighbourWalksAndRejectsStrangers) {
    ObjectList<Item> list(true);
    Item* a = new Item(1);
    Item* b = new Item(2);
    list.add(a);
    list.add(b);
    EXPECT_EQ(list.neighbour(a, true), b);
    EXPECT_EQ(list.neighbour(b, false), a);
    EXPECT_EQ(list.neighbour(nullptr, true), a);
    EXPECT_EQ(list.neighbour(nullptr, false), b);
    Item stranger(9);
    EXPECT_EQ(error_of([&] { list.neighbour(&stranger, true); }), "tObject TObject not in item list");
}

TEST(SortedObjectList, DuplicatesModes) {
    {  // 0: the second object with an existing key is ignored (and, owned, freed)
        ItemsByKey list(true, Duplicates::Ignore);
        list.add(new Item(5));
        EXPECT_EQ(list.add(new Item(5)), -1);
        EXPECT_EQ(list.count(), 1);
        EXPECT_EQ(Item::alive, 1);
    }
    {  // 1: both kept, the newer first
        ItemsByKey list(false, Duplicates::Accept);
        Item old_one(5), new_one(5), low(1);
        list.add(&old_one);
        list.add(&low);
        list.add(&new_one);
        ASSERT_EQ(list.count(), 3);
        EXPECT_EQ(list.item(0), &low);
        EXPECT_EQ(list.item(1), &new_one);
        EXPECT_EQ(list.item(2), &old_one);
    }
    {  // 2: a failure, and the refused object does not leak
        ItemsByKey list(true, Duplicates::Error);
        list.add(new Item(5));
        EXPECT_EQ(error_of([&] { list.add(new Item(5)); }), "Duplicate Object index");
        EXPECT_EQ(list.count(), 1);
    }
    EXPECT_EQ(Item::alive, 0);
}

TEST(SortedObjectList, KeepsOrderFindsAndRefusesPut) {
    ItemsByKey list(true, Duplicates::Error);
    for (int k : {7, 3, 9, 1, 5}) list.insert(0, new Item(k));  // the index is ignored
    for (int i = 0; i < list.count(); ++i) EXPECT_EQ(list.item(i)->key, 2 * i + 1);
    Item probe(4);
    int at = -1;
    EXPECT_FALSE(list.find(probe, at));
    EXPECT_EQ(at, 2);  // insertion point between 3 and 5
    probe.key = 9;
    EXPECT_EQ(list.index_of(&probe), 4);
    EXPECT_EQ(error_of([&] { list.put_item(0, &probe); }), "Cannot <Put> an Object in a sorted list!");
}

}  // namespace
}  // namespace kalv::unzip
