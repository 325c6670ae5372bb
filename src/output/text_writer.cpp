#include "output/text_writer.h"

#include <algorithm>

namespace korvella {

void OpenStream(TextWriter& stream, platform::FileHandle handle) {
  stream.handle = handle;
  stream.held = 0;
  stream.characterDevice = platform::IsCharacterDevice(handle);
}

void Write(TextWriter& stream, std::string_view text) {
  if (platform::IoErrorPending()) return;
  while (text.size() > TextBufferSize - stream.held) {
    const std::size_t room = TextBufferSize - stream.held;
    std::copy_n(text.data(), room, stream.buffer.data() + stream.held);
    stream.held = TextBufferSize;
    text.remove_prefix(room);
    WriteOut(stream);
    if (platform::IoErrorPending()) return;
  }
  std::copy(text.begin(), text.end(), stream.buffer.data() + stream.held);
  stream.held += text.size();
}

void EndLine(TextWriter& stream) {
  if (platform::IoErrorPending()) return;
  Write(stream, "\r\n");
  if (stream.characterDevice) WriteOut(stream);
}

void WriteOut(TextWriter& stream) {
  if (platform::IoErrorPending()) return;
  const std::size_t count = stream.held;
  stream.held = 0;
  platform::WriteText(stream.handle, stream.buffer.data(), count);
}

}  // namespace korvella
