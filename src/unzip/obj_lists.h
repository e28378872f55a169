// Object lists: an array of object pointers with a bounded capacity, and a list
// kept in the order of a comparison, searched by bisection. The archive's entry
// records live in them (SortedZip derives from SortedObjectList).
//
// Ownership: a list made with owns_objects frees its objects when it is cleared or
// destroyed, and takes every object handed to add(): one it refuses (a duplicate)
// is freed at once.
//
// Persistence: save_items writes a list to a stream and load_items reads it back.
// The record, little-endian:
//   list:        count (32 bits), then per place: 1 and the object, or 0 for an empty place
//   sorted list: the duplicates mode (8 bits), then the list record
// Each object is written by save_item and read by load_item, which a list of a type
// without save(stream) and a static load(stream) overrides.
#pragma once

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "core/errors.h"
#include "unzip/buf_streams.h"

namespace kalv::unzip {

// The list failure's own text, in the Windows-1251 code page ("Problem with the list").
inline const std::string kListProblem = "\xCF\xF0\xEE\xE1\xEB\xE5\xEC\xE0 \xF1\xEE \xF1\xEF\xE8\xF1\xEA\xEE\xEC";

template <class T>
class ObjectList {
public:
    // 16-bit indexes with one value kept free; with the growth steps below, 65520
    // objects is the most a list reaches (the next step would need 65536).
    static constexpr int kMaxCapacity = 0xFFFE;

    explicit ObjectList(bool owns_objects) : owns_objects_(owns_objects) {}
    virtual ~ObjectList() { clear(); }
    ObjectList(const ObjectList&) = delete;
    ObjectList& operator=(const ObjectList&) = delete;

    int count() const { return int(items_.size()); }
    int capacity() const { return capacity_; }
    // A list of a tool that reads any archive (kalvtool) holds as many objects as an
    // int counts; beyond the usual limit it then grows by half its size each time, so
    // that a directory of a million entries is not copied over at every step of 16.
    void lift_capacity_limit() { max_capacity_ = INT_MAX / 2; }
    bool owns_objects() const { return owns_objects_; }

    T* item(int index) const {
        if (index < 0 || index >= count()) error();
        return items_[size_t(index)];
    }
    T* first() const { return items_.empty() ? nullptr : items_.front(); }
    T* last() const { return items_.empty() ? nullptr : items_.back(); }

    // The object after (or before) `object`; the first (or last) one for none.
    T* neighbour(const T* object, bool after) const {
        if (!object) return after ? first() : last();
        int at = -1;
        for (int i = 0; i < count(); ++i)
            if (items_[size_t(i)] == object) at = i;
        if (at < 0) throw ListError("tObject " + item_class_name() + " not in item list");
        const int next = after ? at + 1 : at - 1;
        return next >= 0 && next < count() ? items_[size_t(next)] : nullptr;
    }

    // Appends; returns the index (-1 when a sorted list ignored the object).
    virtual int add(T* object) {
        insert_at(count(), object);
        return count() - 1;
    }

    virtual void insert(int index, T* object) {
        if (index < 0 || index > count()) error();
        insert_at(index, object);
    }

    virtual void put_item(int index, T* object) {
        if (index < 0 || index >= count()) error();
        items_[size_t(index)] = object;
    }

    virtual int index_of(const T* object) const {
        for (int i = 0; i < count(); ++i)
            if (items_[size_t(i)] == object) return i;
        return -1;
    }

    void set_capacity(int capacity) {
        if (capacity < count() || capacity > max_capacity_) error();
        capacity_ = capacity;
        items_.reserve(size_t(capacity));
    }

    // New places are empty; places cut off free their owned objects.
    void set_count(int n) {
        if (n < 0 || n > max_capacity_) error();
        if (n > capacity_) set_capacity(n);
        while (count() > n) {
            T* gone = items_.back();
            items_.pop_back();
            if (owns_objects_) free_item(gone);
        }
        items_.resize(size_t(n), nullptr);
    }

    // Frees owned objects; count and capacity 0.
    void clear() {
        std::vector<T*> gone;
        gone.swap(items_);
        capacity_ = 0;
        if (owns_objects_)
            for (T* object : gone) free_item(object);
    }

    virtual void save_items(BufferedStream& out) const {
        put(out, uint32_t(count()), 4);
        for (const T* object : items_) {
            put(out, object ? 1 : 0, 1);
            if (object) save_item(out, *object);
        }
    }

    // Clears the list, then adds the stored objects in their order (a sorted list
    // sorts them as add() does). A count beyond the capacity limit is refused before
    // anything is read.
    virtual void load_items(BufferedStream& in) {
        clear();
        const uint32_t n = uint32_t(get(in, 4));
        if (n > uint32_t(max_capacity_)) error();
        for (uint32_t i = 0; i < n; ++i) {
            if (get(in, 1) == 0) {
                if (!holds_empty_places()) error();
                insert_at(count(), nullptr);
                continue;
            }
            T* object = load_item(in);
            add(object);
        }
    }

protected:
    virtual bool holds_empty_places() const { return true; }

