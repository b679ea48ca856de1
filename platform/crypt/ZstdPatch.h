// Patches and compressed copies in the zstd format (libzstd): a patch is one
// zstd frame of a new file made with an older file as its prefix, so that
// every unchanged run of bytes costs a few bits; a compressed copy is the same
// without a prefix.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/crypt/StreamDigest.h"

// The level publications use: slow to make once, as fast to apply as any.
inline constexpr int kZstdPublishLevel = 19;

// The largest window (as a power of two) a publication makes and an
// installation accepts. A frame's window is what its decoder must be able to
// look back over; with the output written straight to its file no window is
// allocated, but a bound keeps a hostile frame from claiming more.
inline constexpr unsigned kMaxZstdWindowLog = 27;

// The window a frame of a targetSize-byte file made against a baseSize-byte
// prefix (0: none) needs to reach every byte of the prefix from every byte of
// the file; 0 when that is more than kMaxZstdWindowLog allows (such a file gets
// no patch). Publisher and installation both use it, the installation as the
// bound it gives the decoder.
unsigned ZstdWindowLog(std::uint64_t baseSize, std::uint64_t targetSize);

// One zstd frame of target, with base (may be empty) as its prefix: long
// distance matching, the window of ZstdWindowLog, content size and checksum in
// the frame. False with the cause in error (also when the file is too large
// for kMaxZstdWindowLog).
bool EncodeZstd(std::string_view base, std::string_view target, int level, std::string& frame, std::string& error);

// Decodes one frame made by EncodeZstd against the same base (empty for a
// compressed copy) into output, which must come to exactly size bytes: a frame
// announcing or producing more or fewer, a window beyond ZstdWindowLog of the
// two sizes, bytes after the frame or a corrupt frame fail with the cause in
// cause. Memory stays within size plus the decoder's small input buffer. base
// may lie in a mapped file: a fault reading it fails the call (see below).
bool DecodeZstd(std::string_view frame, std::string_view base, std::uint64_t size, std::string& output,
                std::string& cause);

// The same from file to file, for a download: framePath is decoded against
// basePath (empty: none), which is mapped read-only and never written, into
// localPath + ".part" (opened through the guarded file calls), renamed to
// localPath once the result is complete. digest receives every byte of the
// result as it is written (it is Reset first). On failure nothing is left at
// localPath or its ".part". A base that shrinks while it is read (another
// program truncating it) fails the call instead of the process. Resident
// memory stays at a few MiB whatever the file's size: what was written and
// read is let go every few MiB.
bool DecodeZstdFile(const std::string& framePath, const std::string& basePath, const std::string& localPath,
                    std::uint64_t size, CStreamDigest& digest, std::string& cause);
