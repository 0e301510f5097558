#pragma once

#include <cstdlib>
#include <memory>

namespace brevlin {

// xcb hands out replies and events allocated with malloc; the caller owns them. Holding them in
// this pointer frees them on every path out, early returns included.
struct XcbFree {
    void operator()(void* p) const { std::free(p); }
};

template <typename T> using XcbReply = std::unique_ptr<T, XcbFree>;

// Takes ownership of what an xcb `*_reply` or `*_poll_for_event` call returned (null included).
template <typename T> XcbReply<T> xcbOwn(T* reply) {
    return XcbReply<T>(reply);
}

} // namespace brevlin
