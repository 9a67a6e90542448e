// The little the runner needs of a C++ runtime, so that nothing of libstdc++ is linked: the
// allocation operators over the C library's heap and the library's internal error calls.
#include <windows.h>

#include <cstdlib>
#include <new>

#include "runner/abandon.h"

void* operator new(size_t size) {
  if (void* block = std::malloc(size ? size : 1)) return block;
  AbandonRun(ERROR_NOT_ENOUGH_MEMORY);
}

void* operator new[](size_t size) { return operator new(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, size_t) noexcept { std::free(block); }
void operator delete[](void* block, size_t) noexcept { std::free(block); }

// Where the library would throw. A length beyond its maximum is an allocation that cannot
// succeed; the rest are faults of the program.
namespace std {
void __throw_bad_alloc() { AbandonRun(ERROR_NOT_ENOUGH_MEMORY); }
void __throw_bad_array_new_length() { AbandonRun(ERROR_NOT_ENOUGH_MEMORY); }
void __throw_length_error(const char*) { AbandonRun(ERROR_NOT_ENOUGH_MEMORY); }
void __throw_logic_error(const char*) { AbandonRun(ERROR_INTERNAL_ERROR); }
void __throw_out_of_range_fmt(const char*, ...) { AbandonRun(ERROR_INTERNAL_ERROR); }
void __throw_bad_function_call() { AbandonRun(ERROR_INTERNAL_ERROR); }
}  // namespace std
