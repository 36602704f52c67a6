// The function table every JNIEnv shares: its own read-only pages, every
// standard entry present, unmodelled entries aborting with their names.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

#include "testvm/TestVm.h"

namespace {

using testvm::TestVm;

// The permissions of the mapping that holds `address`, from /proc/self/maps.
std::string permissionsOf(const void* address) {
  auto target = reinterpret_cast<std::uintptr_t>(address);
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    std::istringstream fields(line);
    std::string range, perms;
    fields >> range >> perms;
    std::uintptr_t begin = std::stoull(range.substr(0, range.find('-')), nullptr, 16);
    std::uintptr_t end = std::stoull(range.substr(range.find('-') + 1), nullptr, 16);
    if (target >= begin && target < end) return perms;
  }
  return "";
}

TEST(FunctionTable, IsReadOnlyInItsOwnPagesAndSharedByEveryEnv) {
  TestVm vm;
  const JNINativeInterface_* table = vm.functionTable();
  auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(table) % page, 0u);
  EXPECT_EQ(permissionsOf(table).substr(0, 3), "r--");
  EXPECT_EQ(vm.env()->functions, table);

  const JNINativeInterface_* other = nullptr;
  vm.runOnNativeThread([&] {
    JNIEnv* env = nullptr;
    vm.javaVm()->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr);
    other = env->functions;
    vm.javaVm()->DetachCurrentThread();
  });
  EXPECT_EQ(other, table);
}

TEST(FunctionTable, EveryEntryIsPresentAndReservedSlotsAreNull) {
  TestVm vm;
  auto slots = reinterpret_cast<void* const*>(vm.functionTable());
  std::size_t count = sizeof(JNINativeInterface_) / sizeof(void*);
  for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(slots[i], nullptr) << i;
  for (std::size_t i = 4; i < count; ++i) EXPECT_NE(slots[i], nullptr) << i;
}

TEST(FunctionTable, ReplacedEntryReachesEveryEnvAfterMprotect) {
  TestVm vm;
  auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  auto* table = const_cast<JNINativeInterface_*>(vm.functionTable());
  void* start = reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(&table->GetVersion) & ~(page - 1));
  ASSERT_EQ(mprotect(start, page, PROT_READ | PROT_WRITE), 0);
  table->GetVersion = [](JNIEnv*) -> jint { return 42; };
  EXPECT_EQ(vm.env()->GetVersion(), 42);
}

TEST(FunctionTableDeathTest, UnmodelledEntryAbortsWithItsName) {
  TestVm vm;
  JNIEnv* env = vm.env();
  EXPECT_DEATH(env->MonitorEnter(nullptr), "testvm: MonitorEnter not implemented");
  EXPECT_DEATH(env->NewDirectByteBuffer(nullptr, 0), "testvm: NewDirectByteBuffer not implemented");
}

}  // namespace
