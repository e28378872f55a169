#include "unzip/obj_lists.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "failure.h"

namespace kalv::unzip {
namespace {

// Counts live objects, so that ownership mistakes show as leaks or double frees.
struct Item {
    static inline int alive = 0;
    explicit Item(int k) : key(k) { ++alive; }
    ~Item() { --alive; }
    int key;

    // The list's persistence stores an item as its key, one byte.
    void save(BufferedStream& out) const {
        const char byte = char(key);
        out.write(&byte, 1);
    }
    static Item* load(BufferedStream& in) {
        char byte = 0;
        if (in.read(&byte, 1) != 1) throw StreamError("Stream read error");
        return new Item(byte);
    }
};

// A file in memory under a buffered stream, for the lists' persistence.
class MemoryFile : public platform::FileHandle {
public:
    explicit MemoryFile(std::string& bytes) : bytes_(bytes) {}
    size_t read(void* buffer, size_t n) override {
        n = std::min(n, bytes_.size() - at_);
        std::memcpy(buffer, bytes_.data() + at_, n);
        at_ += n;
        return n;
    }
    size_t write(const void* buffer, size_t n) override {
        bytes_.append(static_cast<const char*>(buffer), n);
        return n;
    }
    int64_t seek(int64_t offset, platform::SeekOrigin) override { return offset == 0 ? int64_t(at_) : -1; }
    int64_t size() override { return int64_t(bytes_.size()); }
    bool sync() override { return true; }

private:
    std::string& bytes_;
    size_t at_ = 0;
};

template <class List>
std::string saved(const List& list) {
    std::string bytes;
    {
        BufferedStream out(std::make_unique<MemoryFile>(bytes));
        list.save_items(out);
    }
    return bytes;
}

template <class List>
void load(List& list, std::string bytes) {
    BufferedStream in(std::make_unique<MemoryFile>(bytes));
    list.load_items(in);
}

class ItemsByKey : public SortedObjectList<Item> {
public:
    ItemsByKey(bool owns, Duplicates d) : SortedObjectList<Item>(owns, d) {}
    int compare(const Item& a, const Item& b) const override { return a.key - b.key; }
};

std::string error_of(const std::function<void()>& f) { return testing::failure_of<ListError>(f); }

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

TEST(ObjectListPersistence, SavesCountAndPlacesAndLoadsThemBackInOrder) {
    {
        ObjectList<Item> list(true);
        list.add(new Item(3));
        list.add(nullptr);
        list.add(new Item(1));
        const std::string bytes = saved(list);
        EXPECT_EQ(bytes, std::string("\x03\x00\x00\x00" "\x01\x03" "\x00" "\x01\x01", 9)) << "count, then places";
        ObjectList<Item> copy(true);
        copy.add(new Item(9));  // cleared by the load
        load(copy, bytes);
        ASSERT_EQ(copy.count(), 3);
        EXPECT_EQ(copy.item(0)->key, 3);
        EXPECT_EQ(copy.item(1), nullptr);
        EXPECT_EQ(copy.item(2)->key, 1);
    }
    EXPECT_EQ(Item::alive, 0);
}

TEST(ObjectListPersistence, SortedListsKeepTheirDuplicatesModeAndSortWhatTheyLoad) {
    {
        ItemsByKey list(true, Duplicates::Accept);
        for (int k : {2, 1, 2}) list.add(new Item(k));
        const std::string bytes = saved(list);
        EXPECT_EQ(bytes.substr(0, 5), std::string("\x01\x03\x00\x00\x00", 5)) << "mode Accept, then the count";
        ItemsByKey copy(true, Duplicates::Ignore);
        load(copy, bytes);
        EXPECT_EQ(copy.duplicates(), Duplicates::Accept);
        ASSERT_EQ(copy.count(), 3) << "the equal keys stay under the stored mode";
        ItemsByKey unsorted(true, Duplicates::Error);
        load(unsorted, std::string("\x00\x03\x00\x00\x00\x01\x07\x01\x02\x01\x07", 11));
        EXPECT_EQ(unsorted.duplicates(), Duplicates::Ignore);
        ASSERT_EQ(unsorted.count(), 2) << "the second 7 is ignored";
        EXPECT_EQ(unsorted.item(0)->key, 2);
        EXPECT_EQ(unsorted.item(1)->key, 7);
    }
    EXPECT_EQ(Item::alive, 0);
}

TEST(ObjectListPersistence, RefusesWhatNoListCouldHold) {
    const struct {
        const char* why;
        std::string bytes;
        const char* failure;
    } cases[] = {
        {"a count beyond the capacity limit", std::string("\x00\x71\x11\x01\x00", 5), "\xCF\xF0\xEE\xE1\xEB\xE5\xEC\xE0 \xF1\xEE \xF1\xEF\xE8\xF1\xEA\xEE\xEC"},
        {"a duplicates mode that does not exist", std::string("\x03\x00\x00\x00\x00", 5), "\xCF\xF0\xEE\xE1\xEB\xE5\xEC\xE0 \xF1\xEE \xF1\xEF\xE8\xF1\xEA\xEE\xEC"},
        {"an empty place in a sorted list", std::string("\x00\x01\x00\x00\x00\x00", 6), "\xCF\xF0\xEE\xE1\xEB\xE5\xEC\xE0 \xF1\xEE \xF1\xEF\xE8\xF1\xEA\xEE\xEC"},
        {"a record cut short", std::string("\x00\x02\x00\x00\x00\x01\x05", 7), "Stream read error"},
        {"a duplicate under mode Error", std::string("\x02\x02\x00\x00\x00\x01\x05\x01\x05", 9), "Duplicate Object index"},
    };
    for (const auto& c : cases) {
        ItemsByKey list(true, Duplicates::Ignore);
        EXPECT_EQ(testing::failure_of([&] { load(list, c.bytes); }), c.failure) << c.why;
    }
    EXPECT_EQ(Item::alive, 0) << "objects read before a failure are owned and freed";
}

}  // namespace
}  // namespace kalv::unzip
