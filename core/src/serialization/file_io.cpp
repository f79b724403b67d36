#include "serialization/file_io.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <system_error>
#include <utility>

#include "hash.hpp"
#include "serialization/bincode.hpp"

namespace torvex {

namespace {

constexpr const char* kOpenFailed = "Failed to open file ";
constexpr const char* kMmapFailed = "Failed to mmap file ";
constexpr const char* kCreateFailed = "Failed to create file ";
constexpr const char* kNulInPath = "file name contained an unexpected NUL byte";

constexpr std::size_t kBufferSize = 8192;
constexpr int kMaxLinkHops = 40;  // as the kernel allows before ELOOP

TorvexError file_error(const char* what, const std::string& path, std::string_view reason) {
  return TorvexError::graph(what + path + ": " + std::string(reason));
}

bool has_nul(const std::string& path) {
  return path.find('\0') != std::string::npos;
}

std::string directory_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos)
    return ".";
  if (slash == 0)
    return "/";
  return path.substr(0, slash);
}

// Where a write to `path` lands: the final target of its symbolic links, and whether that
// is a regular file (with its mode and owner) or missing. Nothing when the path should be
// opened as it is: no regular file there, or the links cannot be followed (open reports why).
struct Destination {
  std::string target;
  bool exists = false;
  struct stat status{};
};

std::optional<Destination> resolve_destination(const std::string& path) {
  Destination d;
  d.target = path;
  for (int hops = 0; hops <= kMaxLinkHops; ++hops) {
    if (::lstat(d.target.c_str(), &d.status) != 0) {
      if (errno != ENOENT)
        return std::nullopt;
      d.exists = false;
      return d;
    }
    if (S_ISREG(d.status.st_mode)) {
      d.exists = true;
      return d;
    }
    if (!S_ISLNK(d.status.st_mode))
      return std::nullopt;
    std::string link(static_cast<std::size_t>(d.status.st_size) + 1, '\0');
    const ssize_t n = ::readlink(d.target.c_str(), link.data(), link.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= link.size())
      return std::nullopt;
    link.resize(static_cast<std::size_t>(n));
    d.target = link[0] == '/' ? link : directory_of(d.target) + "/" + link;
  }
  return std::nullopt;
}

std::string random_hex() {
  static constexpr char kHex[] = "0123456789abcdef";
  std::uint64_t r = random_seed();
  std::string out(16, '0');
  for (char& c : out) {
    c = kHex[r & 0xF];
    r >>= 4;
  }
  return out;
}

}  // namespace

std::string os_error_text(int error_number) {
  return std::system_category().message(error_number) + " (os error " +
         std::to_string(error_number) + ")";
}

// --- reading ----------------------------------------------------------------------------------

Result<MappedFile> MappedFile::open(const std::string& path) {
  if (has_nul(path))
    return file_error(kOpenFailed, path, kNulInPath);
  // O_NONBLOCK: opening a pipe must not wait for a writer; it then reads as empty.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0)
    return file_error(kOpenFailed, path, os_error_text(errno));
  struct stat st{};
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    return file_error(kMmapFailed, path, os_error_text(err));
  }
  const auto size = static_cast<std::size_t>(st.st_size);
  if (size == 0 && !S_ISDIR(st.st_mode)) {
    ::close(fd);
    return MappedFile(nullptr, 0);
  }
  // A directory cannot be mapped whatever size it reports; let mmap say so.
  void* data = ::mmap(nullptr, size == 0 ? 1 : size, PROT_READ, MAP_PRIVATE, fd, 0);
  const int err = errno;
  ::close(fd);  // the mapping keeps the file alive
  if (data == MAP_FAILED)
    return file_error(kMmapFailed, path, os_error_text(err));
  return MappedFile(static_cast<const std::uint8_t*>(data), size);
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

MappedFile::~MappedFile() {
  if (data_ != nullptr)
    ::munmap(const_cast<std::uint8_t*>(data_), size_);
}

// --- writing ----------------------------------------------------------------------------------

