#include "output/text_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

namespace korvella {
namespace {

// A pipe whose read end tells how many bytes have been written out so far.
class PipeStream : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(pipe(fds_), 0);
    fcntl(fds_[0], F_SETFL, O_NONBLOCK);
    OpenStream(stream_, platform::FileHandle{static_cast<std::uintptr_t>(fds_[1])});
    (void)platform::TakeIoError();
  }
  void TearDown() override {
    close(fds_[0]);
    close(fds_[1]);
    (void)platform::TakeIoError();
  }
  std::string Drain() {
    std::string out;
    char buffer[4096];
    ssize_t got;
    while ((got = read(fds_[0], buffer, sizeof buffer)) > 0)
      out.append(buffer, static_cast<size_t>(got));
    return out;
  }
  int fds_[2] = {-1, -1};
  TextWriter stream_;
};

TEST_F(PipeStream, PipeIsNoCharacterDevice) { EXPECT_FALSE(stream_.characterDevice); }

TEST_F(PipeStream, WritesOutOnlyWhenTheBufferOverflows) {
  struct Case {
    const char* name;
    std::size_t before;  // bytes already held
    std::size_t piece;
    std::size_t writtenOut;
    std::size_t heldAfter;
  };
  const Case cases[] = {
      {"255 bytes are held", 0, 255, 0, 255},
      {"256 bytes fill exactly and are held", 0, 256, 0, 256},
      {"257 bytes write out 256", 0, 257, 256, 1},
      {"200 into 100", 100, 200, 256, 44},
      {"600 into 0 write out twice", 0, 600, 512, 88},
      {"a piece that fills the rest exactly", 100, 156, 0, 256},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    stream_.held = 0;
    Write(stream_, std::string(c.before, 'a'));
    Write(stream_, std::string(c.piece, 'b'));
    const std::string out = Drain();
    EXPECT_EQ(out.size(), c.writtenOut);
    EXPECT_EQ(stream_.held, c.heldAfter);
    if (c.writtenOut >= 256) {
      EXPECT_EQ(out.substr(0, 256), std::string(c.before, 'a') + std::string(256 - c.before, 'b'));
    }
    EXPECT_FALSE(platform::IoErrorPending());
  }
}

TEST_F(PipeStream, FullBufferWritesOutWithTheNextByte) {
  Write(stream_, std::string(256, 'x'));
  EXPECT_EQ(Drain(), "");
  Write(stream_, "y");
  EXPECT_EQ(Drain(), std::string(256, 'x'));
  EXPECT_EQ(stream_.held, 1u);
}

TEST_F(PipeStream, LineEndWritesOutOnlyOnACharacterDevice) {
  Write(stream_, "line");
  EndLine(stream_);
  EXPECT_EQ(Drain(), "");
  EXPECT_EQ(stream_.held, 6u);
  stream_.characterDevice = true;
  EndLine(stream_);
  EXPECT_EQ(Drain(), "line\r\n\r\n");
  EXPECT_EQ(stream_.held, 0u);
}

TEST_F(PipeStream, FailedWriteOutStores101AndEmptiesTheBuffer) {
  close(fds_[0]);
  fds_[0] = open("/dev/null", O_RDONLY);  // the reader has gone
  signal(SIGPIPE, SIG_IGN);
  Write(stream_, "lost");
  WriteOut(stream_);
  EXPECT_EQ(stream_.held, 0u);
  EXPECT_EQ(platform::TakeIoError(), 101);
}

TEST_F(PipeStream, NothingHappensWhileAFailureIsPending) {
  platform::StoreIoError(2);
  Write(stream_, "x");
  EndLine(stream_);
  WriteOut(stream_);
  EXPECT_EQ(stream_.held, 0u);
  EXPECT_EQ(platform::TakeIoError(), 2);
  EXPECT_EQ(Drain(), "");
}

TEST(TextWriter, CharacterDeviceIsAskedOfTheHandle) {
  const int devNull = open("/dev/null", O_WRONLY);
  ASSERT_GE(devNull, 0);
  TextWriter stream;
  OpenStream(stream, platform::FileHandle{static_cast<std::uintptr_t>(devNull)});
  EXPECT_TRUE(stream.characterDevice);
  close(devNull);
}

TEST(TextWriter, ShortWriteOnAFullDeviceStores101) {
  const int full = open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0);
  (void)platform::TakeIoError();
  TextWriter stream;
  OpenStream(stream, platform::FileHandle{static_cast<std::uintptr_t>(full)});
  Write(stream, "x");
  EndLine(stream);  // a character device: the line end writes out and fails
  EXPECT_EQ(platform::TakeIoError(), 101);
  close(full);
}

}  // namespace
}  // namespace korvella
