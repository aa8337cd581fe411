#include "counting_heap.h"

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <new>

// glibc's own allocator under its internal names: the replacements below
// count and hand every request on to it, so memory from either side may be
// freed by the other.
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* pointer);
}

namespace kaviros::alloc {
namespace {

// Plain thread-local data of the program itself: reaching it allocates
// nothing, so it is safe inside malloc.
thread_local bool counting = false;
thread_local int64_t allocations = 0;

inline void Count() {
  if (counting) ++allocations;
}

void* Aligned(size_t alignment, size_t size) {
  Count();
  return __libc_memalign(alignment, size);
}

// The test programs are built without exceptions: running out of memory
// ends them.
void* NewOrAbort(size_t size) {
  Count();
  void* pointer = __libc_malloc(size == 0 ? 1 : size);
  if (pointer == nullptr) std::abort();
  return pointer;
}

void* AlignedNewOrAbort(size_t size, std::align_val_t alignment) {
  void* pointer = Aligned(static_cast<size_t>(alignment), size == 0 ? 1 : size);
  if (pointer == nullptr) std::abort();
  return pointer;
}

}  // namespace

void StartCounting() {
  allocations = 0;
  counting = true;
}

int64_t StopCounting() {
  counting = false;
  return allocations;
}

CountingPause::CountingPause() : wasCounting_(counting) { counting = false; }
CountingPause::~CountingPause() { counting = wasCounting_; }

}  // namespace kaviros::alloc

using kaviros::alloc::Aligned;
using kaviros::alloc::AlignedNewOrAbort;
using kaviros::alloc::Count;
using kaviros::alloc::NewOrAbort;

extern "C" {

void* malloc(size_t size) {
  Count();
  return __libc_malloc(size);
}

void* calloc(size_t count, size_t size) {
  Count();
  return __libc_calloc(count, size);
}

// A reallocation may move the block: counted like any other.
void* realloc(void* pointer, size_t size) {
  Count();
  return __libc_realloc(pointer, size);
}

void free(void* pointer) { __libc_free(pointer); }

void* memalign(size_t alignment, size_t size) {
  return Aligned(alignment, size);
}

void* aligned_alloc(size_t alignment, size_t size) {
  return Aligned(alignment, size);
}

int posix_memalign(void** result, size_t alignment, size_t size) {
  void* pointer = Aligned(alignment, size);
  if (pointer == nullptr) return ENOMEM;
  *result = pointer;
  return 0;
}

void* valloc(size_t size) { return Aligned(4096, size); }

}  // extern "C"

void* operator new(size_t size) { return NewOrAbort(size); }
void* operator new[](size_t size) { return NewOrAbort(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  Count();
  return __libc_malloc(size == 0 ? 1 : size);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
  Count();
  return __libc_malloc(size == 0 ? 1 : size);
}
void* operator new(size_t size, std::align_val_t alignment) {
  return AlignedNewOrAbort(size, alignment);
}
void* operator new[](size_t size, std::align_val_t alignment) {
  return AlignedNewOrAbort(size, alignment);
}
void* operator new(size_t size, std::align_val_t alignment,
                   const std::nothrow_t&) noexcept {
  return Aligned(static_cast<size_t>(alignment), size == 0 ? 1 : size);
}
void* operator new[](size_t size, std::align_val_t alignment,
                     const std::nothrow_t&) noexcept {
  return Aligned(static_cast<size_t>(alignment), size == 0 ? 1 : size);
}

void operator delete(void* pointer) noexcept { __libc_free(pointer); }
void operator delete[](void* pointer) noexcept { __libc_free(pointer); }
void operator delete(void* pointer, size_t) noexcept { __libc_free(pointer); }
void operator delete[](void* pointer, size_t) noexcept { __libc_free(pointer); }
void operator delete(void* pointer, std::align_val_t) noexcept {
  __libc_free(pointer);
}
void operator delete[](void* pointer, std::align_val_t) noexcept {
  __libc_free(pointer);
}
void operator delete(void* pointer, size_t, std::align_val_t) noexcept {
  __libc_free(pointer);
}
void operator delete[](void* pointer, size_t, std::align_val_t) noexcept {
  __libc_free(pointer);
}
void operator delete(void* pointer, const std::nothrow_t&) noexcept {
  __libc_free(pointer);
}
void operator delete[](void* pointer, const std::nothrow_t&) noexcept {
  __libc_free(pointer);
}
