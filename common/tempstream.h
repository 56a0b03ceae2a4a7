// CfgTempStream: a temporary binary read/write stream in the system's temporary directory (name prefix
// "LCF") that deletes itself when closed. Configuration texts in transit - read from a device, written
// to a file, sent by TFTP - live in such streams.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

class CfgTempStream {
public:
    CfgTempStream() = default;
    ~CfgTempStream()
    {
        Close();
    }
    CfgTempStream(CfgTempStream&& other) noexcept;
    CfgTempStream& operator=(CfgTempStream&& other) noexcept;
    CfgTempStream(const CfgTempStream&) = delete;
    CfgTempStream& operator=(const CfgTempStream&) = delete;

    // Creates the file. Returns 1 on success, 0 when no temporary file could be created.
    int Open();
    // Closes and deletes the file; the stream can be opened again.
    void Close();
    bool IsOpen() const
    {
        return file_ != nullptr;
    }

    // Writes at the current position; returns the bytes written (all of them unless an error occurred).
    size_t Write(const void* data, size_t size);
    size_t Write(std::string_view text)
    {
        return Write(text.data(), text.size());
    }
    // printf-style text at the current position. Returns 1 on success.
    int Print(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Reads up to `size` bytes; returns how many were read (0 at the end).
    size_t Read(void* data, size_t size);
    // Reads one line without its line end (LF or CR LF). Returns 1 when a line was read, 0 at the end.
    // A last line without a line end is still a line.
    int ReadLine(std::string* line);
    // Back to the start (for reading what was written, or writing anew).
    int Rewind();
    int Seek(uint64_t offset);
    uint64_t Tell() const;
    // The size of the content, whatever the current position; the position is kept.
    uint64_t Size() const;
    // Cuts the stream to zero length and rewinds it.
    int Clear();
    // The whole content (the position is kept).
    std::string Contents() const;

    // Sticky: true once a read or write failed since Open.
    bool Failed() const
    {
        return failed_;
    }
    // The name the file was created under (for diagnostics).
    const std::string& Path() const
    {
        return path_;
    }

private:
    FILE* file_ = nullptr;
    std::string path_;
    bool failed_ = false;
    bool writing_ = false; // the C stream needs a seek between writing and reading
    void SwitchTo(bool writing);
};
