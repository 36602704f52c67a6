#include "got_hook.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "FixtureCopy.h"
#include "LogCapture.h"
#include "TestSupport.h"

namespace {

void* replacement() { return reinterpret_cast<void*>(&countingMalloc); }

// --- Which call paths a patch redirects -----------------------------------

struct PathCase {
  const char* name;
  int byDynamic;
  bool pltCall;
  bool addressInCode;
  bool storedPointer;
};

void PrintTo(const PathCase& param, std::ostream* out) { *out << param.name; }

class PatchedCallPaths : public testing::TestWithParam<PathCase> {};

// Section mode rewrites GOT words only; dynamic mode follows the relocations,
// including the absolute one of the pointer stored in initialised data.
TEST_P(PatchedCallPaths, ReachTheReplacementAsTheModeAllows) {
  const PathCase& param = GetParam();
  FixtureCopy copy(GOTHOOK_FIXTURE);
  copy.load(RTLD_NOW);
  LogCapture capture;

  int result = param.byDynamic ? patchGot(copy.path().c_str(), "malloc", originalMalloc(), replacement(), 1)
                               : hookFunc(copy.path().c_str(), "malloc", originalMalloc(), replacement());

  ASSERT_EQ(result, 0);
  EXPECT_EQ(reachesReplacement(copy.function<AllocFn>("fixtureCallMalloc")), param.pltCall);
  EXPECT_EQ(reachesReplacement(copy.function<AllocFn>("fixtureCallMallocAddress")), param.addressInCode);
  EXPECT_EQ(reachesReplacement(copy.function<AllocFn>("fixtureCallStoredMalloc")), param.storedPointer);
  EXPECT_TRUE(capture.texts(kGotTag).empty());
}

INSTANTIATE_TEST_SUITE_P(GotHook, PatchedCallPaths,
                         testing::Values(PathCase{"SectionMode", 0, true, true, false},
                                         PathCase{"DynamicMode", 1, true, true, true}),
                         [](const testing::TestParamInfo<PathCase>& info) { return info.param.name; });

// --- hookFunc's result codes ----------------------------------------------

// Keeps alive whatever a case set up for the duration of the call.
struct Scene {
  std::vector<std::unique_ptr<FixtureCopy>> copies;
  std::vector<std::unique_ptr<MappedFile>> mappings;

