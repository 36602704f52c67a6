// Copies of a fixture whose section headers or hash table are corrupted. The
// loader ignores both, so every copy still loads; the patcher must refuse it
// with the specified code and line, touch no GOT word, and not crash.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "FixtureCopy.h"
#include "LogCapture.h"
#include "TestSupport.h"
#include "got_hook.h"

namespace {

ElfW(Shdr) & named(ElfImage& image, const char* name) {
  ElfW(Shdr)* section = image.sectionNamed(name);
  if (section == nullptr) throw std::runtime_error(std::string("fixture has no ") + name);
  return *section;
}

ElfW(Shdr) & names(ElfImage& image) { return image.section(image.header().e_shstrndx); }

struct Corruption {
  const char* name;
  std::function<void(ElfImage&)> apply;
  int expected;
  const char* ownLine;
};

void PrintTo(const Corruption& param, std::ostream* out) { *out << param.name; }

const Corruption kSectionCorruptions[] = {
    {"ShstrndxNotBelowShnum", [](ElfImage& image) { image.header().e_shstrndx = image.header().e_shnum; }, 40,
     "get shstrtab fail"},
    {"SectionTableBeyondFile", [](ElfImage& image) { image.header().e_shoff = image.bytes().size(); }, 40,
     "get shstrtab fail"},
    {"SectionTableOffsetHuge", [](ElfImage& image) { image.header().e_shoff = ~ElfW(Off){0} - 8; }, 40,
     "get shstrtab fail"},
    {"FileEndsWhereSegmentsEnd", [](ElfImage& image) { image.bytes().resize(image.loadedEnd()); }, 40,
     "get shstrtab fail"},
    {"FileEndsInsideNamesHeader",
     [](ElfImage& image) {
       image.bytes().resize(image.header().e_shoff + image.header().e_shstrndx * sizeof(ElfW(Shdr)) + 8);
     },
     40, "get shstrtab fail"},
    {"NamesOffsetZero", [](ElfImage& image) { names(image).sh_offset = 0; }, 40, "get shstrtab fail"},
    {"NamesSizeZero", [](ElfImage& image) { names(image).sh_size = 0; }, 40, "get shstrtab fail"},
    {"NamesSizeNegative", [](ElfImage& image) { names(image).sh_size = 0x80000000u; }, 40, "get shstrtab fail"},
    {"NamesSizeAbsurd", [](ElfImage& image) { names(image).sh_size = ~ElfW(Word){0}; }, 40, "get shstrtab fail"},
    {"NamesRunPastFileEnd",
     [](ElfImage& image) { names(image).sh_offset = image.bytes().size() - names(image).sh_size / 2; }, 40,
     "get shstrtab fail"},
    {"GotNameOutsideNames", [](ElfImage& image) { named(image, ".got").sh_name = names(image).sh_size + 16; },
     40, "can not find the .got"},
    // The table ends two bytes into ".got": that name never ends inside it.
    {"GotNameUnterminated",
     [](ElfImage& image) { names(image).sh_size = named(image, ".got").sh_name + 2; }, 40,
     "can not find the .got"},
    {"GotOutsideLibrary", [](ElfImage& image) { named(image, ".got").sh_addr += 0x10000000; }, 40,
     "can not find the .got"},
    {"GotSizeAbsurd", [](ElfImage& image) { named(image, ".got").sh_size = 0x7ffffff0; }, 40,
     "can not find the .got"},
    {"GotMisaligned", [](ElfImage& image) { named(image, ".got").sh_addr += 2; }, 40, "can not find the .got"},
    // Code is never made writable, whatever the file says.
    {"GotPointsAtCode",
     [](ElfImage& image) {
       named(image, ".got").sh_addr = named(image, ".text").sh_addr & ~ElfW(Addr){15};
       named(image, ".got").sh_size = 64;
     },
     40, "can not find the .got"},
};

// Writes the fixture with `corruption` applied into `copy` and loads it: the
// loader ignores section headers, so every corrupted copy still loads.
void loadCorrupted(FixtureCopy& copy, const Corruption& corruption) {
  ElfImage image(GOTHOOK_FIXTURE);
  corruption.apply(image);
  copy.write(image);
  copy.load(RTLD_NOW);
}

class MalformedSections : public testing::TestWithParam<Corruption> {};

TEST_P(MalformedSections, AreRefusedWithoutTouchingTheGot) {
  const Corruption& param = GetParam();
  FixtureCopy copy(GOTHOOK_FIXTURE);
  loadCorrupted(copy, param);
  LogCapture capture;

  EXPECT_EQ(hookFunc(copy.path().c_str(), "malloc", originalMalloc(), reinterpret_cast<void*>(&countingMalloc)),
            param.expected);

  std::vector<std::string> expected = {param.ownLine, hookFuncLine(copy.path(), param.expected / 10)};
  EXPECT_EQ(capture.texts(kGotTag), expected);
  EXPECT_FALSE(reachesReplacement(copy.function<AllocFn>("fixtureCallMalloc")));
  EXPECT_FALSE(reachesReplacement(copy.function<AllocFn>("fixtureCallMallocAddress")));
}

INSTANTIATE_TEST_SUITE_P(GotHook, MalformedSections, testing::ValuesIn(kSectionCorruptions),
                         [](const testing::TestParamInfo<Corruption>& info) { return info.param.name; });

// A ".got.plt" that does not lie in the library fails the whole patch: the file
// does not describe what is mapped. Only the lazily bound fixture has a
// ".got.plt", and not on armhf, where it is part of ".got".
TEST(GotHookMalformed, GotPltOutsideLibraryIsRefused) {
  ElfImage image(GOTHOOK_LAZY);
  if (image.sectionNamed(".got.plt") == nullptr) GTEST_SKIP() << "no .got.plt on this target";
  named(image, ".got.plt").sh_addr += 0x10000000;
  FixtureCopy copy(GOTHOOK_LAZY);
  copy.write(image);
  copy.load(RTLD_NOW);
  LogCapture capture;

  EXPECT_EQ(hookFunc(copy.path().c_str(), "malloc", originalMalloc(), reinterpret_cast<void*>(&countingMalloc)), 40);

  std::vector<std::string> expected = {"can not find the .got", hookFuncLine(copy.path(), 4)};
  EXPECT_EQ(capture.texts(kGotTag), expected);
  EXPECT_FALSE(reachesReplacement(copy.function<AllocFn>("lazyCallMalloc")));
}

// --- The DT_HASH table, read from memory in dynamic mode ------------------
// The loader looks symbols up through DT_GNU_HASH, so a broken DT_HASH loads.

uint32_t* hashTable(ElfImage& image) {
  ElfW(Addr) table = image.dynamicPointer(DT_HASH);
  if (table == 0) throw std::runtime_error("fixture has no DT_HASH");
  return &image.at<uint32_t>(image.fileOffsetOf(table));
}

void setBuckets(ElfImage& image, uint32_t value) {
  uint32_t* table = hashTable(image);
  for (uint32_t i = 0; i < table[0]; ++i) table[2 + i] = value;
}

const Corruption kHashCorruptions[] = {
    {"NoBuckets", [](ElfImage& image) { hashTable(image)[0] = 0; }, 5, "can not find the symbol"},
    {"BucketsBeyondLibrary", [](ElfImage& image) { hashTable(image)[0] = 0x7fffffff; }, 5,
     "can not find the symbol"},
    {"ChainsBeyondLibrary", [](ElfImage& image) { hashTable(image)[1] = 0xfffffff0u; }, 5,
     "can not find the symbol"},
    {"BucketsPastChains", [](ElfImage& image) { setBuckets(image, hashTable(image)[1] + 5); }, 5,
     "can not find the symbol"},
    // Every bucket starts at symbol 1, whose chain leads back to itself.
    {"ChainLoop",
     [](ElfImage& image) {
       setBuckets(image, 1);
       uint32_t* table = hashTable(image);
       table[2 + table[0] + 1] = 1;
     },
     5, "can not find the symbol"},
};

class MalformedHashTable : public testing::TestWithParam<Corruption> {};

TEST_P(MalformedHashTable, FindsNoSymbolAndPatchesNothing) {
  const Corruption& param = GetParam();
  FixtureCopy copy(GOTHOOK_FIXTURE);
  loadCorrupted(copy, param);
  LogCapture capture;

  EXPECT_EQ(patchGot(copy.path().c_str(), "malloc", nullptr, reinterpret_cast<void*>(&countingMalloc), 1),
            param.expected);

  EXPECT_EQ(capture.texts(kGotTag), std::vector<std::string>{param.ownLine});
  EXPECT_FALSE(reachesReplacement(copy.function<AllocFn>("fixtureCallMalloc")));
  EXPECT_FALSE(reachesReplacement(copy.function<AllocFn>("fixtureCallStoredMalloc")));
}

INSTANTIATE_TEST_SUITE_P(GotHook, MalformedHashTable, testing::ValuesIn(kHashCorruptions),
                         [](const testing::TestParamInfo<Corruption>& info) { return info.param.name; });

}  // namespace
