// Files for the binary form: a read-only memory map, and a buffered output that replaces its
// target only once every byte is safely on disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "errors.hpp"

namespace torvex {

// "<description> (os error <n>)".
std::string os_error_text(int error_number);

// The whole file mapped read-only for the object's lifetime; an empty file maps to no bytes.
// The file must not shrink while mapped (the operating system would fault the reader).
class MappedFile {
 public:
  // Opens without blocking on a pipe or device.
  // Errors: Graph "Failed to open file {}: {}" or "Failed to mmap file {}: {}", naming `path`
  // as given (a path with a NUL byte cannot be opened).
  static Result<MappedFile> open(const std::string& path);

  MappedFile(MappedFile&& other) noexcept;
  MappedFile& operator=(MappedFile&&) = delete;
  MappedFile(const MappedFile&) = delete;
  ~MappedFile();

  std::span<const std::uint8_t> bytes() const noexcept { return {data_, size_}; }

 private:
  MappedFile(const std::uint8_t* data, std::size_t size) noexcept : data_(data), size_(size) {}

  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

// Writes through an 8192-byte buffer. A regular file (or a missing one) is written to a fresh
// temporary file beside it, flushed to disk and renamed over the path by commit(); until then,
// and after any failure, the old file is untouched and the temporary file is removed when the
// object dies. A symbolic link is followed and its final target replaced. A path that exists
// but is no regular file (a device, a pipe) is opened and written in place.
// A new file gets mode 0666 less the umask; a replaced file keeps its mode.
class FileOutput {
 public:
  // Errors: Graph "Failed to create file {}: {}" naming `path` as given.
  static Result<std::unique_ptr<FileOutput>> create(const std::string& path);
  ~FileOutput();
  FileOutput(const FileOutput&) = delete;
  FileOutput& operator=(const FileOutput&) = delete;

  // The sink interface of the binary encoder: false once a write failed.
  bool write(const void* data, std::size_t n);
  // The failure of the last write, commit or flush: "io error: ...".
  std::string failure() const { return failure_; }

  // Flushes, syncs and puts the file in place.
  // Errors: false with failure() set; the old file stays as it was.
  bool commit();

 private:
  FileOutput() = default;
  bool flush_buffer();
  bool write_fully(const char* data, std::size_t n);
  bool fail(int error_number);

  int fd_ = -1;
  std::string target_;     // the path the temporary file replaces; empty when writing in place
  std::string temporary_;  // removed by the destructor unless committed
  bool failed_ = false;
  std::string failure_;
  std::unique_ptr<char[]> buffer_;
  std::size_t buffered_ = 0;
};

}  // namespace torvex
