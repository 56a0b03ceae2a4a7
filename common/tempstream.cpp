#include "common/tempstream.h"

#include "common/platform/tempfile.h"

#include <cstdarg>
#include <utility>

CfgTempStream::CfgTempStream(CfgTempStream&& other) noexcept
    : file_(std::exchange(other.file_, nullptr))
    , path_(std::move(other.path_))
    , failed_(other.failed_)
    , writing_(other.writing_)
{
}

CfgTempStream& CfgTempStream::operator=(CfgTempStream&& other) noexcept
{
    if (this != &other) {
        Close();
        file_ = std::exchange(other.file_, nullptr);
        path_ = std::move(other.path_);
        failed_ = other.failed_;
        writing_ = other.writing_;
    }
    return *this;
}

int CfgTempStream::Open()
{
    Close();
    file_ = TempFileOpen("LCF", &path_);
    failed_ = file_ == nullptr;
    writing_ = false;
    return file_ ? 1 : 0;
}

void CfgTempStream::Close()
{
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
}

void CfgTempStream::SwitchTo(bool writing)
{
    // C streams require a positioning call between output and input on the same stream.
    if (writing != writing_) {
        std::fseek(file_, 0, SEEK_CUR);
        writing_ = writing;
    }
}

size_t CfgTempStream::Write(const void* data, size_t size)
{
    if (!file_) {
        failed_ = true;
        return 0;
    }
    if (size == 0)
        return 0;
    SwitchTo(true);
    size_t n = std::fwrite(data, 1, size, file_);
    if (n != size)
        failed_ = true;
    return n;
}

int CfgTempStream::Print(const char* format, ...)
{
    char small[512];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (n < 0) {
        failed_ = true;
        return 0;
    }
    if (static_cast<size_t>(n) < sizeof small)
        return Write(small, static_cast<size_t>(n)) == static_cast<size_t>(n) ? 1 : 0;
    std::string big(static_cast<size_t>(n) + 1, '\0');
    va_start(args, format);
    std::vsnprintf(big.data(), big.size(), format, args);
    va_end(args);
    big.resize(static_cast<size_t>(n));
    return Write(big) == big.size() ? 1 : 0;
}

size_t CfgTempStream::Read(void* data, size_t size)
{
    if (!file_ || size == 0)
        return 0;
    SwitchTo(false);
    size_t n = std::fread(data, 1, size, file_);
    if (n < size && std::ferror(file_))
        failed_ = true;
    return n;
}

int CfgTempStream::ReadLine(std::string* line)
{
    line->clear();
    if (!file_)
        return 0;
    SwitchTo(false);
    bool any = false;
    int c;
    while ((c = std::fgetc(file_)) != EOF) {
        any = true;
        if (c == '\n')
            break;
        line->push_back(static_cast<char>(c));
    }
    if (std::ferror(file_))
        failed_ = true;
    if (!line->empty() && line->back() == '\r')
        line->pop_back();
    return any ? 1 : 0;
}

int CfgTempStream::Rewind()
{
    return Seek(0);
}

int CfgTempStream::Seek(uint64_t offset)
{
    if (!file_)
        return 0;
        // fseeko/_fseeki64 keep offsets past 2 GiB intact on 32-bit builds.
#ifdef _WIN32
    int rc = _fseeki64(file_, static_cast<int64_t>(offset), SEEK_SET);
#else
    int rc = fseeko(file_, static_cast<off_t>(offset), SEEK_SET);
#endif
    std::clearerr(file_);
    return rc == 0 ? 1 : 0;
}

uint64_t CfgTempStream::Tell() const
{
    if (!file_)
        return 0;
#ifdef _WIN32
    int64_t pos = _ftelli64(file_);
#else
    int64_t pos = ftello(file_);
#endif
    return pos < 0 ? 0 : static_cast<uint64_t>(pos);
}

uint64_t CfgTempStream::Size() const
{
    if (!file_)
        return 0;
    std::fflush(file_);
    uint64_t here = Tell();
#ifdef _WIN32
    _fseeki64(file_, 0, SEEK_END);
#else
    fseeko(file_, 0, SEEK_END);
#endif
    uint64_t size = Tell();
#ifdef _WIN32
    _fseeki64(file_, static_cast<int64_t>(here), SEEK_SET);
#else
    fseeko(file_, static_cast<off_t>(here), SEEK_SET);
#endif
    return size;
}

int CfgTempStream::Clear()
{
    if (!file_)
        return 0;
    // Reopening the same stream through freopen would lose the self-deleting handle: write a new file.
    CfgTempStream fresh;
    if (!fresh.Open())
        return 0;
    *this = std::move(fresh);
    return 1;
}

std::string CfgTempStream::Contents() const
{
    std::string out;
    if (!file_)
        return out;
    std::fflush(file_);
    uint64_t here = Tell();
    std::rewind(file_);
    char buffer[8192];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file_)) > 0)
        out.append(buffer, n);
    std::clearerr(file_);
#ifdef _WIN32
    _fseeki64(file_, static_cast<int64_t>(here), SEEK_SET);
#else
    fseeko(file_, static_cast<off_t>(here), SEEK_SET);
#endif
    return out;
}
