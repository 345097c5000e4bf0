// read_floor: the least any scanner of a tree must do, for the benchmark to measure against:
// enumerate every directory once and read the first 4 KiB of each "*.exe" (case ignored).
// With --second-read, also 1 KiB from further in each program longer than its first 4 KiB:
// the version resource of most programs lies past their headers, so a scanner that reads it
// makes a second read there. That read's cost is the difference between the two floors.
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool IsExe(const char *Name) {
  const std::size_t length = std::strlen(Name);
  return length >= 4 && strcasecmp(Name + length - 4, ".exe") == 0;
}

bool IsDirectory(const std::string &Path, unsigned char Type) {
  if (Type != DT_UNKNOWN)
    return Type == DT_DIR;
  struct stat status {};
  return lstat(Path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

} // namespace

int main(int argc, char **argv) {
  const bool secondRead = argc == 3 && std::strcmp(argv[1], "--second-read") == 0;
  if (argc != 2 && !secondRead) {
    std::fprintf(stderr, "usage: read_floor [--second-read] DIR\n");
    return 2;
  }
  std::vector<std::string> pending{argv[argc - 1]};
  unsigned long files = 0;
  unsigned long long bytes = 0;
  char buffer[4096];
  while (!pending.empty()) {
    const std::string dir = pending.back();
    pending.pop_back();
    DIR *stream = opendir(dir.c_str());
    if (stream == nullptr)
      continue;
    while (const dirent *entry = readdir(stream)) {
      if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
        continue;
      const std::string path = dir + "/" + entry->d_name;
      if (IsDirectory(path, entry->d_type)) {
        pending.push_back(path);
        continue;
      }
      if (!IsExe(entry->d_name))
        continue;
      const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0)
        continue;
      ssize_t got = read(fd, buffer, sizeof buffer);
      if (secondRead && got == static_cast<ssize_t>(sizeof buffer)) {
        const ssize_t more = pread(fd, buffer, 1024, 2 * sizeof buffer);
        got += more > 0 ? more : 0;
      }
      close(fd);
      ++files;
      bytes += got > 0 ? static_cast<unsigned long long>(got) : 0;
    }
    closedir(stream);
  }
  std::printf("%lu files, %llu bytes read\n", files, bytes);
  return 0;
}
