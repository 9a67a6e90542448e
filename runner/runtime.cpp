// The little the runner needs of a C and C++ runtime, so that nothing of libstdc++ and none of
// the C runtime's start-up code is linked: the entry point, the allocation operators over the
// C library's heap and the library's internal error calls.
#include <windows.h>

#include <cstdlib>
#include <new>

#include "runner/abandon.h"

// What the linker or the C++ library reach from outside the runner's one unit, which is compiled as
// a whole program (runner/CMakeLists.txt), is marked to stay visible.
#define CABRUN_REACHED_FROM_OUTSIDE __attribute__((externally_visible))

CABRUN_REACHED_FROM_OUTSIDE void* operator new(size_t size) {
  if (void* block = std::malloc(size ? size : 1)) return block;
  AbandonRun(ERROR_NOT_ENOUGH_MEMORY);
}

CABRUN_REACHED_FROM_OUTSIDE void* operator new[](size_t size) { return operator new(size); }
CABRUN_REACHED_FROM_OUTSIDE void operator delete(void* block) noexcept { std::free(block); }
CABRUN_REACHED_FROM_OUTSIDE void operator delete[](void* block) noexcept { std::free(block); }
CABRUN_REACHED_FROM_OUTSIDE void operator delete(void* block, size_t) noexcept { std::free(block); }
CABRUN_REACHED_FROM_OUTSIDE void operator delete[](void* block, size_t) noexcept { std::free(block); }

// Where the library would throw. A length beyond its maximum is an allocation that cannot
// succeed; the rest are faults of the program.
namespace std {
CABRUN_REACHED_FROM_OUTSIDE void __throw_bad_alloc() { AbandonRun(ERROR_NOT_ENOUGH_MEMORY); }
CABRUN_REACHED_FROM_OUTSIDE void __throw_bad_array_new_length() { AbandonRun(ERROR_NOT_ENOUGH_MEMORY); }
CABRUN_REACHED_FROM_OUTSIDE void __throw_length_error(const char*) { AbandonRun(ERROR_NOT_ENOUGH_MEMORY); }
CABRUN_REACHED_FROM_OUTSIDE void __throw_logic_error(const char*) { AbandonRun(ERROR_INTERNAL_ERROR); }
CABRUN_REACHED_FROM_OUTSIDE void __throw_out_of_range_fmt(const char*, ...) { AbandonRun(ERROR_INTERNAL_ERROR); }
CABRUN_REACHED_FROM_OUTSIDE void __throw_bad_function_call() { AbandonRun(ERROR_INTERNAL_ERROR); }
}  // namespace std

namespace {

// The global objects' destructors, registered as they are constructed and run in reverse when
// WinMain returns, as the start-up code would do; not on ExitProcess elsewhere.
using ExitFunction = void (*)();
ExitFunction ExitFunctions[64];
int ExitFunctionCount = 0;

}  // namespace

// Defined here so that it is not taken from msvcrt.dll through an auto-import that nothing
// would apply.
extern "C" CABRUN_REACHED_FROM_OUTSIDE int atexit(ExitFunction function) {
  if (ExitFunctionCount == sizeof ExitFunctions / sizeof *ExitFunctions) return -1;
  ExitFunctions[ExitFunctionCount++] = function;
  return 0;
}

// The global objects' constructors, listed by the linker between the markers -1 and 0, run last
// to first as libgcc's __main would; its object and the C library's strnlen and wcsnlen bring
// unwind tables that would take a section of their own.
extern "C" ExitFunction __CTOR_LIST__[];

static void ConstructGlobals() {
  ExitFunction* last = __CTOR_LIST__ + 1;
  while (*last) ++last;
  while (--last != __CTOR_LIST__) (*last)();
}

extern "C" CABRUN_REACHED_FROM_OUTSIDE size_t strnlen(const char* text, size_t capacity) {
  size_t length = 0;
  while (length < capacity && text[length]) ++length;
  return length;
}

extern "C" CABRUN_REACHED_FROM_OUTSIDE size_t wcsnlen(const wchar_t* text, size_t capacity) {
  size_t length = 0;
  while (length < capacity && text[length]) ++length;
  return length;
}

// The entry point. The loader's stack is aligned to 4 bytes only. The runner reads its command
// line with GetCommandLineW, so WinMain gets none.
extern "C" [[noreturn]] CABRUN_REACHED_FROM_OUTSIDE __attribute__((force_align_arg_pointer)) void RunnerStart() {
  ConstructGlobals();
  int exitCode = WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<char*>(""), SW_SHOWDEFAULT);
  while (ExitFunctionCount > 0) ExitFunctions[--ExitFunctionCount]();
  ExitProcess(exitCode);
}
