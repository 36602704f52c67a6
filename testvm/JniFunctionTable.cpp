#include "JniFunctionTable.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace testvm {
namespace {

[[noreturn]] void notImplemented(const char* name) {
  std::fprintf(stderr, "testvm: %s not implemented\n", name);
  std::abort();
}

// An entry the VM does not model: same signature as the slot, aborts with its name.
template <typename F, const char* Name>
struct Unmodelled;
template <typename R, typename... A, const char* Name>
struct Unmodelled<R(JNICALL*)(A...), Name> {
  static R JNICALL entry(A...) { notImplemented(Name); }
};
template <typename R, typename... A, const char* Name>
struct Unmodelled<R(JNICALL*)(A..., ...), Name> {
  static R JNICALL entry(A..., ...) { notImplemented(Name); }
};

#define TESTVM_ENTRY_NAME(Name) constexpr char k##Name[] = #Name;
TESTVM_JNI_FUNCTION_ENTRIES(TESTVM_ENTRY_NAME)
#undef TESTVM_ENTRY_NAME

void fillUnmodelled(JNINativeInterface_& t) {
#define TESTVM_UNMODELLED(Name) t.Name = &Unmodelled<decltype(t.Name), k##Name>::entry;
  TESTVM_JNI_FUNCTION_ENTRIES(TESTVM_UNMODELLED)
#undef TESTVM_UNMODELLED
}

std::size_t tableBytes() {
  auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  return (sizeof(JNINativeInterface_) + page - 1) / page * page;
}

}  // namespace

JNINativeInterface_* createFunctionTable() {
  void* pages = mmap(nullptr, tableBytes(), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (pages == MAP_FAILED) {
    std::perror("testvm: mmap of the JNI function table");
    std::abort();
  }
  auto* t = static_cast<JNINativeInterface_*>(pages);
  t->reserved0 = t->reserved1 = t->reserved2 = t->reserved3 = nullptr;
  fillUnmodelled(*t);
  installReferenceEntries(*t);
  installCallEntries(*t);
  installFieldEntries(*t);
  installStringEntries(*t);
  installArrayEntries(*t);
  if (mprotect(pages, tableBytes(), PROT_READ) != 0) {
    std::perror("testvm: mprotect of the JNI function table");
    std::abort();
  }
  return t;
}

void destroyFunctionTable(JNINativeInterface_* table) { munmap(table, tableBytes()); }

}  // namespace testvm
