// Package files through Win32 handles with wide paths, and the atomic save: the new file is
// written to a temporary file in the target's folder and then moved over the target, so that a
// failed save leaves the old file as it was.
#pragma once
#include "Handles.h"
#include "byte_io.h"
#include <windows.h>
#include <functional>
#include <string>
#include <vector>

namespace caparchive::win {

class HandleSource final : public ByteSource {
public:
    // ERROR_* code of the failed open.
    int Open(const std::wstring& path);
    uint64_t Size() const override { return size_; }
    int ReadAt(uint64_t offset, std::span<uint8_t> out) override;

private:
    tv::com::UniqueFileHandle file_;
    uint64_t size_ = 0;
};

class HandleSink final : public ByteSink {
public:
    explicit HandleSink(HANDLE file) : file_(file) {}
    int Write(std::span<const uint8_t> bytes) override;

private:
    HANDLE file_;
};

// Writes the whole file; the file is created or truncated.
HRESULT WriteWholeFile(const std::wstring& path, std::span<const uint8_t> bytes);
HRESULT ReadWholeFile(const std::wstring& path, std::vector<uint8_t>& bytes);

// Runs `write` on a temporary file beside `path` and, when it succeeds, replaces `path` with it.
// The temporary file is removed on every failure.
HRESULT SaveAtomically(const std::wstring& path, const std::function<int(ByteSink&)>& write);

} // namespace caparchive::win
