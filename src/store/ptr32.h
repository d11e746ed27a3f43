// The map's 32-bit pointer fields: unaligned, little-endian, holding addresses of global memory
// (which lies below 4 GiB on every build), zero-extended when read.
#pragma once

#include "pwdvmp32.h"

#include <cassert>
#include <cstdint>
#include <cstring>

template <typename T>
inline T *LoadPtr32(const void *field) {
    uint32_t value;
    std::memcpy(&value, field, sizeof value);
    return reinterpret_cast<T *>(static_cast<uintptr_t>(value));
}

inline void StorePtr32(void *field, const void *pointer) {
    const uintptr_t address = reinterpret_cast<uintptr_t>(pointer);
    assert(address <= 0xFFFFFFFFu && "a map pointer field must hold global memory below 4 GiB");
    const uint32_t value = static_cast<uint32_t>(address);
    std::memcpy(field, &value, sizeof value);
}

// Unaligned little-endian reads and writes of the records' 16- and 32-bit fields (every host the
// library builds for is little-endian).
template <typename T>
inline T LoadField(const void *field) {
    T value;
    std::memcpy(&value, field, sizeof value);
    return value;
}

template <typename T>
inline void StoreField(void *field, T value) {
    std::memcpy(field, &value, sizeof value);
}
