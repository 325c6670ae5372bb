#include "engine/pair_counter.h"

#include <algorithm>
#include <bit>
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

using Bytes16 = unsigned char __attribute__((vector_size(16)));
using Words2 = std::uint64_t __attribute__((vector_size(16)));

// The pair-table indices (a << 8 | b) of the eight byte pairs of two words, as
// 16-bit fields: four in `low`, four in `high`. One byte interleave in a vector
// register costs less than sixteen byte loads or shifts.
struct PairIndices {
  std::uint64_t low;
  std::uint64_t high;
};

[[gnu::always_inline]] inline PairIndices IndicesOf(std::uint64_t word1, std::uint64_t word2) {
  // Byte k of word2, then byte k of word1, reads as a << 8 | b on little-endian.
  static_assert(std::endian::native == std::endian::little);
  const Words2 seconds{word2, 0};
  const Words2 firsts{word1, 0};
  const auto interleaved =
      __builtin_shufflevector(reinterpret_cast<Bytes16>(seconds), reinterpret_cast<Bytes16>(firsts),
                              0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
  const auto words = reinterpret_cast<Words2>(interleaved);
  return {words[0], words[1]};
}

[[gnu::always_inline]] inline void AddFour(std::uint32_t* pairs, std::uint64_t indices,
                                           std::uint32_t times) {
  pairs[indices & 0xFFFF] += times;
  pairs[(indices >> 16) & 0xFFFF] += times;
  pairs[(indices >> 32) & 0xFFFF] += times;
  pairs[indices >> 48] += times;
}

[[gnu::always_inline]] inline void AddWordPairs(std::uint32_t* pairs, std::uint64_t word1,
                                                std::uint64_t word2, std::uint32_t times) {
  const PairIndices indices = IndicesOf(word1, word2);
  AddFour(pairs, indices.low, times);
  AddFour(pairs, indices.high, times);
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
    AddWordPairs(pairs, w1, w2, 1);
  }
  // The last words start equal (zero) at each drain and change only to an unequal
  // pair being counted: they differ exactly when the loop counted one.
  bool anyPairs = anyPairs_ || last1 != last2;
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
  // A run never continues across a drain: its word is counted already. Equal last
  // words also mean no pairs since the drain (see Count).
  lastEqualWord_ = 0;
  lastWord1_ = lastWord2_ = 0;
}

}  // namespace korvella
