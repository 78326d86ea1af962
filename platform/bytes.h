// The one byte codec of every format we write: messages, replay files and snapshots. Fields go in
// order, little-endian, as the machine holds them; a reader turns not ok, for good, at the first field
// that is missing or out of range, so a decoder reads every field and asks once at the end.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

namespace plat {

static_assert(std::endian::native == std::endian::little, "fields are written as the machine holds them");

class ByteWriter {
public:
    ByteWriter() = default;
    // Goes on after bytes already there.
    explicit ByteWriter(std::vector<uint8_t> start) : bytes_(std::move(start)) {}

    template <typename T>
    void put(const T& v) {
        static_assert(std::is_arithmetic_v<T>);
        put_bytes(&v, sizeof v);
    }
    void put_bytes(const void* p, size_t n) {
        const auto* b = static_cast<const uint8_t*>(p);
        bytes_.insert(bytes_.end(), b, b + n);
    }
    void reserve(size_t n) { bytes_.reserve(n); }

    // For a walk over fields that reads or writes with the same code.
    template <typename T>
    void field(const T& v) {
        put(v);
    }
    void field_bytes(const void* p, size_t n) { put_bytes(p, n); }

    const std::vector<uint8_t>& bytes() const { return bytes_; }
    std::vector<uint8_t> take() { return std::move(bytes_); }

private:
    std::vector<uint8_t> bytes_;
};

class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : at_(data), end_(data + size) {}

    bool take(void* p, size_t n) {
        if (!ok_ || left() < n) return ok_ = false;
        if (n) std::memcpy(p, at_, n);
        at_ += n;
        return true;
    }
    // A bool is one byte, 0 or 1; anything else is out of range.
    template <typename T>
    T get() {
        static_assert(std::is_arithmetic_v<T>);
        if constexpr (std::is_same_v<T, bool>) {
            uint8_t b = get<uint8_t>();
            if (b > 1) ok_ = false;
            return b == 1;
        } else {
            T v{};
            take(&v, sizeof v);
            return v;
        }
    }
    // The next n bytes where they lie, skipped; null when fewer are left.
    const uint8_t* span(size_t n) {
        if (!ok_ || left() < n) return (ok_ = false), nullptr;
        const uint8_t* p = at_;
        at_ += n;
        return p;
    }
    // Marks the bytes out of range: a value read makes no sense.
    void fail() { ok_ = false; }

    template <typename T>
    void field(T& v) {
        v = get<T>();
    }
    void field_bytes(void* p, size_t n) { take(p, n); }

    bool ok() const { return ok_; }
    size_t left() const { return ok_ ? static_cast<size_t>(end_ - at_) : 0; }
    // Every byte read, none left over.
    bool done() const { return ok_ && at_ == end_; }

private:
    const uint8_t* at_;
    const uint8_t* end_;
    bool ok_ = true;
};

}  // namespace plat
