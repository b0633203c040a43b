#pragma once
// Move-only scope guards, one per kind of handle, each knowing its own "none" value.

#include <windows.h>
#include <winhttp.h>

#include <utility>

template <typename Traits> class [[nodiscard]] UniqueResource {
  public:
    using Value = typename Traits::Value;

    UniqueResource() = default;
    explicit UniqueResource(Value v) : value_(v) {}
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    ~UniqueResource() { reset(); }

    Value get() const { return value_; }
    bool valid() const { return value_ != Traits::none(); }
    explicit operator bool() const { return valid(); }

    // Hands the resource on; the guard no longer closes it.
    Value release() { return std::exchange(value_, Traits::none()); }
    // The slot for a call that hands a new resource out through a pointer; what the guard held
    // is closed first.
    Value* put() {
        reset();
        return &value_;
    }
    void reset(Value v = Traits::none()) {
        Value old = std::exchange(value_, v);
        if (old != Traits::none()) {
            Traits::close(old);
        }
    }

  private:
    Value value_ = Traits::none();
};

// CreateFileW: INVALID_HANDLE_VALUE means none.
struct FileHandleTraits {
    using Value = HANDLE;
    static Value none() { return INVALID_HANDLE_VALUE; }
    static void close(Value v) { CloseHandle(v); }
};

// Threads, processes, mutexes: null means none.
struct KernelHandleTraits {
    using Value = HANDLE;
    static Value none() { return nullptr; }
    static void close(Value v) { CloseHandle(v); }
};

struct InternetHandleTraits {
    using Value = HINTERNET;
    static Value none() { return nullptr; }
    static void close(Value v) { WinHttpCloseHandle(v); }
};

// Memory the system allocated with LocalAlloc, such as CommandLineToArgvW's array.
struct LocalMemoryTraits {
    using Value = void*;
    static Value none() { return nullptr; }
    static void close(Value v) { LocalFree(v); }
};

using UniqueFile = UniqueResource<FileHandleTraits>;
using UniqueLocal = UniqueResource<LocalMemoryTraits>;
using UniqueKernelHandle = UniqueResource<KernelHandleTraits>;
using UniqueInternet = UniqueResource<InternetHandleTraits>;