Result<std::unique_ptr<FileOutput>> FileOutput::create(const std::string& path) {
  if (has_nul(path))
    return file_error(kCreateFailed, path, kNulInPath);
  std::unique_ptr<FileOutput> out(new FileOutput());
  out->buffer_ = std::make_unique<char[]>(kBufferSize);

  const std::optional<Destination> dest = resolve_destination(path);
  const bool replace = dest && !dest->target.empty() && dest->target.back() != '/';
  if (!replace) {
    out->fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (out->fd_ < 0)
      return file_error(kCreateFailed, path, os_error_text(errno));
    return out;
  }

  // A file the caller may not write stays refused, as opening it for writing would be.
  if (dest->exists && ::faccessat(AT_FDCWD, dest->target.c_str(), W_OK, AT_EACCESS) != 0) {
    return file_error(kCreateFailed, path, os_error_text(errno));
  }

  // A fresh name beside the target; the kernel applies the umask to 0666.
  const std::string directory = directory_of(dest->target);
  const std::string base = dest->target.substr(dest->target.rfind('/') + 1);
  int err = EEXIST;
  for (int attempt = 0; attempt < 16 && err == EEXIST; ++attempt) {
    std::string name = directory + "/." + base.substr(0, 200) + "." + random_hex() + ".tmp";
    out->fd_ = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (out->fd_ >= 0) {
      out->temporary_ = std::move(name);
      break;
    }
    err = errno;
  }
  if (out->fd_ < 0)
    return file_error(kCreateFailed, path, os_error_text(err));
  out->target_ = dest->target;
  if (dest->exists) {
    // The replacement keeps the old file's mode and, where permitted, its owner.
    (void)::fchmod(out->fd_, dest->status.st_mode & 07777);
    struct stat mine{};
    if (::fstat(out->fd_, &mine) == 0 &&
        (mine.st_uid != dest->status.st_uid || mine.st_gid != dest->status.st_gid)) {
      (void)::fchown(out->fd_, dest->status.st_uid, dest->status.st_gid);
      (void)::fchmod(out->fd_, dest->status.st_mode & 07777);  // chown may clear set-id bits
    }
  }
  return out;
}

FileOutput::~FileOutput() {
  if (fd_ >= 0)
    ::close(fd_);
  if (!temporary_.empty())
    ::unlink(temporary_.c_str());
}

bool FileOutput::fail(int error_number) {
  failed_ = true;
  failure_ = "io error: " + os_error_text(error_number);
  return false;
}

bool FileOutput::write_fully(const char* data, std::size_t n) {
  while (n > 0) {
    const ssize_t written = ::write(fd_, data, n);
    if (written < 0) {
      if (errno == EINTR)
        continue;
      return fail(errno);
    }
    if (written == 0)
      return fail(EIO);
    data += written;
    n -= static_cast<std::size_t>(written);
  }
  return true;
}

bool FileOutput::flush_buffer() {
  const std::size_t n = std::exchange(buffered_, 0);
  return write_fully(buffer_.get(), n);
}

bool FileOutput::write(const void* data, std::size_t n) {
  if (failed_)
    return false;
  if (buffered_ + n > kBufferSize && !flush_buffer())
    return false;
  if (n >= kBufferSize)
    return write_fully(static_cast<const char*>(data), n);
  std::memcpy(buffer_.get() + buffered_, data, n);
  buffered_ += n;
  return true;
}

bool FileOutput::commit() {
  if (failed_ || !flush_buffer())
    return false;
  if (temporary_.empty())
    return true;  // written in place; the destructor closes it
  if (::fsync(fd_) != 0)
    return fail(errno);
  const int fd = std::exchange(fd_, -1);
  if (::close(fd) != 0)
    return fail(errno);
  if (::rename(temporary_.c_str(), target_.c_str()) != 0)
    return fail(errno);
  temporary_.clear();
  // Make the rename itself durable; a directory that refuses fsync changes nothing above.
  const int dir = ::open(directory_of(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    (void)::fsync(dir);
    ::close(dir);
  }
  return true;
}

}  // namespace torvex
