// A fresh folder for one test, removed with everything in it when the test ends.
#pragma once

#include "platform/text.h"

namespace nulvane::testing {

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const Text& path() const { return path_; }
  // path() + separator + name.
  Text operator/(TextView name) const;

 private:
  Text path_;
};

// Small file helpers for tests (std::filesystem under the hood).
bool WriteTestFile(const Text& path, const std::string& bytes);
bool ReadTestFile(const Text& path, std::string& bytes);
bool PathExists(const Text& path);

}  // namespace nulvane::testing
