#include "os/file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "error/exception.h"
#include "os/temp_dir.h"

namespace os {
namespace {

TEST(ReadWholeFile, ReturnsEveryByteOfAFileLargerThanOneRead) {
  const std::string dir = os::makeTemporaryDirectory("hx-file-test");
  const std::string path = dir + "/data";
  // More than one read's buffer, with a zero byte that must not end it.
  std::string written(200000, 'x');
  written[100] = '\0';
  std::ofstream(path, std::ios::binary) << written;
  EXPECT_EQ(readWholeFile(path), written);
  std::filesystem::remove_all(dir);
}

TEST(ReadWholeFile, MissingFileThrowsNamingThePath) {
  try {
    (void)readWholeFile("/nonexistent/scenario.json");
    FAIL() << "no exception";
  } catch (const error::EFileNotFoundError& e) {
    EXPECT_NE(e.text().find("/nonexistent/scenario.json"), std::string::npos) << e.text();
  }
}

}  // namespace
}  // namespace os