    virtual void save_item(BufferedStream& out, const T& object) const {
        if constexpr (requires { object.save(out); })
            object.save(out);
        else
            throw StreamError("Stream write error");
    }

    // A new object, which the list then owns as if it had been added.
    virtual T* load_item(BufferedStream& in) {
        if constexpr (requires { T::load(in); })
            return T::load(in);
        else
            throw StreamError("Stream read error");
    }

    static void put(BufferedStream& out, uint32_t value, int bytes) {
        uint8_t record[4];
        for (int i = 0; i < bytes; ++i) record[i] = uint8_t(value >> (8 * i));
        if (out.write(record, size_t(bytes)) != size_t(bytes)) throw StreamError("Stream write error");
    }

    static uint32_t get(BufferedStream& in, int bytes) {
        uint8_t record[4];
        if (in.read(record, size_t(bytes)) != size_t(bytes)) throw StreamError("Stream read error");
        uint32_t value = 0;
        for (int i = 0; i < bytes; ++i) value |= uint32_t(record[i]) << (8 * i);
        return value;
    }

    [[noreturn]] void error() const { throw ListError(kListProblem); }

    virtual void grow() {
        const int delta = capacity_ >= kMaxCapacity - 16 ? capacity_ / 2 : capacity_ > 8 ? 16 : capacity_ > 4 ? 8 : 4;
        set_capacity(capacity_ + delta);
    }

    virtual void free_item(T* object) { delete object; }

    virtual std::string item_class_name() const { return "TObject"; }

    // Stores `object` at `index`; an owning list frees it when growing fails.
    void insert_at(int index, T* object) {
        if (count() == capacity_) {
            try {
                grow();
            } catch (...) {
                if (owns_objects_) free_item(object);
                throw;
            }
        }
        items_.insert(items_.begin() + index, object);
    }

    // A refused object handed to an owning list goes with the refusal.
    void refuse(T* object) {
        if (owns_objects_) free_item(object);
    }

private:
    std::vector<T*> items_;
    int capacity_ = 0;
    int max_capacity_ = kMaxCapacity;
    bool owns_objects_;
};

// What a sorted list does with an object whose key is already present.
enum class Duplicates {
    Ignore = 0,  // the insertion does nothing
    Accept = 1,  // the new object goes before the equal ones
    Error = 2,   // ListError "Duplicate Object index"
};

template <class T>
class SortedObjectList : public ObjectList<T> {
public:
    SortedObjectList(bool owns_objects, Duplicates duplicates)
        : ObjectList<T>(owns_objects), duplicates_(duplicates) {}

    Duplicates duplicates() const { return duplicates_; }

    // Negative, 0 or positive as a's key sorts before, with or after b's.
    virtual int compare(const T& a, const T& b) const = 0;

    // Bisection for `object`'s key; `index` is where it is or would be inserted.
    bool find(const T& object, int& index) const {
        int low = 0, high = this->count() - 1;
        bool found = false;
        while (low <= high) {
            const int middle = (low + high) / 2;
            const int d = compare(*this->item(middle), object);
            if (d < 0) {
                low = middle + 1;
            } else {
                high = middle - 1;
                if (d == 0) {
                    found = true;
                    if (duplicates_ != Duplicates::Accept) low = middle;
                }
            }
        }
        index = low;
        return found;
    }

    int add(T* object) override {
        int index = 0;
        if (find(*object, index)) {
            if (duplicates_ == Duplicates::Ignore) {
                this->refuse(object);
                return -1;
            }
            if (duplicates_ == Duplicates::Error) {
                this->refuse(object);
                throw ListError("Duplicate Object index");
            }
        }
        this->insert_at(index, object);
        return index;
    }

    // The position is the list's to choose: the index is ignored.
    void insert(int, T* object) override { add(object); }

    void put_item(int, T*) override { throw ListError("Cannot <Put> an Object in a sorted list!"); }

    int index_of(const T* object) const override {
        int index = 0;
        return object && find(*object, index) ? index : -1;
    }

    void save_items(BufferedStream& out) const override {
        this->put(out, uint32_t(duplicates_), 1);
        ObjectList<T>::save_items(out);
    }

    // Takes the stored duplicates mode before the objects, so that they are added
    // under the rule they were kept by.
    void load_items(BufferedStream& in) override {
        const uint32_t mode = this->get(in, 1);
        if (mode > uint32_t(Duplicates::Error)) this->error();
        this->clear();
        duplicates_ = Duplicates(mode);
        ObjectList<T>::load_items(in);
    }

protected:
    // Every object has a key to be sorted by.
    bool holds_empty_places() const override { return false; }

private:
    Duplicates duplicates_;
};

}  // namespace kalv::unzip
