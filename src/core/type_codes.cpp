#include "core/type_codes.h"

#include "core/error_codes.h"
#include "core/errors.h"

namespace {

// The entry of dimension d, or null after raising error 9.
const array_dimension* dimension_of(const array_descriptor* a, int32_t d, int32_t n) {
    if (d < 1 || d > n || !(a->flags & array_allocated)) {
        error_raise(error_subscript_out_of_range);
        return nullptr;
    }
    auto first = reinterpret_cast<const array_dimension*>(a + 1);
    return first + (n - d);
}

}  // namespace

int32_t array_lower_bound(const array_descriptor* a, int32_t d, int32_t n) {
    const array_dimension* e = dimension_of(a, d, n);
    return e ? e->lower_bound : 0;
}

int32_t array_upper_bound(const array_descriptor* a, int32_t d, int32_t n) {
    const array_dimension* e = dimension_of(a, d, n);
    if (!e) return 0;
    int64_t upper = int64_t(e->lower_bound) + e->count - 1;
    if (upper < INT32_MIN || upper > INT32_MAX) {
        error_raise(error_overflow);
        return 0;
    }
    return static_cast<int32_t>(upper);
}
