// A malloc'd array freed at scope exit unless released: the programs
// allocate without the standard library's throwing operator new.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <utility>

template <typename T>
class HeapArray {
public:
    explicit HeapArray(size_t count) : data_(static_cast<T*>(std::malloc(count * sizeof(T)))) {}
    ~HeapArray() { std::free(data_); }
    HeapArray(const HeapArray&) = delete;
    HeapArray& operator=(const HeapArray&) = delete;
    T* Get() const { return data_; }
    T* Release() { return std::exchange(data_, nullptr); }

private:
    T* data_;
};
