// Files for the binary form: the whole file read into memory, and a buffered output that
// replaces its target only once every byte is safely on disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "errors.hpp"

namespace torvex {

// "<description> (os error <n>)".
std::string os_error_text(int error_number);

// Asked after a signal interrupted a system call, and now and then while a lock is waited for:
// true retries the call or waits on, false gives it up, which fails it with EINTR. An empty
// handler always retries.
using InterruptHandler = std::function<bool()>;
// Runs a wait for a lock that another process or thread holds (the interpreter lock of the
// program around the core may be released meanwhile). An empty runner waits in place.
using WaitRunner = std::function<void(const std::function<void()>&)>;

// Bytes read from a file, in memory of their own.
struct FileBytes {
  std::unique_ptr<std::uint8_t[]> data;
  std::size_t size = 0;
  std::span<const std::uint8_t> bytes() const noexcept { return {data.get(), size}; }
};

// The file's bytes, read with ordinary reads into private memory: whatever another process
// does to the file meanwhile can change what is read but never fault the reader. Reads up to
// the length the file had when opened; a file that shrinks meanwhile gives fewer bytes. An
// empty file (or a pipe or device, which report no length) gives no bytes and is never read,
// so a pipe without a writer does not block. A regular file is read under a shared lock, so a
// rewrite in place (FileOutput) under way is waited for.
// Errors: Graph "Failed to open file {}: {}" or "Failed to mmap file {}: {}" (no length, a
// directory, a failed read), naming `path` as given (a path with a NUL byte cannot be opened).
Result<FileBytes> read_file(const std::string& path, const InterruptHandler& interrupted = {},
                            const WaitRunner& waiting = {});

// Writes through an 8192-byte buffer. A regular file (or a missing one) is written to a fresh
// temporary file beside it, flushed to disk and renamed over the path by commit(); until then,
// and after any failure, the old file is untouched and the temporary file is removed when the
// object dies. Where the system offers one, the temporary file has no name until commit(), so
// a killed process leaves nothing behind. A symbolic link is followed and its final target
// replaced; the temporary file is made relative to the target's directory, so any path the
// system accepts works.
// The path is opened and written in place where a new file could not stand in for the old
// one: no regular file there (a device, a pipe), a file with other hard links (they would keep
// the old bytes), a directory that takes no new file, or an owner the new file cannot be
// given. A regular file written in place is overwritten from the start and cut to the new
// length by commit(); begin() first makes a full disk fail before the old bytes are touched,
// and keeps the file unreadable until it is whole. Such a file is held under an exclusive lock
// from begin() until commit() succeeds or the object dies: other rewrites and read_file() wait
// for it, and begin() waits for them.
// A new file gets mode 0666 less the umask; a replaced file keeps its mode and owner.
class FileOutput {
 public:
  // `interrupted` is kept for the later writes.
  // Errors: Graph "Failed to create file {}: {}" naming `path` as given.
  static Result<std::unique_ptr<FileOutput>> create(const std::string& path,
                                                    const InterruptHandler& interrupted = {});
  ~FileOutput();
  FileOutput(const FileOutput&) = delete;
  FileOutput& operator=(const FileOutput&) = delete;

  // The sink interface of the binary encoder: false once a write failed.
  bool write(const void* data, std::size_t n);
  // The failure of the last write, commit or flush: "io error: ...".
  std::string failure() const { return failure_; }

  // Whether the path itself is rewritten (a regular file written in place).
  bool writes_in_place() const { return in_place_; }
  // Whether begin() looks at its length: written in place, or a regular file under a file
  // size limit. Elsewhere the length need not be counted.
  bool needs_length() const;
  // Before the first write, with the exact `length` to come (any value where !needs_length()):
  // a regular file that a file size limit (RLIMIT_FSIZE) keeps below that length fails here,
  // before it is touched. Writing in place, the file's lock is taken next (the wait fails with
  // EINTR when the handler gives it up), then the disk space is claimed (a disk too full
  // fails here too, the old file as it was); then `unreadable` is written over the start of the
  // file and synced, and as many bytes at the start of the output are held back until commit()
  // writes them last. Until then a killed or failed save leaves a file that its reader refuses,
  // never a mix of old and new.
  // Errors: false with failure() set.
  bool begin(std::size_t length, std::span<const std::uint8_t> unreadable);

  // Flushes, syncs and puts the file in place.
  // Errors: false with failure() set; the old file stays as it was, or, written in place, its
  // start stays unreadable. Space claimed beyond the file's end is given back on failure.
  bool commit();

 private:
  FileOutput() = default;
  bool flush_buffer();
  bool write_fully(const char* data, std::size_t n);
  bool fail(int error_number);
  void give_back_reservation() noexcept;

  int fd_ = -1;
  InterruptHandler interrupted_;
  int directory_ = -1;         // the target's directory; -1 when writing in place
  std::string target_;         // the name in it that the temporary file replaces
  std::string temporary_;      // its name there, if any; removed by the destructor unless committed
  bool in_place_ = false;      // a regular file rewritten where it is
  std::uint64_t written_ = 0;  // bytes written through the descriptor
  std::uint64_t reserved_ = 0;  // the length claimed by begin(), until commit() succeeds
  std::size_t held_back_ = 0;   // bytes of the output's start that commit() writes last
  std::string head_;            // those bytes, as they arrive
  bool failed_ = false;
  std::string failure_;
  std::unique_ptr<char[]> buffer_;
  std::size_t buffered_ = 0;
};

}  // namespace torvex
