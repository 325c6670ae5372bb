#include "engine/pair_counter.h"

#include <algorithm>
#include <cstring>

namespace korvella {
namespace {

std::uint64_t LoadWord(const unsigned char* bytes) {
  std::uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}

// Counts the eight bytes of a word `times` times.
void AddWord(std::array<std::uint32_t, 256>& table, std::uint64_t word, std::uint32_t times) {
  for (std::size_t k = 0; k < 8; ++k) table[(word >> (8 * k)) & 0xFF] += times;
}

void AddWordPairs(std::uint32_t* pairs, std::uint64_t word1, std::uint64_t word2,
                  std::uint32_t times) {
  for (std::size_t k = 0; k < 8; ++k) {
    pairs[((word1 >> (8 * k)) & 0xFF) << 8 | ((word2 >> (8 * k)) & 0xFF)] += times;
  }
}

}  // namespace

PairCounter::PairCounter() = default;

void PairCounter::Count(const unsigned char* bytes1, const unsigned char* bytes2,
                        std::size_t count) {
  // The run state lives in locals: the table increments could alias members and
  // would force them through memory on every byte.
  auto& equal = equalBytes_;
  std::uint32_t* const pairs = pairs_.data();
  std::uint64_t lastEqual = lastEqualWord_;
  std::uint32_t equalRepeats = equalRepeats_;
  std::uint64_t last1 = lastWord1_, last2 = lastWord2_;
  std::uint32_t unequalRepeats = unequalRepeats_;
  bool anyPairs = anyPairs_;
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const std::uint64_t w1 = LoadWord(bytes1 + i);
    const std::uint64_t w2 = LoadWord(bytes2 + i);
    if (w1 == w2) {
      if (w1 == lastEqual) {
        ++equalRepeats;
        continue;
      }
      if (equalRepeats != 0) {
        AddWord(equal[0], lastEqual, equalRepeats);
        equalRepeats = 0;
      }
      lastEqual = w1;
      const unsigned char* const p = bytes1 + i;
      ++equal[0][p[0]];
      ++equal[1][p[1]];
      ++equal[2][p[2]];
      ++equal[3][p[3]];
      ++equal[0][p[4]];
      ++equal[1][p[5]];
      ++equal[2][p[6]];
      ++equal[3][p[7]];
      continue;
    }
    if (w1 == last1 && w2 == last2) {
      ++unequalRepeats;
      continue;
    }
    if (unequalRepeats != 0) {
      AddWordPairs(pairs, last1, last2, unequalRepeats);
      unequalRepeats = 0;
    }
    last1 = w1;
    last2 = w2;
    // Byte loads make cheaper indices than shifting the words apart.
    const unsigned char* const p1 = bytes1 + i;
    const unsigned char* const p2 = bytes2 + i;
    ++pairs[p1[0] << 8 | p2[0]];
    ++pairs[p1[1] << 8 | p2[1]];
    ++pairs[p1[2] << 8 | p2[2]];
    ++pairs[p1[3] << 8 | p2[3]];
    ++pairs[p1[4] << 8 | p2[4]];
    ++pairs[p1[5] << 8 | p2[5]];
    ++pairs[p1[6] << 8 | p2[6]];
    ++pairs[p1[7] << 8 | p2[7]];
    anyPairs = true;
  }
  for (; i < count; ++i) {
    if (bytes1[i] == bytes2[i]) {
      ++equal[0][bytes1[i]];
    } else {
      ++pairs[static_cast<std::size_t>(bytes1[i]) << 8 | bytes2[i]];
      anyPairs = true;
    }
  }
  lastEqualWord_ = lastEqual;
  equalRepeats_ = equalRepeats;
  lastWord1_ = last1;
  lastWord2_ = last2;
  unequalRepeats_ = unequalRepeats;
  anyPairs_ = anyPairs;
}

void PairCounter::FlushRuns() {
  AddWord(equalBytes_[0], lastEqualWord_, equalRepeats_);
  equalRepeats_ = 0;
  if (unequalRepeats_ != 0) {
    AddWordPairs(pairs_.data(), lastWord1_, lastWord2_, unequalRepeats_);
    unequalRepeats_ = 0;
    anyPairs_ = true;
  }
}

void PairCounter::Drain(ByteHistogram& histogram1, ByteHistogram& histogram2,
                        DifferenceCounts& differences) {
  FlushRuns();
  for (std::size_t value = 0; value < 256; ++value) {
    std::uint64_t count = 0;
    for (std::size_t way = 0; way < kWays; ++way) count += equalBytes_[way][value];
    histogram1[value] += count;
    histogram2[value] += count;
    for (auto& way : equalBytes_) way[value] = 0;
  }
  if (anyPairs_) {
    // Byte a has the magnitude index a ^ 0x7F (0..255 for magnitudes 1..256), so
    // along a row the signed difference of indices grows with b in each half of
    // the row: the difference counts are sums along the table's diagonals, in
    // plain contiguous loops. 32-bit sums suffice between drains.
    std::array<std::uint32_t, 511> diagonals{};  // index (i - j) + 255
    std::array<std::uint32_t, 256> columns{};
    for (std::size_t a = 0; a < 256; ++a) {
      std::uint32_t* const cells = &pairs_[a << 8];
      const std::size_t i = a ^ 0x7F;
      std::uint32_t* const low = &diagonals[i + 128];  // b in 0..127: j = 127 - b
      std::uint32_t* const high = &diagonals[i];       // b in 128..255: j = 383 - b
      std::uint32_t row = 0;
      for (std::size_t b = 0; b < 128; ++b) {
        low[b] += cells[b];
        columns[b] += cells[b];
        row += cells[b];
      }
      for (std::size_t b = 128; b < 256; ++b) {
        high[b - 128] += cells[b];
        columns[b] += cells[b];
        row += cells[b];
      }
      histogram1[a] += row;
      std::fill_n(cells, 256, 0u);
    }
    for (std::size_t b = 0; b < 256; ++b) histogram2[b] += columns[b];
    differences[0] += diagonals[255];
    for (std::size_t d = 1; d < 256; ++d) differences[d] += diagonals[255 + d] + diagonals[255 - d];
    anyPairs_ = false;
  }
  // A run never continues across a drain: its word is counted already.
  lastEqualWord_ = 0;
  lastWord1_ = lastWord2_ = 0;
}

}  // namespace korvella
