// The kernel library's sources: every module is real (no stand-in source is
// compiled into the library, which takes every kernel/src/*.cpp), and the
// kernel reaches the rest of the program only through the target proxy
// (host/wrap.h) and the shared misc and timing headers.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "test_util.h"

namespace {

const std::filesystem::path Kernel_dir = std::filesystem::path(TALON_SOURCE_DIR) / "kernel" / "src";

const std::string Proxy_include = "#include \"host/wrap.h\"";

bool is_source(const std::filesystem::path& p) { return p.extension() == ".cpp" || p.extension() == ".h"; }

TEST(KernelSources, NoStandInIsCompiled) {
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(Kernel_dir)) {
    if (!is_source(e.path())) continue;
    ++files;
    const std::string name = e.path().filename().string();
    EXPECT_NE(name.rfind("standin", 0), 0U) << name << " is a stand-in source";
    const std::string text = talon_test::read_text(e.path().string());
    EXPECT_EQ(text.find("stand-in"), std::string::npos) << name << " speaks of a stand-in";
  }
  EXPECT_GE(files, 50);
}

TEST(KernelSources, IncludeOnlyTheTargetProxyFromAbove) {
  for (const auto& e : std::filesystem::directory_iterator(Kernel_dir)) {
    if (!is_source(e.path())) continue;
    const std::string name = e.path().filename().string();
    const std::string text = talon_test::read_text(e.path().string());
    for (std::size_t at = text.find("#include \"host/"); at != std::string::npos;
         at = text.find("#include \"host/", at + 1))
      EXPECT_EQ(text.compare(at, Proxy_include.size(), Proxy_include), 0) << name << ": " << text.substr(at, 40);
    for (const char* above : {"#include \"rtk/", "#include \"tools/", "#include \"tests/"})
      EXPECT_EQ(text.find(above), std::string::npos) << name << " includes " << above;
  }
}

}  // namespace
