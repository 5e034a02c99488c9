// The files of the compression control: a source read sequentially, and a destination that is
// written to a temporary file beside it and takes the destination's name only when the whole
// operation succeeded, so that a failure never leaves a partial file under that name.
#pragma once
#include "BzipCodec.h"
#include "Handles.h"
#include <string>

namespace tv::bzip {

class SourceFile final : public ByteSource {
  public:
    // Opens an existing file for reading, shared for reading; false when it cannot be opened.
    bool Open(const std::wstring& path);
    bool Read(std::uint8_t* buffer, std::size_t capacity, std::size_t& got) override;
    void Close() { file_.Reset(); }

  private:
    com::UniqueFileHandle file_;
};

class ReplacingDestinationFile final : public ByteSink {
  public:
    ReplacingDestinationFile() = default;
    ReplacingDestinationFile(const ReplacingDestinationFile&) = delete;
    ReplacingDestinationFile& operator=(const ReplacingDestinationFile&) = delete;
    // Removes the temporary file unless Commit succeeded.
    ~ReplacingDestinationFile() override;

    // Creates the temporary file in the destination's folder; false when it cannot be created.
    bool Create(const std::wstring& path);
    bool Write(const std::uint8_t* data, std::size_t length) override;
    // Closes the temporary file and moves it over the destination (replacing an existing one).
    bool Commit();

  private:
    void Discard();

    com::UniqueFileHandle file_;
    std::wstring destination_;
    std::wstring temporary_;
};

} // namespace tv::bzip
