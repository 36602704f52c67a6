#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "core/so_load.h"

namespace {

struct PathCase {
  const char* name;
  std::string nativeLibDir;
  std::string path;
  std::string mapped;
};

void PrintTo(const PathCase& c, std::ostream* os) { *os << c.name; }

class MappedLibraryPath : public testing::TestWithParam<PathCase> {};

TEST_P(MappedLibraryPath, NamesTheLibraryAsTheMemoryMapDoes) {
  EXPECT_EQ(mappedLibraryPath(GetParam().path, "com.example.app", GetParam().nativeLibDir), GetParam().mapped);
}

const std::string kLibDir = "/data/app/com.example.app-1/lib/arm";

INSTANTIATE_TEST_SUITE_P(
    Cases, MappedLibraryPath,
    testing::Values(
        PathCase{"PackageLibDir", kLibDir, "/data/user/0/com.example.app/lib/libx.so", kLibDir + "/libx.so"},
        PathCase{"LibDirWithTrailingSlash", kLibDir + "/", "/data/user/0/com.example.app/lib/libx.so",
                 kLibDir + "//libx.so"},
        PathCase{"OtherDataDir", kLibDir, "/data/user/0/com.example.app/files/libx.so",
                 "/data/data/com.example.app/files/libx.so"},
        PathCase{"SiblingOfLibDir", kLibDir, "/data/user/0/com.example.app/lib64/libx.so",
                 "/data/data/com.example.app/lib64/libx.so"},
        PathCase{"OtherPackage", kLibDir, "/data/user/0/com.other/lib/libx.so", "/data/data/com.other/lib/libx.so"},
        PathCase{"OtherUser", kLibDir, "/data/user/10/com.example.app/lib/libx.so",
                 "/data/user/10/com.example.app/lib/libx.so"},
        PathCase{"AppDir", kLibDir, kLibDir + "/libx.so", kLibDir + "/libx.so"},
        PathCase{"BareName", kLibDir, "libx.so", "libx.so"}),
    [](const testing::TestParamInfo<PathCase>& info) { return info.param.name; });

}  // namespace
