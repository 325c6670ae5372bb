#include "input/progress.h"

#include <gtest/gtest.h>

namespace korvella {
namespace {

TEST(FormatProgress, Table) {
  constexpr std::uint64_t kGiB = 1ull << 30;
  struct Case {
    const char* name;
    std::uint64_t done, total, elapsedMs;
    const char* line;
  };
  const Case cases[] = {
      {"nothing yet", 0, 10 * kGiB, 1000, "0% 0 B of 10.0 GiB"},
      {"under way", 4 * kGiB + kGiB / 3, 10 * kGiB, 8000,
       "43% 4.3 GiB of 10.0 GiB, 554.6 MiB/s, 0:10 left"},
      {"hours left", 1 << 20, 10 * kGiB, 1000, "0% 1.0 MiB of 10.0 GiB, 1.0 MiB/s, 2:50:39 left"},
      {"done: no time left to tell", 5000, 5000, 2000, "100% 4.8 KiB of 4.8 KiB, 2.4 KiB/s"},
      {"bytes below a KiB", 512, 1000, 1000, "51% 512 B of 1000 B, 512 B/s, 0:00 left"},
      {"the largest sizes", ~0ull / 2, ~0ull, 1000,
       "49% 7.9 EiB of 15.9 EiB, 7.9 EiB/s, 0:01 left"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FormatProgress(c.done, c.total, c.elapsedMs), c.line);
  }
}

}  // namespace
}  // namespace korvella
