#include "platform/crypt/ZstdPatch.h"

#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_d_stableOutBuffer: write the result straight into its file
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <memory>
#include <new>
#include <mutex>
#include <vector>

#include "platform/core_guard.h"
#include "platform/crypt/FileMapping.h"
#include "platform/diagnostics/Diagnostics.h"
#include "platform/win32/Files.h"

namespace {

struct CCtxDeleter {
  void operator()(ZSTD_CCtx* context) const { ZSTD_freeCCtx(context); }
};
struct DCtxDeleter {
  void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
};
using DecoderContext = std::unique_ptr<ZSTD_DCtx, DCtxDeleter>;

// Every this many bytes of output the pages of the base and of the result are
// let go of (they stay in the page cache; a later look back faults them in
// again), so that resident memory does not grow with the file.
constexpr std::size_t kTrimBytes = 8u << 20;

constexpr std::size_t kInputSlice = 1024;

// Files up to this size are decoded in memory instead: a read and a write
// cost less than mapping them, and nothing of them can fault.
constexpr std::size_t kInMemoryBytes = 8u << 20;

// Reads the size bytes of fd from its start into bytes.
bool ReadAll(int fd, std::size_t size, std::string& bytes) {
  try {
    bytes.resize(size);
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    return false;
  }
  for (std::size_t done = 0; done < size;) {
    const long long n = ReadDescriptorAt(fd, bytes.data() + done, size - done, static_cast<long long>(done));
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

struct Output {
  unsigned char* data;
  std::size_t size;
};

// What DecodeFrame needs besides the frame: no object with a destructor lives
// in its frame, so that a fault in a mapping can jump out of it (see
// GuardedDecode).
struct DecodeJob {
  ZSTD_DCtx* context;
  Output output;
  CStreamDigest* digest;  // null: none
  // Reads up to capacity more bytes of the frame; -1 on a read error.
  long (*read)(void* source, unsigned char* into, std::size_t capacity);
  void* source;
  void (*trim)(void* owner, std::size_t produced);  // null: nothing to let go
  void* owner;
  unsigned char* input;
  std::size_t inputCapacity;
};

// Null on success, else the cause.
const char* DecodeFrame(const DecodeJob& job, std::size_t& zstdError) {
  ZSTD_outBuffer out{job.output.data, job.output.size, 0};
  std::size_t hashed = 0;
  std::size_t trimmed = 0;
  bool headerChecked = false;
  std::size_t pending = 1;  // ZSTD_decompressStream's hint; 0 once the frame is complete
  while (pending != 0) {
    const long got = job.read(job.source, job.input, job.inputCapacity);
    if (got < 0) return "cannot be read";
    if (got == 0) return "ends before its frame does";
    ZSTD_inBuffer in{job.input, static_cast<std::size_t>(got), 0};
    if (!headerChecked) {
      // The frame's own claims are checked before any work: its size must be
      // the listed size, when it names one.
      ZSTD_frameHeader header{};
      if (ZSTD_getFrameHeader(&header, in.src, in.size) == 0) {
        headerChecked = true;
        if (header.frameType != ZSTD_frame) return "is not a zstd frame";
        if (header.frameContentSize != ZSTD_CONTENTSIZE_UNKNOWN && header.frameContentSize != job.output.size)
          return "decodes to another size than the file's";
      }
    }
    while (in.pos < in.size && pending != 0) {
      const std::size_t before = out.pos;
      // A patch's blocks are a few bytes each for up to 128 KiB of output:
      // fed a little at a time, the decoder returns often enough for the
      // digest and the trimming to keep up.
      ZSTD_inBuffer slice{in.src, std::min(in.size, in.pos + kInputSlice), in.pos};
      pending = ZSTD_decompressStream(job.context, &out, &slice);
      in.pos = slice.pos;
      if (ZSTD_isError(pending)) {
        zstdError = pending;
        return ZSTD_getErrorCode(pending) == ZSTD_error_dstSize_tooSmall ? "decodes to more than the file's size"
                                                                         : "is corrupt";
      }
      if (job.digest != nullptr && out.pos > hashed) {
        job.digest->Update(job.output.data + hashed, out.pos - hashed);
        hashed = out.pos;
      }
      if (job.trim != nullptr && out.pos - trimmed >= kTrimBytes) {
        job.trim(job.owner, out.pos);
        trimmed = out.pos;
      }
      // Output full and the frame wants more: it is larger than the file.
      if (pending != 0 && out.pos == out.size && out.pos == before && in.pos < in.size)
        return "decodes to more than the file's size";
    }
    if (pending == 0 && in.pos < in.size) return "has bytes after its frame";
  }
  if (job.read(job.source, job.input, 1) != 0) return "has bytes after its frame";
  if (out.pos != job.output.size) return "decodes to fewer bytes than the file's size";
  return nullptr;
}

// A decoder bounded for a result of size bytes against a base of baseSize
// bytes, writing straight into the caller's output.
DecoderContext MakeDecoder(std::string_view base, std::uint64_t size, std::string& cause) {
  const unsigned windowLog = ZstdWindowLog(base.size(), size);
  if (windowLog == 0) {
    cause = "the file is too large for a zstd window of 2^" + std::to_string(kMaxZstdWindowLog) + " bytes";
    return nullptr;
  }
  DecoderContext context(ZSTD_createDCtx());
  if (!context ||
      ZSTD_isError(ZSTD_DCtx_setParameter(context.get(), ZSTD_d_windowLogMax, static_cast<int>(windowLog))) ||
      ZSTD_isError(ZSTD_DCtx_setParameter(context.get(), ZSTD_d_stableOutBuffer, 1)) ||
      (!base.empty() && ZSTD_isError(ZSTD_DCtx_refPrefix(context.get(), base.data(), base.size())))) {
    cause = "the zstd decoder cannot be set up";
    return nullptr;
  }
  return context;
}

std::string Explain(const char* problem, std::size_t zstdError) {
  std::string text = problem;
  if (zstdError != 0) text += std::string(" (") + ZSTD_getErrorName(zstdError) + ")";
  return text;
}

// Runs the decode with faults in a mapped file turned into a failure.
const char* GuardedDecode(const DecodeJob& job, std::size_t& zstdError) {
  return RunGuardedAgainstMappingFaults(
      [](const void* decodeJob, std::size_t& error) { return DecodeFrame(*static_cast<const DecodeJob*>(decodeJob), error); },
      &job, zstdError, "could not be applied: a mapped file changed or could not be read");
}

struct FileSource {
  int fd;
};

long ReadFromFile(void* source, unsigned char* into, std::size_t capacity) {
  return static_cast<long>(ReadDescriptor(static_cast<FileSource*>(source)->fd, into, capacity));
}

struct MemorySource {
  std::string_view rest;
};

long ReadFromMemory(void* source, unsigned char* into, std::size_t capacity) {
  auto& memory = *static_cast<MemorySource*>(source);
  const std::size_t n = std::min(capacity, memory.rest.size());
  std::copy_n(memory.rest.data(), n, into);
  memory.rest.remove_prefix(n);
  return static_cast<long>(n);
}

struct TrimTarget {
  CFileMapping* base;
  CFileMapping* output;
  int outputFd;
};

void TrimMappings(void* owner, std::size_t produced) {
  const auto& target = *static_cast<TrimTarget*>(owner);
  // The written pages go to the page cache (dirty, on their way to disk);
  // the base's pages drop from this process only.
  target.output->DropPages(produced);
  target.base->DropPages(target.base->Size());
  StartWriteBack(target.outputFd);
}

struct Descriptor {
  int fd = -1;
  explicit Descriptor(int fd) : fd(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd >= 0) CloseDescriptor(fd);
  }
};

}  // namespace

unsigned ZstdWindowLog(std::uint64_t baseSize, std::uint64_t targetSize) {
  const std::uint64_t reach = std::max(baseSize, targetSize);
  const unsigned log = reach == 0 ? 0u : static_cast<unsigned>(std::bit_width(reach));
  const unsigned windowLog = std::max<unsigned>(log, ZSTD_WINDOWLOG_MIN);
  return windowLog > kMaxZstdWindowLog ? 0 : windowLog;
}

bool EncodeZstd(std::string_view base, std::string_view target, int level, std::string& frame, std::string& error) {
  const unsigned windowLog = ZstdWindowLog(base.size(), target.size());
  if (windowLog == 0) {
    error = "too large for a zstd window of 2^" + std::to_string(kMaxZstdWindowLog) + " bytes";
    return false;
  }
  std::unique_ptr<ZSTD_CCtx, CCtxDeleter> context(ZSTD_createCCtx());
  const auto set = [&](ZSTD_cParameter parameter, int value) {
    return !ZSTD_isError(ZSTD_CCtx_setParameter(context.get(), parameter, value));
  };
  if (!context || !set(ZSTD_c_compressionLevel, level) || !set(ZSTD_c_enableLongDistanceMatching, 1) ||
      !set(ZSTD_c_windowLog, static_cast<int>(windowLog)) || !set(ZSTD_c_checksumFlag, 1) ||
      !set(ZSTD_c_contentSizeFlag, 1) ||
      (!base.empty() && ZSTD_isError(ZSTD_CCtx_refPrefix(context.get(), base.data(), base.size())))) {
    error = "the zstd encoder cannot be set up";
    return false;
  }
  frame.resize(ZSTD_compressBound(target.size()));
  const std::size_t written = ZSTD_compress2(context.get(), frame.data(), frame.size(), target.data(), target.size());
  if (ZSTD_isError(written)) {
    error = ZSTD_getErrorName(written);
    return false;
  }
  frame.resize(written);
  frame.shrink_to_fit();
  return true;
}

bool DecodeZstd(std::string_view frame, std::string_view base, std::uint64_t size, std::string& output,
                std::string& cause) {
  output.clear();
  DecoderContext context = MakeDecoder(base, size, cause);
  if (!context) return false;
  output.resize(static_cast<std::size_t>(size));
  std::vector<unsigned char> input(ZSTD_DStreamInSize());
  MemorySource source{frame};
  const DecodeJob job{context.get(), {reinterpret_cast<unsigned char*>(output.data()), output.size()},
                      nullptr,       &ReadFromMemory,
                      &source,       nullptr,
                      nullptr,       input.data(),
                      input.size()};
  std::size_t zstdError = 0;
  if (const char* problem = GuardedDecode(job, zstdError); problem != nullptr) {
    cause = Explain(problem, zstdError);
    output.clear();
    return false;
  }
  return true;
}

bool DecodeZstdFile(const std::string& framePath, const std::string& basePath, const std::string& localPath,
                    std::uint64_t size, CStreamDigest& digest, std::string& cause) {
  digest.Reset();
  const std::string part = localPath + ".part";
  DeleteFileA(localPath.c_str());
  const auto fail = [&](const std::string& text) {
    cause = text;
    DeleteFileA(part.c_str());
    return false;
  };
  if (size > static_cast<std::uint64_t>(SIZE_MAX / 2)) return fail("the file is too large to map");

  CFileMapping base;
  std::string baseBytes;
  std::string_view prefix;
  if (!basePath.empty()) {
    const Descriptor fd(OpenRegularFileForReading(basePath));
    const long long baseLength = fd.fd < 0 ? -1 : DescriptorSize(fd.fd);
    if (baseLength < 0)
      return fail("cannot read the installed " + NativePath(basePath) + ": " + diagnostics::ErrorText(errno));
    const auto baseSize = static_cast<std::size_t>(baseLength);
    if (baseSize <= kInMemoryBytes || !FileMappingAvailable()) {
      if (!ReadAll(fd.fd, baseSize, baseBytes))
        return fail("cannot read the installed " + NativePath(basePath) + ": " + diagnostics::ErrorText(errno));
      prefix = baseBytes;
    } else {
      if (!base.Map(fd.fd, baseSize, false))
        return fail("cannot map the installed " + NativePath(basePath) + ": " + diagnostics::ErrorText(errno));
      base.AdviseSequential();
      prefix = std::string_view(reinterpret_cast<const char*>(base.Data()), base.Size());
    }
  }
  DecoderContext context = MakeDecoder(prefix, size, cause);
  if (!context) return fail(cause);

  const Descriptor frame(OpenRegularFileForReading(framePath));
  if (frame.fd < 0) return fail("cannot read " + NativePath(framePath) + ": " + diagnostics::ErrorText(errno));
  // The result is written in place of an empty ".part": never a link, never
  // another user's file. A large one is mapped, its space reserved first so
  // that a full disk fails here rather than as a fault in the mapping.
  Descriptor out(OpenFileForWriting(part.c_str()));
  const auto writeFailed = [&](int error) {
    return fail("cannot write " + NativePath(part) + ": " + diagnostics::ErrorText(error));
  };
  if (out.fd < 0 || !TruncateDescriptor(out.fd, 0)) return writeFailed(errno);
  const bool inMemory = size <= kInMemoryBytes || !FileMappingAvailable();
  std::string buffer;
  CFileMapping result;
  if (inMemory) {
    // Without mappings (see FileMapping.h) a large file is decoded here too;
    // memory running out then fails this patch, and the plain file is fetched.
    try {
      buffer.resize(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc&) {
      return fail("not enough memory to decode " + NativePath(part));
    }
  } else {
    if (const int reserved = ReserveFileSpace(out.fd, static_cast<long long>(size)); reserved != 0)
      return writeFailed(reserved);
    if (!result.Map(out.fd, static_cast<std::size_t>(size), true))
      return fail("cannot map " + NativePath(part) + ": " + diagnostics::ErrorText(errno));
  }
  const Output output = inMemory ? Output{reinterpret_cast<unsigned char*>(buffer.data()), buffer.size()}
                                 : Output{result.Data(), result.Size()};

  std::vector<unsigned char> input(ZSTD_DStreamInSize());
  FileSource source{frame.fd};
  TrimTarget trim{&base, &result, out.fd};
  const DecodeJob job{context.get(), output,       &digest,
                      &ReadFromFile, &source,      inMemory ? nullptr : &TrimMappings,
                      &trim,         input.data(), input.size()};
  std::size_t zstdError = 0;
  if (const char* problem = GuardedDecode(job, zstdError); problem != nullptr)
    return fail(NativePath(framePath) + " " + Explain(problem, zstdError));
  if (inMemory && !WriteAll(out.fd, buffer.data(), buffer.size())) return writeFailed(errno);
  if (!MoveFileExA(part.c_str(), localPath.c_str(), MOVEFILE_REPLACE_EXISTING))
    return fail("cannot rename " + NativePath(part) + " to " + NativePath(localPath) + ": " +
                diagnostics::ErrorText(errno));
  return true;
}
