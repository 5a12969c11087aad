#include "workspace.h"

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
    const bool ok = allocate(count, &ws->in_factor) && allocate(count, &ws->is_free) &&
                    allocate(count * count, &ws->L) && allocate(count, &ws->D) && allocate(count, &ws->g) &&
                    allocate(count, &ws->dir) && allocate(count, &ws->list_a) && allocate(count, &ws->list_b) &&
                    allocate(count, &ws->w) && allocate(count, &ws->v) && allocate(count, &ws->z) &&
                    allocate(count, &ws->trial) && allocate(count, &ws->kept_out) &&
                    allocate(count * kAppendBlock, &ws->block_w) && allocate(count * kAppendBlock, &ws->block_v) &&
                    allocate(count, &ws->term_sizes);
    if (!ok) {
        *ws = Workspace();
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        ws->in_factor[i] = 0;
        ws->is_free[i] = 0;
        ws->kept_out[i] = 0;
    }
    return true;
}

}  // namespace kelpie
