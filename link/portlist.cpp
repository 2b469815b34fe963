#include "portlist.h"

#include "comerror.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string_view>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::string_view kPtsFolder = "/dev/pts/";

// An entry that vanished or never was is absent, not a failure of the list.
bool Absent(int error) { return error == ENOENT || error == ENOTDIR; }

bool AllDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

// Calls visit(name, type) for every entry but "." and "..". A folder that cannot be
// opened or read fails the whole list, as the port list has no partial answer.
template <typename Visit>
void ForEachEntry(const std::string& folder, Visit visit) {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
  if (!dir) RaiseComError(CE_RegError, errno);
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(dir.get());
    if (!entry) {
      if (errno != 0) RaiseComError(CE_RegError, errno);
      return;
    }
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") visit(std::string(name), entry->d_type);
  }
}

bool HasDeviceLink(const std::string& ttyFolder) {
  struct stat info {};
  if (lstat((ttyFolder + "/device").c_str(), &info) == 0) return true;
  if (Absent(errno)) return false;
  RaiseComError(CE_RegError, errno);
}

// The kernel creates a ttyS entry, with a device link, for every legacy 8250 slot it
// reserves; "type" 0 says no UART answered there. A port whose type cannot be read is
// kept: better one entry too many than a real port the operator cannot choose.
bool UartPresent(const std::string& ttyFolder) {
  const int fd = ::open((ttyFolder + "/type").c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return true;
  char text[32] = {};
  const auto n = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  if (n <= 0) return true;
  char* end = nullptr;
  const long type = std::strtol(text, &end, 10);
  if (end == text) return true;
  return type != 0;
}

bool IsSerialTty(const std::string& ttyFolder, std::string_view name) {
  if (!HasDeviceLink(ttyFolder)) return false;
  return !name.starts_with("ttyS") || UartPresent(ttyFolder);
}

// A virtual port is a link whose own target is a pty slave. The target is not followed
// further: /dev/stdin and its kind lead through /proc/self/fd to whatever terminal the
// tool was started from, which is no port.
bool LinksToPtySlave(const std::string& link) {
  char target[4096];
  const auto n = readlink(link.c_str(), target, sizeof target - 1);
  if (n < 0) {
    if (Absent(errno) || errno == EINVAL) return false;
    RaiseComError(CE_RegError, errno);
  }
  std::filesystem::path path(std::string(target, static_cast<std::size_t>(n)));
  if (path.is_relative()) path = std::filesystem::path(link).parent_path() / path;
  const std::string resolved = path.lexically_normal().string();
  if (!resolved.starts_with(kPtsFolder) || !AllDigits(std::string_view(resolved).substr(kPtsFolder.size())))
    return false;
  struct stat info {};
  return stat(resolved.c_str(), &info) == 0 && S_ISCHR(info.st_mode);
}

bool IsSymlink(const std::string& path, unsigned char type) {
  if (type != DT_UNKNOWN) return type == DT_LNK;
  struct stat info {};
  if (lstat(path.c_str(), &info) == 0) return S_ISLNK(info.st_mode);
  if (Absent(errno)) return false;
  RaiseComError(CE_RegError, errno);
}

// Case-insensitive, one character after the other: digits compare as characters.
bool PortNameLess(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](unsigned char x, unsigned char y) {
                                        return std::tolower(x) < std::tolower(y);
                                      });
}

}  // namespace

std::vector<std::string> ComPortNames(const std::string& ttyClassDir, const std::string& devDir) {
  std::vector<std::string> names;
  ForEachEntry(ttyClassDir, [&](const std::string& name, unsigned char) {
    if (IsSerialTty(ttyClassDir + "/" + name, name)) names.push_back(devDir + "/" + name);
  });
  ForEachEntry(devDir, [&](const std::string& name, unsigned char type) {
    const std::string path = devDir + "/" + name;
    if (IsSymlink(path, type) && LinksToPtySlave(path)) names.push_back(path);
  });
  std::sort(names.begin(), names.end(), PortNameLess);
  return names;
}
