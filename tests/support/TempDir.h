#pragma once
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace kestrane::testing {

// A fresh folder for one test, removed with everything in it afterwards
// (write permissions that a test took away are given back first).
// Path() ends with "/" like every folder path of the program.
class TempDir {
public:
  TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "kestrane-test-XXXXXX")
            .string();
    if (mkdtemp(pattern.data()) == nullptr)
      throw std::filesystem::filesystem_error(
          "mkdtemp", std::error_code(errno, std::generic_category()));
    path_ = pattern + "/";
  }
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  ~TempDir() {
    std::error_code ec;
    // Tests make files read-only; give the write bits back so the removal
    // works for an unprivileged user too.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator();
         it.increment(ec))
      std::filesystem::permissions(it->path(),
                                   std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }

  const std::string &Path() const { return path_; }

  // The names in the folder, sorted, to prove no temporary file was left.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(path_))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

private:
  std::string path_;
};

// Raw bytes in and out, bypassing the code under test.
inline void PutBytes(const std::string &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

inline std::string GetBytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in),
                     std::istreambuf_iterator<char>());
}

// What a folder holds, to show that a step left the disk as it was: every
// path below it (relative), with a file's bytes, or "<folder>".
inline std::map<std::string, std::string> DiskState(const std::string &folder) {
  std::map<std::string, std::string> state;
  for (const auto &entry :
       std::filesystem::recursive_directory_iterator(folder)) {
    const std::string name =
        std::filesystem::relative(entry.path(), folder).string();
    state[name] =
        entry.is_directory() ? "<folder>" : GetBytes(entry.path().string());
  }
  return state;
}

} // namespace kestrane::testing
