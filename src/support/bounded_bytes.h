// The one way the library reads bytes that come from outside it: a map file, an executable, the
// settings data file. Every offset and length is checked against the bytes actually there, in
// 64-bit arithmetic so that no field of the input can wrap a sum; a read that would reach outside
// fails (0) and copies nothing. Where trust ends: the caller's span must describe memory it owns.
#pragma once

#include "win32.h"

#include <cstdint>
#include <type_traits>

// cb bytes at pb, read-only.
struct ByteSpan {
    const BYTE *pb;
    uint64_t cb;
};

// Pointer to `cb` bytes at `offset` of `span`, or none when any of them lies outside.
[[nodiscard]] inline const BYTE *SpanAt(const ByteSpan *span, uint64_t offset, uint64_t cb) {
    if (span == nullptr || span->pb == nullptr || offset > span->cb || cb > span->cb - offset) return nullptr;
    return span->pb + offset;
}

// The little-endian unsigned field of sizeof(T) bytes at `offset`; 0 when it does not lie wholly
// within `span` (*value is then untouched).
template <typename T>
[[nodiscard]] inline BOOL ReadLe(const ByteSpan *span, uint64_t offset, T *value) {
    static_assert(std::is_unsigned_v<T>, "fields are unsigned");
    const BYTE *p = SpanAt(span, offset, sizeof(T));
    if (p == nullptr) return 0;
    T result = 0;
    for (size_t i = sizeof(T); i-- > 0;) result = static_cast<T>((result << 8) | p[i]);
    *value = result;
    return 1;
}

// Copies `cb` bytes at `offset` into `out`; 0, copying nothing, when any lies outside.
[[nodiscard]] inline BOOL CopySpanBytes(const ByteSpan *span, uint64_t offset, uint64_t cb, void *out) {
    const BYTE *p = SpanAt(span, offset, cb);
    if (p == nullptr) return 0;
    for (uint64_t i = 0; i < cb; ++i) static_cast<BYTE *>(out)[i] = p[i];
    return 1;
}

// The bytes of `span` from `offset` on (possibly none); 0 when the offset lies beyond them.
[[nodiscard]] inline BOOL SliceSpan(const ByteSpan *span, uint64_t offset, ByteSpan *slice) {
    const BYTE *p = SpanAt(span, offset, 0);
    if (p == nullptr) return 0;
    *slice = {p, span->cb - offset};
    return 1;
}
