#include "serialization/file_io.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "hash.hpp"
#include "serialization/bincode.hpp"

namespace torvex {

namespace {

constexpr const char* kOpenFailed = "Failed to open file ";
constexpr const char* kReadFailed = "Failed to mmap file ";
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
  struct stat status {};
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

// Runs a system call again while signals interrupt it and the handler agrees; the call's
// result, with errno EINTR when the handler gave up.
template <class Call>
auto retry_interrupted(const InterruptHandler& interrupted, Call&& call) {
  for (;;) {
    const auto result = call();
    if (result >= 0 || errno != EINTR)
      return result;
    if (interrupted && !interrupted()) {
      errno = EINTR;
      return result;
    }
  }
}

// Linux releases the descriptor even when close reports EINTR, so that is no failure.
int close_file(int fd) {
  return ::close(fd) == 0 || errno == EINTR ? 0 : -1;
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

// Takes the advisory lock `operation` (LOCK_SH or LOCK_EX) on a regular file: in-place writers
// take it exclusively and readers shared, so that a reader never sees a rewrite half done and
// two rewrites never interleave. The kernel drops it when the descriptor is closed or its
// process dies. The wait polls rather than blocks, so that the handler is also asked when a
// signal came just before a wait began. A file system without locks goes on unlocked.
// Errors: false with errno EINTR when the handler gave up.
bool wait_for_lock(int fd, int operation, const InterruptHandler& interrupted,
                   const WaitRunner& waiting = {}) {
  if (::flock(fd, operation | LOCK_NB) == 0)
    return true;
  // ENOLCK, EOPNOTSUPP, EINVAL: no locks here.
  if (errno != EWOULDBLOCK && errno != EINTR)
    return true;
  bool locked = true;
  const auto wait = [&] {
    constexpr std::chrono::milliseconds kLongestPause{20};
    std::chrono::microseconds pause{250};
    do {
      std::this_thread::sleep_for(pause);
      if (interrupted && !interrupted()) {
        locked = false;
        return;
      }
      pause = std::min<std::chrono::microseconds>(pause * 2, kLongestPause);
    } while (::flock(fd, operation | LOCK_NB) != 0 && (errno == EWOULDBLOCK || errno == EINTR));
  };
  if (waiting)
    waiting(wait);
  else
    wait();
  errno = locked ? 0 : EINTR;
  return locked;
}

}  // namespace

std::string os_error_text(int error_number) {
  return std::system_category().message(error_number) + " (os error " +
         std::to_string(error_number) + ")";
}

// --- reading ----------------------------------------------------------------------------------

Result<FileBytes> read_file(const std::string& path, const InterruptHandler& interrupted,
                            const WaitRunner& waiting) {
  if (has_nul(path))
    return file_error(kOpenFailed, path, kNulInPath);
  // O_NONBLOCK: opening a pipe must not wait for a writer; it then reads as empty.
  const int fd = retry_interrupted(
      interrupted, [&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK); });
  if (fd < 0)
    return file_error(kOpenFailed, path, os_error_text(errno));
  const auto failed = [&](int error_number) {
    (void)close_file(fd);
    return file_error(kReadFailed, path, os_error_text(error_number));
  };
  struct stat st {};
  if (::fstat(fd, &st) != 0)
    return failed(errno);
  // A directory has no bytes to read, whatever length it reports.
  if (S_ISDIR(st.st_mode))
    return failed(ENODEV);
  // A rewrite in place under way is waited for, and its length taken once it is done.
  if (S_ISREG(st.st_mode) &&
      (!wait_for_lock(fd, LOCK_SH, interrupted, waiting) || ::fstat(fd, &st) != 0)) {
    return failed(errno);
  }
  const auto length = static_cast<std::size_t>(st.st_size);
  FileBytes out;
  out.data = std::make_unique_for_overwrite<std::uint8_t[]>(length);
  while (out.size < length) {
    const ssize_t n = retry_interrupted(
        interrupted, [&] { return ::read(fd, out.data.get() + out.size, length - out.size); });
    if (n < 0)
      return failed(errno);
    if (n == 0)
      break;  // the file shrank since fstat
    out.size += static_cast<std::size_t>(n);
  }
  (void)close_file(fd);
  return out;
}

// --- writing ----------------------------------------------------------------------------------

namespace {

// A fresh file beside the destination that can take its place, or why not.
struct Replacement {
  int fd = -1;
  std::string name;             // empty while the file has no name
  int error = 0;                // errno of a failure that ends the save
  bool write_in_place = false;  // the old file must be rewritten instead
};

bool refused_by_directory(int error_number) {
  return error_number == EACCES || error_number == EPERM;
}

std::string temporary_name(const std::string& base) {
  return "." + base.substr(0, 200) + "." + random_hex() + ".tmp";
}

// The destination's directory, for the calls relative to it: names within it stay short
// whatever the length of the path. A directory that may not be read may still be searched.
int open_directory(const std::string& directory, const InterruptHandler& interrupted) {
  const int fd = retry_interrupted(
      interrupted, [&] { return ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
  if (fd >= 0 || errno != EACCES)
    return fd;
  return ::open(directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

// Whether an unnamed file can later be given a name through /proc/self/fd.
bool can_name_unnamed_files() {
  static const bool proc_mounted = ::access("/proc/self/fd", X_OK) == 0;
  return proc_mounted;
}

// An unnamed file in `directory`: one that a killed save leaves nothing of. -1 where the
// system or the file system offers none, or refuses it for any other reason; the named road
// then reports that reason as it always did.
int create_unnamed(int directory, const InterruptHandler& interrupted) {
#ifdef O_TMPFILE
  if (can_name_unnamed_files()) {
    return retry_interrupted(interrupted, [&] {
      return ::openat(directory, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    });
  }
#endif
  (void)directory;
  (void)interrupted;
  return -1;
}

Replacement create_replacement(const Destination& dest, int directory, const std::string& base,
                               const InterruptHandler& interrupted) {
  // The kernel applies the umask to 0666.
  Replacement r;
  r.fd = create_unnamed(directory, interrupted);
  r.error = r.fd >= 0 ? 0 : EEXIST;
  for (int attempt = 0; attempt < 16 && r.error == EEXIST; ++attempt) {
    std::string name = temporary_name(base);
    r.fd = retry_interrupted(interrupted, [&] {
      return ::openat(directory, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    });
    if (r.fd >= 0) {
      r.name = std::move(name);
      r.error = 0;
      break;
    }
    r.error = errno;
  }
  if (r.fd < 0) {
    // A directory that takes no new file may still hold a file the caller can write.
    r.write_in_place = dest.exists && refused_by_directory(r.error);
    return r;
  }
  if (!dest.exists)
    return r;
  // The replacement keeps the old file's mode and owner; where the owner cannot be kept
  // (nor, in a sticky directory, could the old file be replaced), the old file is rewritten.
  const mode_t mode = dest.status.st_mode & 07777;
  (void)::fchmod(r.fd, mode);
  struct stat mine {};
  if (::fstat(r.fd, &mine) == 0 &&
      (mine.st_uid != dest.status.st_uid || mine.st_gid != dest.status.st_gid)) {
    if (::fchown(r.fd, dest.status.st_uid, dest.status.st_gid) != 0) {
      (void)close_file(std::exchange(r.fd, -1));
      if (!r.name.empty())
        ::unlinkat(directory, r.name.c_str(), 0);
      r.write_in_place = true;
      return r;
    }
    (void)::fchmod(r.fd, mode);  // chown may clear set-id bits
  }
  return r;
}

// Gives the whole unnamed file `fd` a fresh name in `directory`; -1 with errno set.
int name_unnamed(int fd, int directory, const std::string& base, std::string& name) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  for (int attempt = 0; attempt < 16; ++attempt) {
    name = temporary_name(base);
    if (::linkat(AT_FDCWD, self.c_str(), directory, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
      return 0;
    if (errno == EEXIST)
      continue;
    // Without /proc in reach; newer kernels let the opener link its own descriptor.
    if (errno != ENOENT || ::linkat(fd, "", directory, name.c_str(), AT_EMPTY_PATH) != 0)
      break;
    return 0;
  }
  name.clear();
  return -1;
}

}  // namespace

Result<std::unique_ptr<FileOutput>> FileOutput::create(const std::string& path,
                                                       const InterruptHandler& interrupted) {
  if (has_nul(path))
    return file_error(kCreateFailed, path, kNulInPath);
  std::unique_ptr<FileOutput> out(new FileOutput());
  out->buffer_ = std::make_unique<char[]>(kBufferSize);
  out->interrupted_ = interrupted;

  const std::optional<Destination> dest = resolve_destination(path);
  // Other hard links would keep the old bytes: rewrite the one file they share instead.
  const bool replace = dest && !dest->target.empty() && dest->target.back() != '/' &&
                       !(dest->exists && dest->status.st_nlink > 1);
  if (replace) {
    // A file the caller may not write stays refused, as opening it for writing would be.
    if (dest->exists && ::faccessat(AT_FDCWD, dest->target.c_str(), W_OK, AT_EACCESS) != 0) {
      return file_error(kCreateFailed, path, os_error_text(errno));
    }
    std::string base = dest->target.substr(dest->target.rfind('/') + 1);
    const int directory = open_directory(directory_of(dest->target), interrupted);
    Replacement r;
    if (directory >= 0) {
      r = create_replacement(*dest, directory, base, interrupted);
    } else {
      r.error = errno;
      r.write_in_place = dest->exists && refused_by_directory(r.error);
    }
    if (r.fd >= 0) {
      out->fd_ = r.fd;
      out->directory_ = directory;
      out->temporary_ = std::move(r.name);
      out->target_ = std::move(base);
      return out;
    }
    if (directory >= 0)
      (void)close_file(directory);
    if (!r.write_in_place)
      return file_error(kCreateFailed, path, os_error_text(r.error));
  }
  // Not truncated: the old bytes stay until begin() knows the new ones fit.
  out->fd_ = retry_interrupted(
      interrupted, [&] { return ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666); });
  if (out->fd_ < 0)
    return file_error(kCreateFailed, path, os_error_text(errno));
  struct stat opened {};
  out->in_place_ = ::fstat(out->fd_, &opened) == 0 && S_ISREG(opened.st_mode);
  return out;
}

FileOutput::~FileOutput() {
  if (fd_ >= 0) {
    give_back_reservation();
    (void)close_file(fd_);
  }
  if (!temporary_.empty())
    ::unlinkat(directory_, temporary_.c_str(), 0);
  if (directory_ >= 0)
    (void)close_file(directory_);
}

bool FileOutput::fail(int error_number) {
  failed_ = true;
  failure_ = "io error: " + os_error_text(error_number);
  return false;
}

bool FileOutput::write_fully(const char* data, std::size_t n) {
  while (n > 0) {
    const ssize_t written = retry_interrupted(interrupted_, [&] { return ::write(fd_, data, n); });
    if (written < 0)
      return fail(errno);
    if (written == 0)
      return fail(EIO);
    data += written;
    n -= static_cast<std::size_t>(written);
    written_ += static_cast<std::uint64_t>(written);
  }
  return true;
}

namespace {

// Allocates the file's first `length` bytes without changing its length; -1 with errno set.
int reserve_space(int fd, std::size_t length) {
  const auto size = static_cast<off_t>(length);
#ifdef FALLOC_FL_KEEP_SIZE
  return ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, size);
#else
  // Grows the file; commit() cuts it to the bytes written.
  const int error = ::posix_fallocate(fd, 0, size);
  errno = error;
  return error == 0 ? 0 : -1;
#endif
}

// The soft file size limit (RLIMIT_FSIZE), if there is one.
std::optional<std::uint64_t> file_size_limit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
    return std::nullopt;
  return limit.rlim_cur;
}

}  // namespace

bool FileOutput::needs_length() const {
  return in_place_ || (directory_ >= 0 && file_size_limit());
}

bool FileOutput::begin(std::size_t length, std::span<const std::uint8_t> unreadable) {
  if (failed_)
    return false;
  if (directory_ < 0 && !in_place_)
    return true;  // a pipe or a device: no length to check
  // Over the limit, the write would fail midway (after SIGXFSZ, which ends a process that
  // does not ignore it).
  if (const auto limit = file_size_limit(); limit && length > *limit)
    return fail(EFBIG);
  if (!in_place_)
    return true;
  // Another rewrite of the same file, or a reader of it, is waited for. Not before: the
  // payloads, converted between create() and begin(), may read this very file.
  if (!wait_for_lock(fd_, LOCK_EX, interrupted_))
    return fail(errno);
  if (length == 0)
    return true;
  if (retry_interrupted(interrupted_, [&] { return reserve_space(fd_, length); }) != 0) {
    const int error = errno;
    if (error != EOPNOTSUPP && error != ENOSYS) {
      reserved_ = length;  // a failed claim may still hold part of it
      give_back_reservation();
      return fail(error);
    }
    // Nothing to reserve with here; a full disk then fails midway, on an unreadable file.
  } else {
    reserved_ = length;
  }
  // The unreadable start reaches the disk before any new byte can.
  if (!write_fully(reinterpret_cast<const char*>(unreadable.data()), unreadable.size()))
    return false;
  if (retry_interrupted(interrupted_, [&] { return ::fdatasync(fd_); }) != 0)
    return fail(errno);
  held_back_ = unreadable.size();
  head_.reserve(held_back_);
  return true;
}

void FileOutput::give_back_reservation() noexcept {
  const std::uint64_t reserved = std::exchange(reserved_, 0);
  struct stat st {};
  if (reserved == 0 || ::fstat(fd_, &st) != 0)
    return;
#ifdef FALLOC_FL_PUNCH_HOLE
  // For file systems that keep such blocks through a cut; ext4 ignores a hole past the end.
  if (static_cast<std::uint64_t>(st.st_size) < reserved) {
    (void)::fallocate(fd_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, st.st_size,
                      static_cast<off_t>(reserved) - st.st_size);
  }
#endif
  // Cutting a file to its own length drops the blocks claimed beyond its end (ext4, tmpfs).
  (void)retry_interrupted({}, [&] { return ::ftruncate(fd_, st.st_size); });
}

bool FileOutput::flush_buffer() {
  const std::size_t n = std::exchange(buffered_, 0);
  return write_fully(buffer_.get(), n);
}

bool FileOutput::write(const void* data, std::size_t n) {
  if (failed_)
    return false;
  if (head_.size() < held_back_) {
    const std::size_t taken = std::min(n, held_back_ - head_.size());
    head_.append(static_cast<const char*>(data), taken);
    data = static_cast<const char*>(data) + taken;
    n -= taken;
  }
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
  if (directory_ < 0) {
    if (!in_place_)
      return true;  // the destructor closes it
    // Whatever is left of the old bytes goes, and the rest is on disk before the held-back
    // start makes the file readable.
    const std::uint64_t length = written_ - (held_back_ - head_.size());
    if (retry_interrupted(interrupted_,
                          [&] { return ::ftruncate(fd_, static_cast<off_t>(length)); }) != 0 ||
        (held_back_ > 0 &&
         retry_interrupted(interrupted_, [&] { return ::fdatasync(fd_); }) != 0)) {
      return fail(errno);
    }
    // Every other byte is in place: a signal now only delays the last steps.
    for (std::size_t done = 0; done < head_.size();) {
      const ssize_t n = retry_interrupted(
          {}, [&] { return ::pwrite(fd_, head_.data() + done, head_.size() - done, done); });
      if (n <= 0)
        return fail(n < 0 ? errno : EIO);
      done += static_cast<std::size_t>(n);
    }
    if (held_back_ > 0 && retry_interrupted({}, [&] { return ::fdatasync(fd_); }) != 0)
      return fail(errno);
    reserved_ = 0;
    (void)::flock(fd_, LOCK_UN);  // whole: readers and other rewrites need not wait for the close
    return true;
  }
  if (retry_interrupted(interrupted_, [&] { return ::fsync(fd_); }) != 0)
    return fail(errno);
  // Only a whole file gets a name, just before it takes the target's.
  if (temporary_.empty() && name_unnamed(fd_, directory_, target_, temporary_) != 0)
    return fail(errno);
  if (close_file(std::exchange(fd_, -1)) != 0)
    return fail(errno);
  if (::renameat(directory_, temporary_.c_str(), directory_, target_.c_str()) != 0)
    return fail(errno);
  temporary_.clear();
  // Make the rename itself durable; a directory that refuses fsync changes nothing above.
  // The file is in place: a signal now only delays the call, it cannot end it.
  (void)retry_interrupted({}, [&] { return ::fsync(directory_); });
  return true;
}

}  // namespace torvex
