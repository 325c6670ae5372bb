#include "output/text_writer.h"

#include <algorithm>

namespace korvella {

void OpenStream(TextWriter& stream, platform::FileHandle handle) {
  stream.handle = handle;
  stream.held = 0;
  stream.characterDevice = platform::IsCharacterDevice(handle);
  stream.open = true;
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

void Close(TextWriter& stream) {
  if (platform::IoErrorPending()) return;
  WriteOut(stream);
  if (stream.handle != platform::StandardOutput()) {
    // The close itself goes through even after a failed write-out, whose failure
    // is the one reported.
    const std::uint16_t failure = platform::TakeIoError();
    platform::CloseLog(stream.handle);
    if (failure != 0) {
      (void)platform::TakeIoError();
      platform::StoreIoError(failure);
    }
  }
  stream.open = false;
}

}  // namespace korvella
