// Buffered text output: a fixed 256-byte buffer and a CR LF line end, behind
// standard output, the failure report and the log. Every operation does nothing
// while a failure is pending; a failed or short write-out stores 101.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "platform/platform.h"

namespace korvella {

inline constexpr std::size_t TextBufferSize = 256;

struct TextWriter {
  platform::FileHandle handle = platform::kNoFile;
  std::array<char, TextBufferSize> buffer{};
  std::size_t held = 0;
  bool characterDevice = false;  // only then does a line end write the buffer out
};

// Binds the stream to an open handle; asks once whether it is a character device.
void OpenStream(TextWriter& stream, platform::FileHandle handle);
// Appends the bytes. While they do not fit, the buffer is filled to 256 bytes with
// the first of them and written out; bytes that fit exactly are only stored.
void Write(TextWriter& stream, std::string_view text);
// Appends CR LF, then writes the buffer out on a character device.
void EndLine(TextWriter& stream);
// Hands the held bytes to the system in one write and empties the buffer, also
// when the write fails.
void WriteOut(TextWriter& stream);

}  // namespace korvella