  FixtureCopy& copy(const std::string& source) {
    copies.push_back(std::make_unique<FixtureCopy>(source));
    return *copies.back();
  }
  void map(const std::string& path, int protection) {
    mappings.push_back(std::make_unique<MappedFile>(path, protection));
  }
};

int patchMalloc(const std::string& path) {
  return hookFunc(path.c_str(), "malloc", originalMalloc(), replacement());
}

std::string loadedCopy(Scene& scene) {
  FixtureCopy& copy = scene.copy(GOTHOOK_FIXTURE);
  copy.load(RTLD_NOW);
  return copy.path();
}

// A copy of the fixture with an altered ELF header, mapped whole but not loaded:
// the loader would refuse such a header.
std::string mappedWithHeader(Scene& scene, ElfW(Off) phoff, ElfW(Half) phnum) {
  FixtureCopy& copy = scene.copy(GOTHOOK_FIXTURE);
  ElfImage image(GOTHOOK_FIXTURE);
  image.header().e_phoff = phoff;
  image.header().e_phnum = phnum;
  copy.write(image);
  scene.map(copy.path(), PROT_READ);
  return copy.path();
}

struct CodeCase {
  const char* name;
  std::function<std::string(Scene&)> prepare;  // gives the path to patch
  std::function<int(const std::string&)> act;
  int expected;
  std::vector<std::string> ownLines;  // logged before hookFunc's own line
};

void PrintTo(const CodeCase& param, std::ostream* out) { *out << param.name; }

class HookFuncResult : public testing::TestWithParam<CodeCase> {};

TEST_P(HookFuncResult, IsTheSpecifiedCodeWithItsLogLines) {
  const CodeCase& param = GetParam();
  Scene scene;
  std::string path = param.prepare(scene);
  LogCapture capture;

  EXPECT_EQ(param.act(path), param.expected);

  std::vector<std::string> expectedLines = param.ownLines;
  if (param.expected >= 10) expectedLines.push_back(hookFuncLine(path, param.expected / 10));
  EXPECT_EQ(capture.texts(kGotTag), expectedLines);
}

const CodeCase kCodeCases[] = {
    {"PathThatCannotBeOpened", [](Scene&) { return std::string("/nonexistent-gothook/libnothing.so"); },
     patchMalloc, 10, {}},
    {"PathNotMapped", [](Scene&) { return std::string(GOTHOOK_FIXTURE); }, patchMalloc, 20, {}},
    {"FirstMappingUnreadable",
     [](Scene& scene) {
       FixtureCopy& copy = scene.copy(GOTHOOK_FIXTURE);
       scene.map(copy.path(), PROT_NONE);
       return copy.path();
     },
     patchMalloc, 20, {}},
    {"PhdrOffset69", [](Scene& scene) { return mappedWithHeader(scene, 69, 0); }, patchMalloc, 60,
     {"Illegal phdr offset 45"}},
    // 68 and 52 pass the header check; without program headers the next check fails.
    {"PhdrOffset68Passes", [](Scene& scene) { return mappedWithHeader(scene, 68, 0); }, patchMalloc, 30, {}},
    {"PhdrOffset52Passes", [](Scene& scene) { return mappedWithHeader(scene, 52, 0); }, patchMalloc, 30, {}},
    {"MappingThatIsNoElfHeader",
     [](Scene& scene) {
       FixtureCopy& copy = scene.copy(GOTHOOK_FIXTURE);
       ElfImage zeros(GOTHOOK_FIXTURE);
       std::fill(zeros.bytes().begin(), zeros.bytes().end(), 0);
       copy.write(zeros);
       scene.map(copy.path(), PROT_READ);
       return copy.path();
     },
     patchMalloc, 60, {"Illegal phdr offset 0"}},
    {"SecondPatchFindsNoOldWord", loadedCopy,
     [](const std::string& path) {
       EXPECT_EQ(patchMalloc(path), 0);
       return patchMalloc(path);
     },
     50, {}},
};

INSTANTIATE_TEST_SUITE_P(GotHook, HookFuncResult, testing::ValuesIn(kCodeCases),
                         [](const testing::TestParamInfo<CodeCase>& info) { return info.param.name; });

// Returns before any file or mapping is looked at: no log line, not even for a
// path that does not exist.
TEST(GotHook, SamePointerIsCode1WithoutLookingAtTheLibrary) {
  LogCapture capture;
  EXPECT_EQ(hookFunc("/nonexistent-gothook/libnothing.so", "malloc", originalMalloc(), originalMalloc()), 1);
  EXPECT_TRUE(capture.texts(kGotTag).empty());
}

// The library file was replaced after it had been loaded: what is mapped is no
// longer what the path holds.
TEST(GotHook, DeletedMappingIsRefusedWithItsLine) {
  FixtureCopy copy(GOTHOOK_FIXTURE);
  copy.load(RTLD_NOW);
  ASSERT_EQ(unlink(copy.path().c_str()), 0);
  copy.write(ElfImage(GOTHOOK_FIXTURE));
  LogCapture capture;

  EXPECT_EQ(patchMalloc(copy.path()), 20);

  std::vector<std::string> expected = {"find so base addr but the file is deleted, terminate for safe reason",
                                       hookFuncLine(copy.path(), 2)};
  EXPECT_EQ(capture.texts(kGotTag), expected);
  EXPECT_FALSE(reachesReplacement(copy.function<AllocFn>("fixtureCallMalloc")));
}

TEST(GotHook, PageThatCannotBeMadeWritableIsNeverWritten) {
  FixtureCopy copy(GOTHOOK_FIXTURE);
  ReadOnlySharedImage image(copy.path());
  // Unrelocated, the GOT holds link-time values; patch the value of its first word.
  ElfImage file(copy.path());
  const ElfW(Shdr)* got = file.sectionNamed(".got");
  ASSERT_NE(got, nullptr);
  uintptr_t firstWord = file.at<uintptr_t>(got->sh_offset);
  std::vector<std::string> expected;
  for (const char* name : {".got", ".got.plt"}) {
    const ElfW(Shdr)* section = file.sectionNamed(name);
    for (size_t offset = 0; section != nullptr && offset < section->sh_size; offset += sizeof(uintptr_t)) {
      if (file.at<uintptr_t>(section->sh_offset + offset) == firstWord) {
        expected.push_back("fail to set mem writable " + std::to_string(EACCES) + ", " + strerror(EACCES));
      }
    }
  }
  expected.push_back(hookFuncLine(copy.path(), 5));
  LogCapture capture;

  EXPECT_EQ(hookFunc(copy.path().c_str(), "malloc", reinterpret_cast<void*>(firstWord), replacement()), 50);

  EXPECT_EQ(capture.texts(kGotTag), expected);
  EXPECT_EQ(*reinterpret_cast<const uintptr_t*>(image.loadBias() + got->sh_addr), firstWord);
}

// armhf has no ".got.plt" at all; elsewhere the copy's is renamed away.
TEST(GotHook, LibraryWithoutGotPltIsPatchedThroughGotAlone) {
  FixtureCopy copy(GOTHOOK_FIXTURE);
  ElfImage image(GOTHOOK_FIXTURE);
  if (image.sectionNamed(".got.plt") != nullptr) image.at<char>(image.sectionNameOffset(".got.plt")) = '_';
  copy.write(image);
  copy.load(RTLD_NOW);

  ASSERT_EQ(patchMalloc(copy.path()), 0);

  EXPECT_TRUE(reachesReplacement(copy.function<AllocFn>("fixtureCallMallocAddress")));
}

TEST(GotHook, EveryGotWordHoldingTheOldFunctionIsReplaced) {
  FixtureCopy copy(GOTHOOK_ALIASES);
  copy.load(RTLD_NOW);
  void* provider = reinterpret_cast<void*>(copy.function<AllocFn>("providerAlloc"));

  ASSERT_EQ(hookFunc(copy.path().c_str(), "providerAlloc", provider, replacement()), 0);

  EXPECT_TRUE(reachesReplacement(copy.function<AllocFn>("aliasesCallFirstName")));
  EXPECT_TRUE(reachesReplacement(copy.function<AllocFn>("aliasesCallSecondName")));
}

// --- Lazily bound imports -------------------------------------------------

TEST(GotHookLazy, SectionModeFindsAnImportOnlyOnceItIsBound) {
  FixtureCopy copy(GOTHOOK_LAZY);
  copy.load(RTLD_LAZY);
  AllocFn call = copy.function<AllocFn>("lazyCallMalloc");

  EXPECT_EQ(patchMalloc(copy.path()), 50);
  EXPECT_FALSE(reachesReplacement(call));  // binds the slot
  EXPECT_EQ(patchMalloc(copy.path()), 0);
  EXPECT_TRUE(reachesReplacement(call));
}

TEST(GotHookLazy, DynamicModeReplacesAJumpSlotNeverBound) {
  FixtureCopy copy(GOTHOOK_LAZY);
  copy.load(RTLD_LAZY);

  ASSERT_EQ(patchGot(copy.path().c_str(), "malloc", nullptr, replacement(), 1), 0);

  EXPECT_TRUE(reachesReplacement(copy.function<AllocFn>("lazyCallMalloc")));
  EXPECT_TRUE(reachesReplacement(copy.function<AllocFn>("lazyCallStoredMalloc")));
}

// The jump slot is replaced first; the stored pointer already holding the new
// function then fails the call, and nothing is rolled back.
TEST(GotHookLazy, DynamicModeFailsOnASlotAlreadyHoldingTheNewFunction) {
  FixtureCopy copy(GOTHOOK_LAZY);
  copy.load(RTLD_LAZY);
  copy.function<void (*)(AllocFn)>("lazySetStoredMalloc")(&countingMalloc);
  LogCapture capture;

  EXPECT_EQ(patchGot(copy.path().c_str(), "malloc", nullptr, replacement(), 1), 5);

  EXPECT_TRUE(capture.texts(kGotTag).empty());
  EXPECT_TRUE(reachesReplacement(copy.function<AllocFn>("lazyCallMalloc")));
}

// --- Dynamic mode failures ------------------------------------------------

TEST(GotHookDynamic, UnknownSymbolIsCode5WithItsLine) {
  FixtureCopy copy(GOTHOOK_FIXTURE);
  copy.load(RTLD_NOW);
  LogCapture capture;

  EXPECT_EQ(patchGot(copy.path().c_str(), "noSuchImport", nullptr, replacement(), 1), 5);

  EXPECT_EQ(capture.texts(kGotTag), std::vector<std::string>{"can not find the symbol"});
  EXPECT_FALSE(reachesReplacement(copy.function<AllocFn>("fixtureCallMalloc")));
}

TEST(GotHookDynamic, MissingDynamicSegmentIsCode4WithItsLines) {
  Scene scene;
  FixtureCopy& copy = scene.copy(GOTHOOK_FIXTURE);
  ElfImage image(GOTHOOK_FIXTURE);
  for (size_t i = 0; i < image.header().e_phnum; ++i) {
    auto& segment = image.at<ElfW(Phdr)>(image.header().e_phoff + i * sizeof(ElfW(Phdr)));
    if (segment.p_type == PT_DYNAMIC) segment.p_type = PT_NULL;
  }
  copy.write(image);
  scene.map(copy.path(), PROT_READ);
  LogCapture capture;

  EXPECT_EQ(patchGot(copy.path().c_str(), "malloc", nullptr, replacement(), 1), 4);

  std::vector<std::string> expected = {"[-] Could not found segment type is 2\n",
                                       "[-] could't find PT_DYNAMIC segment"};
  EXPECT_EQ(capture.texts(kGotTag), expected);
}

// --- Module lookup --------------------------------------------------------

TEST(GotHook, ModuleBaseIsTheStartOfTheLibrarysFirstMapping) {
  FixtureCopy copy(GOTHOOK_FIXTURE);
  copy.load(RTLD_NOW);
  Dl_info info{};
  ASSERT_NE(dladdr(reinterpret_cast<void*>(copy.function<AllocFn>("fixtureCallMalloc")), &info), 0);

  EXPECT_EQ(GetModuleBaseAddr(copy.path().c_str()), reinterpret_cast<ElfW(Addr)>(info.dli_fbase));
  EXPECT_EQ(GetModuleBaseAddr("/nonexistent-gothook/libnothing.so"), 0u);
  EXPECT_EQ(GetModuleBaseAddr(nullptr), 0u);
}

}  // namespace
