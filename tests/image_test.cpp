#include "debug_file/image.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "test_util.h"

using namespace marvix;

namespace {

// Loads through a pipe, which gives no size up front.
LoadStatus load_through_pipe(const dbg::Bytes& bytes, DebugImage& image) {
  int fds[2];
  EXPECT_EQ(pipe(fds), 0);
  std::thread writer([&] {
    for (std::size_t done = 0; done < bytes.size();) {
      const ssize_t n = write(fds[1], bytes.data() + done, bytes.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    close(fds[1]);
  });
  InputFile file;
  file.handle = fds[0];
  const LoadStatus status = load_image(file, image);
  writer.join();
  return status;
}

LoadStatus load_path(const std::string& path, DebugImage& image) {
  InputFile file;
  EXPECT_TRUE(open_input(path.c_str(), file));
  return load_image(file, image);
}

}  // namespace

TEST(Load, ImageIsWholeBlocksWithAZeroTail) {
  for (const std::size_t size : {0u, 1u, 22u, 1023u, 1024u, 1025u, 5000u}) {
    dbg::Bytes bytes(size, 0x5A);
    const std::string path = test::write_temp("load" + std::to_string(size), bytes);
    DebugImage from_file, from_pipe;
    ASSERT_EQ(load_path(path, from_file), LoadStatus::ok);
    ASSERT_EQ(load_through_pipe(bytes, from_pipe), LoadStatus::ok);
    // A file's size is known: one this small gets exactly the room it
    // needs. A pipe's room doubles as data comes.
    EXPECT_EQ(from_file.capacity, from_file.size()) << size;
    EXPECT_LE(from_pipe.capacity, 2 * from_pipe.size()) << size;
    for (const DebugImage* image : {&from_file, &from_pipe}) {
      EXPECT_EQ(image->blocks, size / 1024 + 1) << size;
      EXPECT_EQ(image->file_size, size);
      EXPECT_TRUE(size == 0 || std::memcmp(image->data(), bytes.data(), size) == 0);
      for (std::size_t i = size; i < image->size(); ++i) ASSERT_EQ(image->data()[i], 0) << size;
    }
  }
}

TEST(Load, LargestFileLoadsAndOneByteMoreIsOutOfMemoryAndReadErrorsAreSeen) {
  const std::string path = test::temp_path("largest");
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  ASSERT_EQ(ftruncate(fd, static_cast<off_t>(kMaxFileSize)), 0);  // sparse
  DebugImage image;
  EXPECT_EQ(load_path(path, image), LoadStatus::ok);
  EXPECT_EQ(image.blocks, 65535);
  image = DebugImage{};
  ASSERT_EQ(ftruncate(fd, static_cast<off_t>(kMaxFileSize + 1)), 0);
  // Refused from its size alone: nothing was read.
  InputFile file;
  ASSERT_TRUE(open_input(path.c_str(), file));
  EXPECT_EQ(load_image(file, image), LoadStatus::out_of_memory);
  EXPECT_EQ(lseek(static_cast<int>(file.handle), 0, SEEK_CUR), 0);
  // At the limit when opened, and grown since: more than the largest image.
  for (const off_t more : {500, 2000}) {
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(kMaxFileSize)), 0);
    InputFile growing;
    ASSERT_TRUE(open_input(path.c_str(), growing));
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(kMaxFileSize) + more), 0);
    EXPECT_EQ(load_image(growing, image), LoadStatus::out_of_memory) << more;
  }
  close(fd);

  dbg::Bytes bytes(kMaxFileSize + 1);
  EXPECT_EQ(load_through_pipe(bytes, image), LoadStatus::out_of_memory);
  EXPECT_EQ(image_from_bytes(bytes, image), LoadStatus::out_of_memory);
  bytes.pop_back();
  EXPECT_EQ(load_through_pipe(bytes, image), LoadStatus::ok);
  EXPECT_EQ(image_from_bytes(bytes, image), LoadStatus::ok);

  InputFile directory;  // opened as a file, then read
  directory.handle = open("/tmp", O_RDONLY);
  EXPECT_EQ(load_image(directory, image), LoadStatus::read_error);
}
