#pragma once
// Move-only owners for the platform's handles: every early return releases what was taken.
#include <windows.h>

#include <utility>

template <typename Traits>
class UniqueResource {
 public:
  using Type = typename Traits::Type;

  UniqueResource() noexcept = default;
  explicit UniqueResource(Type value) noexcept : value_(value) {}
  UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  ~UniqueResource() { reset(); }

  Type get() const noexcept { return value_; }
  bool valid() const noexcept { return value_ != Traits::Invalid(); }
  explicit operator bool() const noexcept { return valid(); }

  void reset(Type value = Traits::Invalid()) noexcept {
    Type old = std::exchange(value_, value);
    if (old != Traits::Invalid()) Traits::Close(old);
  }
  Type release() noexcept { return std::exchange(value_, Traits::Invalid()); }
  // For out-parameters: releases the current value and hands out the slot.
  Type* put() noexcept {
    reset();
    return &value_;
  }

 private:
  Type value_ = Traits::Invalid();
};

namespace handle_traits {
struct File {  // CreateFile, CreateNamedPipe: invalid is INVALID_HANDLE_VALUE
  using Type = HANDLE;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) noexcept { CloseHandle(h); }
};
struct Kernel {  // processes, threads, events: invalid is null
  using Type = HANDLE;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { CloseHandle(h); }
};
struct Find {
  using Type = HANDLE;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) noexcept { FindClose(h); }
};
struct RegKey {
  using Type = HKEY;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { RegCloseKey(h); }
};
struct Global {  // GMEM_FIXED blocks: the handle is the block's address
  using Type = HGLOBAL;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { GlobalFree(h); }
};
struct Library {
  using Type = HMODULE;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { FreeLibrary(h); }
};
struct Hook {
  using Type = HHOOK;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { UnhookWindowsHookEx(h); }
};
}  // namespace handle_traits

using UniqueFile = UniqueResource<handle_traits::File>;
using UniqueKernelHandle = UniqueResource<handle_traits::Kernel>;
using UniqueFindHandle = UniqueResource<handle_traits::Find>;
using UniqueRegKey = UniqueResource<handle_traits::RegKey>;
using UniqueGlobal = UniqueResource<handle_traits::Global>;
using UniqueLibrary = UniqueResource<handle_traits::Library>;
using UniqueHook = UniqueResource<handle_traits::Hook>;

// A fixed block from the global allocator, or an empty owner when none is available.
inline UniqueGlobal AllocateFixed(SIZE_T bytes, UINT extraFlags = 0) noexcept {
  return UniqueGlobal(GlobalAlloc(GMEM_FIXED | extraFlags, bytes));
}
