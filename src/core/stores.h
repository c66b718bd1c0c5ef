// LET of a number: a variable, an array element or a record's numeric element. Like every statement
// it does nothing while an error is pending, so a statement that ends at its error leaves its target
// as it was. The string store that keeps the same rule is string_assign (core/strings.h).
// Not here: rounding a value to the target's type and its range test (the translator's own code).
#pragma once

#include <type_traits>

#include "core/errors.h"

// target = value unless an error is pending; the value is already of the target's type.
template <class T>
inline void number_store(T& target, std::type_identity_t<T> value) {
    if (!error_pending()) target = value;
}
