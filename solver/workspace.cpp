#include "workspace.h"

#include <algorithm>
#include <cstdint>

namespace kelpie {

namespace {

template <typename T>
bool allocate(std::size_t count, HeapArray<T>* array) {
    array->reset(static_cast<T*>(std::malloc(count * sizeof(T))));
    return *array != nullptr;
}

}  // namespace

bool allocate_workspace(int n, Workspace* ws) {
    const std::size_t count = static_cast<std::size_t>(n);
    // n * n doubles must fit in size_t bytes.
    if (count > SIZE_MAX / sizeof(double) / count) return false;
    Scratch& s = ws->scratch;
    const bool ok = allocate(count, &ws->iterate.g) && allocate(count, &ws->iterate.is_free) &&
                    allocate(count * count, &ws->factor.L) && allocate(count, &ws->factor.D) &&
                    allocate(count, &ws->factor.in_factor) && allocate(count, &ws->factor.kept_out) &&
                    allocate(count, &s.index[0]) && allocate(count, &s.index[1]) && allocate(count, &s.index[2]) && allocate(count, &s.vector[0]) &&
                    allocate(count, &s.vector[1]) && allocate(count, &s.vector[2]) && allocate(count, &s.vector[3]) &&
                    allocate(count * kAppendBlock, &s.block[0]) && allocate(count * kAppendBlock, &s.block[1]) &&
                    allocate(count, &s.direction) && allocate(count, &s.term_sizes);
    if (!ok) {
        *ws = Workspace();
        return false;
    }
    std::fill_n(ws->iterate.is_free.get(), count, 0);
    std::fill_n(ws->factor.in_factor.get(), count, 0);
    std::fill_n(ws->factor.kept_out.get(), count, 0);
    return true;
}

}  // namespace kelpie
