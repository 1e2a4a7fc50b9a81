// The heap grown after the server starts is marked for transparent huge pages.
#include "heap_pages.hpp"

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace morvi::service::server {
namespace {

// The flags of the mapping that holds `address`, from /proc/self/smaps; empty when none does.
std::string flags_at(std::uintptr_t address) {
  std::ifstream smaps("/proc/self/smaps");
  bool inside = false;
  for (std::string line; std::getline(smaps, line);) {
    std::uintptr_t from = 0, to = 0;
    char dash = 0;
    std::istringstream head(line);
    if (head >> std::hex >> from >> dash >> to && dash == '-' && line.find(':') > line.find(' ')) {
      inside = from <= address && address < to;
    } else if (inside && line.rfind("VmFlags:", 0) == 0) {
      return line.substr(8) + " ";
    }
  }
  return "";
}

TEST(HeapPages, TheGrownHeapIsMarkedForHugePages) {
  if (!std::filesystem::exists("/sys/kernel/mm/transparent_hugepage/enabled"))
    GTEST_SKIP() << "the kernel has no transparent huge pages";
  HeapPages pages(std::size_t{8} << 20);
  const auto before = reinterpret_cast<std::uintptr_t>(::sbrk(0));
  // Small blocks come from the heap, not from mappings of their own.
  std::vector<std::unique_ptr<char[]>> blocks;
  for (int i = 0; i < 65536 && reinterpret_cast<std::uintptr_t>(::sbrk(0)) <
                                   before + (std::uintptr_t{4} << 20);
       ++i)
    blocks.emplace_back(new char[512]);
  const auto end = reinterpret_cast<std::uintptr_t>(::sbrk(0));
  if (end < before + (std::uintptr_t{4} << 20))
    GTEST_SKIP() << "the allocator does not grow the heap (a sanitizer's allocator)";
  EXPECT_EQ(flags_at(end - 1).find(" hg "), std::string::npos) << "marked before it was asked";
  pages.advise();
  EXPECT_NE(flags_at(end - 1).find(" hg "), std::string::npos) << flags_at(end - 1);
  // The heap as it stood before is left as it was.
  if (before > 4096) {
    EXPECT_EQ(flags_at(before - 4096).find(" hg "), std::string::npos);
  }
}

}  // namespace
}  // namespace morvi::service::server
