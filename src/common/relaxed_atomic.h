// Plain fields that one thread writes while another polls them (the editor reading
// parameter records, the sample rate): each access is a relaxed atomic, so no reader sees a
// torn value and none keeps a stale copy, at the cost of a plain move on x86-64.
#pragma once

#include <atomic>

namespace kf {

template <class T>
T relaxedLoad(const T& field) {
    return std::atomic_ref<T>(const_cast<T&>(field)).load(std::memory_order_relaxed);
}
template <class T>
void relaxedStore(T& field, T v) {
    std::atomic_ref<T>(field).store(v, std::memory_order_relaxed);
}

}  // namespace kf
