#pragma once
// The automation error a call raises, or hr::Ok when it raises none.

#include <functional>

#include "automation/ComError.h"

namespace carvo::test {

inline HResult errorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const ComError& e) {
        return e.code();
    }
    return hr::Ok;
}

}  // namespace carvo::test
