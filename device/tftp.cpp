#include "device/tftp.h"

#include "common/diag.h"
#include "common/text.h"

#include <algorithm>
#include <cstring>

int32_t TftpLastError = 0;
int32_t TftpLastErrorFromServer = 0;
std::string TftpLastErrorText;

namespace {
// Largest block the devices accept when they truncate their option answer to "bl".
constexpr uint32_t kTruncatedOackLimit = 1432;
// The smallest block size the option allows.
constexpr uint32_t kTftpMinBlockSize = 8;

uint16_t Get16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

void Put16(std::vector<uint8_t>& out, uint16_t value)
{
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value & 0xff));
}

void PutText(std::vector<uint8_t>& out, std::string_view text)
{
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
}

// The NUL-terminated string at `pos`, ending at the datagram's end when the NUL is missing.
std::string_view TextAt(const uint8_t* data, size_t size, size_t pos)
{
    const char* start = reinterpret_cast<const char*>(data) + pos;
    size_t len = 0;
    while (pos + len < size && start[len] != 0)
        ++len;
    return { start, len };
}
} // namespace

// --- streams ---

int TftpFileStream::Write(const uint8_t* data, size_t size)
{
    return std::fwrite(data, 1, size, file_) == size ? 1 : 0;
}

int TftpFileStream::Read(uint8_t* data, size_t size)
{
    size_t n = std::fread(data, 1, size, file_);
    if (n < size && std::ferror(file_))
        return -1;
    return static_cast<int>(n);
}

int64_t TftpFileStream::Position()
{
    return static_cast<int64_t>(std::ftell(file_));
}

int TftpMemoryStream::Write(const uint8_t* data, size_t size)
{
    if (pos_ + size > limit)
        return 0;
    if (pos_ + size > data_.size())
        data_.resize(pos_ + size);
    std::memcpy(data_.data() + pos_, data, size);
    pos_ += size;
    return 1;
}

int TftpMemoryStream::Read(uint8_t* data, size_t size)
{
    size_t n = std::min(size, data_.size() - pos_);
    std::memcpy(data, data_.data() + pos_, n);
    pos_ += n;
    return static_cast<int>(n);
}

// --- the transfer ---

namespace {
// The largest block size RFC 2348 allows (a UDP datagram of 65,507 bytes less the DATA header).
constexpr uint32_t kTftpOptionMaxBlockSize = 65464;
// Retransmission interval: one second without an answer to the last packet sent.
constexpr uint32_t kResendMs = 1000;
} // namespace

TftpTransfer::TftpTransfer(
    bool write, NetAddress server, std::string file, uint32_t timeoutMs, int32_t blockSize, TftpStream& stream)
    : write_(write)
    , server_(server)
    , file_(std::move(file))
    , timeoutMs_(timeoutMs)
    , stream_(stream)
{
    if (server_.port == 0)
        server_.port = kTftpPort;
    requestPort_ = server_.port;
    // The buffers hold at most 8192 bytes of data: a larger request is cut, 0 asks for the most.
    if (blockSize <= 0 || static_cast<uint32_t>(blockSize) > kTftpMaxBlockSize)
        requested_ = kTftpMaxBlockSize;
    else
        requested_ = std::max<uint32_t>(static_cast<uint32_t>(blockSize), kTftpMinBlockSize);
}

void TftpTransfer::Send(std::vector<uint8_t> bytes)
{
    lastSent_ = bytes;
    lastSentAt_ = now_;
    outbox_.push_back({ std::move(bytes), server_ });
}

void TftpTransfer::SendError(uint16_t code, NetAddress to)
{
    // The client's own ERROR packets carry an empty message: 5 bytes.
    std::vector<uint8_t> packet;
    Put16(packet, kTftpError);
    Put16(packet, code);
    packet.push_back(0);
    outbox_.push_back({ std::move(packet), to });
}

void TftpTransfer::Fail(int32_t error)
{
    error_ = error;
    state_ = TftpState::Failed;
}

void TftpTransfer::Refuse(uint16_t code, std::string reason)
{
    SendError(code, server_);
    errorText_ = std::move(reason);
    Fail(code);
}

void TftpTransfer::Start(uint32_t now)
{
    now_ = now;
    lastReceived_ = now;
    std::vector<uint8_t> request;
    Put16(request, write_ ? kTftpWrq : kTftpRrq);
    PutText(request, file_);
    PutText(request, "octet");
    PutText(request, "blksize");
    PutText(request, std::to_string(requested_));
    // The request travels in one datagram of the size the buffers hold; a longer one is refused here
    // rather than sent cut or left to time out.
    if (request.size() > kTftpMaxPacket) {
        errorText_ = StrFormat("request too long: the file name and options need %u bytes, one datagram holds %u",
            static_cast<unsigned>(request.size()), static_cast<unsigned>(kTftpMaxPacket));
        Fail(0);
        return;
    }
    Send(std::move(request));
    // Progress counts from where the stream stands: asking the stream after each block would cost a
    // system call per block for a file.
    progress_ = stream_.Position();
}

uint32_t TftpTransfer::IdleDueIn(uint32_t now) const
{
    uint32_t since = now - lastSentAt_;
    return since >= kResendMs ? 0 : kResendMs - since;
}

void TftpTransfer::Idle(uint32_t now)
{
    if (state_ != TftpState::Running)
        return;
    now_ = now;
    if (now - lastReceived_ < timeoutMs_) {
        lastSentAt_ = now;
        outbox_.push_back({ lastSent_, server_ });
        return;
    }
    // Silent beyond the time-out: give up and tell the server.
    Fail(-1);
    SendError(0, server_);
}

void TftpTransfer::Cancel()
{
    if (state_ != TftpState::Running)
        return;
    SendError(0, server_);
    Fail(0);
}

void TftpTransfer::LocalFailure()
{
    if (state_ == TftpState::Running)
        Fail(0);
}

// Reads the options of an OACK. Returns false with `reason` when the answer cannot be accepted: a
// block size that is not plain decimal, outside 8..65464 or above the one asked for, an option that was
// not asked for or comes twice, or an answer cut anywhere but after the devices' two letters "bl".
bool TftpTransfer::ReadOptions(const uint8_t* data, size_t size, std::string* reason)
{
    size_t pos = 2;
    bool haveBlockSize = false;
    while (pos < size) {
        if (pos == 2 && size - pos == 2 && AsciiLower(static_cast<char>(data[pos])) == 'b'
            && AsciiLower(static_cast<char>(data[pos + 1])) == 'l') {
            // The device cut its answer after two letters: it takes our size up to its limit.
            blockSize_ = std::min(requested_, kTruncatedOackLimit);
            return true;
        }
        std::string_view name = TextAt(data, size, pos);
        pos += name.size() + 1;
        if (pos > size) {
            *reason = "option answer cut short";
            return false;
        }
        if (!StrEqualNoCase(name, "blksize")) {
            *reason = "option answer names an option not asked for: " + StrEscapeControls(name);
            return false;
        }
        if (haveBlockSize) {
            *reason = "option answer names blksize twice";
            return false;
        }
        haveBlockSize = true;
        std::string_view value = pos < size ? TextAt(data, size, pos) : std::string_view();
        pos += value.size() + 1;
        if (pos > size) {
            *reason = "option answer cut short";
            return false;
        }
        uint32_t number = 0;
        bool decimal = !value.empty() && value.size() <= 5;
        for (char c : value) {
            if (c < '0' || c > '9')
                decimal = false;
            else
                number = number * 10 + static_cast<uint32_t>(c - '0');
        }
        if (!decimal || number < kTftpMinBlockSize || number > kTftpOptionMaxBlockSize || number > requested_) {
            *reason = StrFormat("option answer blksize \"%s\" is not a size from 8 to %u",
                StrEscapeControls(value).c_str(), requested_);
            return false;
        }
        blockSize_ = number;
    }
    return true;
}

void TftpTransfer::ReceiveError(const uint8_t* data, size_t size)
{
    int32_t code = size >= 4 ? Get16(data + 2) : -1;
    std::string message(size > 4 ? TextAt(data, size, 4) : std::string_view());
    std::string shown = StrEscapeControls(message);
    Diag(write_ ? "tftp write error: '%s' [%d]\n" : "tftp read error: '%s' [%d]\n", shown.c_str(), code);
    errorFromServer_ = code >= 0;
    errorText_ = std::move(shown);
    Fail(code);
}

void TftpTransfer::SendAck()
{
    Send({ static_cast<uint8_t>(kTftpAck >> 8), static_cast<uint8_t>(kTftpAck & 0xff),
        static_cast<uint8_t>(block_ >> 8), static_cast<uint8_t>(block_ & 0xff) });
}

// Reads the next block from the stream straight into the retransmission copy and queues it.
void TftpTransfer::SendNextData()
{
    lastSent_.resize(4 + blockSize_);
    int n = stream_.Read(lastSent_.data() + 4, blockSize_);
    if (n < 0) {
        SendError(0, server_);
        Fail(0);
        return;
    }
    ++block_;
    sentData_ = true;
    lastSent_.resize(4 + static_cast<size_t>(n));
    lastSent_[0] = static_cast<uint8_t>(kTftpData >> 8);
    lastSent_[1] = static_cast<uint8_t>(kTftpData & 0xff);
    lastSent_[2] = static_cast<uint8_t>(block_ >> 8);
    lastSent_[3] = static_cast<uint8_t>(block_ & 0xff);
    lastSentAt_ = now_;
    outbox_.push_back({ lastSent_, server_ });
}

void TftpTransfer::Receive(const uint8_t* data, size_t size, NetAddress from, uint32_t now)
{
    if (state_ != TftpState::Running || size < 1)
        return;
    // Transfer identifier: the server is the address the request went to; its first answer names the
    // port it serves this transfer from. Any other sender is a stranger: it gets ERROR 5 and changes
    // nothing (an ERROR from a stranger is not answered, so two confused peers cannot keep each other
    // busy).
    bool fromServer = pinned_ ? from == server_ : from.ip == server_.ip;
    if (!fromServer) {
        if (!(size >= 2 && Get16(data) == kTftpError))
            SendError(5, from);
        return;
    }
    if (!pinned_) {
        pinned_ = true;
        server_.port = from.port;
    }
    // Only the server's datagrams count as a sign of life: a stranger cannot hold a dead transfer open.
    now_ = now;
    lastReceived_ = now;

    uint16_t opcode = size >= 2 ? Get16(data) : 0;
    if (opcode == kTftpError) {
        ReceiveError(data, size);
        return;
    }
    if (opcode == kTftpOack) {
        // An option answer stands only before the first block. A repeated one (our ACK 0 was lost)
        // gets ACK 0 again on a read; on a write it is a duplicate ACK 0 and changes nothing.
        if (optionsSeen_ || sentData_ || block_ != 0) {
            if (!write_ && block_ == 0)
                SendAck();
            return;
        }
        std::string reason;
        if (!ReadOptions(data, size, &reason)) {
            // An option answer the client cannot accept: ERROR 8 (option refused) ends the transfer.
            Refuse(8, reason);
            return;
        }
        optionsSeen_ = true;
        if (!write_) {
            SendAck(); // ACK 0 (block_ is still 0 before the first DATA)
            return;
        }
        // For a write, the OACK stands for ACK 0.
        opcode = kTftpAck;
        data = nullptr;
    }
    if (!write_ && opcode == kTftpData && size >= 4) {
        uint16_t block = Get16(data + 2);
        size_t length = size - 4;
        if (length > blockSize_) {
            // More than the agreed block: the rest would be lost or the file cut. ERROR 4 (illegal
            // operation) ends the transfer.
            Refuse(4,
                StrFormat("DATA block %u of %u bytes, more than the agreed block size %u", block,
                    static_cast<unsigned>(length), blockSize_));
            return;
        }
        if (block == static_cast<uint16_t>(block_ + 1)) {
            block_ = block;
            if (length > 0 && !stream_.Write(data + 4, length)) {
                SendError(3, server_);
                Fail(0);
                return;
            }
            progress_ += static_cast<int64_t>(length);
            if (length < blockSize_)
                state_ = TftpState::Done;
        }
        // A duplicate is acknowledged again with the last good number.
        SendAck();
        return;
    }
    if (write_ && opcode == kTftpAck && (data == nullptr || size >= 4)) {
        uint16_t block = data ? Get16(data + 2) : 0;
        if (block != block_) {
            // A duplicate or stray ACK. Answering it with DATA would send every later block twice once
            // one ACK was duplicated (the Sorcerer's Apprentice fault); only the retransmission timer
            // sends a block again.
            return;
        }
        if (sentData_) {
            size_t length = lastSent_.size() - 4;
            progress_ += static_cast<int64_t>(length);
            if (length < blockSize_) {
                state_ = TftpState::Done;
                return;
            }
        }
        SendNextData();
        return;
    }
    // Anything else from the server is a protocol error.
    Fail(-1);
}

// --- the driver ---

int TftpUdpLink::Open()
{
    return socket_.Open() && socket_.Bind(0, 0) ? 1 : 0;
}

int TftpUdpLink::Send(const uint8_t* data, size_t size, NetAddress to)
{
    return socket_.SendTo(data, size, to);
}

int TftpUdpLink::Wait(uint32_t timeoutMs)
{
    if (pendingSize_ >= 0)
        return 1;
    pending_.resize(kTftpMaxPacket + 1);
    int n = socket_.ReceiveFrom(pending_.data(), pending_.size(), &pendingFrom_, timeoutMs);
    if (n == -2)
        return 0;
    if (n < 0)
        return -1;
    pendingSize_ = n;
    return 1;
}

int TftpUdpLink::Receive(uint8_t* data, size_t size, NetAddress* from)
{
    if (pendingSize_ < 0)
        return socket_.ReceiveFrom(data, size, from);
    size_t n = std::min(size, static_cast<size_t>(pendingSize_));
    std::memcpy(data, pending_.data(), n);
    if (from)
        *from = pendingFrom_;
    pendingSize_ = -1;
    return static_cast<int>(n);
}

namespace {
void Flush(TftpTransfer& transfer, TftpLink& link)
{
    for (const TftpTransfer::Datagram& d : transfer.Outbox())
        link.Send(d.bytes.data(), d.bytes.size(), d.to);
    transfer.Outbox().clear();
}
} // namespace

int TftpRun(TftpTransfer& transfer, TftpLink& link, Clock& clock, std::atomic<int32_t>* progress,
    const std::atomic<int32_t>* cancel)
{
    // One byte more than the largest packet a transfer carries, so that a longer datagram is seen
    // as longer (and refused) rather than cut to a plausible size.
    std::vector<uint8_t> buffer(kTftpMaxPacket + 1);
    transfer.Start(clock.TickMs());
    Flush(transfer, link);
    for (;;) {
        if (transfer.State() == TftpState::Done)
            return 1;
        if (transfer.State() == TftpState::Failed)
            return 0;
        if (cancel && cancel->load() != 0) {
            transfer.Cancel();
            Flush(transfer, link);
            return 0;
        }
        // Wait until the transfer's next retransmission is due (at most a second, for the cancel
        // flag); datagrams that change nothing (a stranger's) do not move that moment.
        uint32_t due = transfer.IdleDueIn(clock.TickMs());
        if (due == 0) {
            transfer.Idle(clock.TickMs());
            Flush(transfer, link);
            continue;
        }
        int ready = link.Wait(due);
        if (ready < 0) {
            transfer.LocalFailure();
            return 0;
        }
        if (ready == 0)
            continue;
        NetAddress from;
        int n = link.Receive(buffer.data(), buffer.size(), &from);
        if (n < 1)
            continue;
        transfer.Receive(buffer.data(), static_cast<size_t>(n), from, clock.TickMs());
        Flush(transfer, link);
        if (progress)
            progress->store(static_cast<int32_t>(transfer.Progress()));
    }
}

namespace {
TftpEnvironment& Environment()
{
    static TftpEnvironment environment;
    return environment;
}

int Transfer(bool write, uint32_t address, uint16_t port, const char* file, TftpStream& stream, uint32_t timeoutMs,
    int32_t blockSize, std::atomic<int32_t>* progress, const std::atomic<int32_t>* cancel)
{
    TftpLastError = 0;
    TftpLastErrorFromServer = 0;
    TftpLastErrorText.clear();
    std::unique_ptr<TftpLink> link;
    if (Environment().openLink) {
        link = Environment().openLink();
    } else {
        auto udp = std::make_unique<TftpUdpLink>();
        if (udp->Open())
            link = std::move(udp);
    }
    if (!link)
        return 0;
    TftpTransfer transfer(write, NetAddress { address, port }, file, timeoutMs, blockSize, stream);
    int ok = TftpRun(transfer, *link, TftpClock(), progress, cancel);
    TftpLastError = transfer.Error();
    TftpLastErrorFromServer = transfer.ErrorFromServer() ? 1 : 0;
    TftpLastErrorText = transfer.ErrorText();
    return ok;
}
} // namespace

std::string TftpLastFailureText()
{
    if (!TftpLastErrorFromServer)
        return TftpLastErrorText;
    if (TftpLastErrorText.empty())
        return StrFormat("error %d from the server", TftpLastError);
    return StrFormat("%s (%d)", TftpLastErrorText.c_str(), TftpLastError);
}

void TftpSetEnvironment(TftpEnvironment environment)
{
    Environment() = std::move(environment);
}

Clock& TftpClock()
{
    return Environment().clock ? *Environment().clock : SystemClock();
}

int TftpGet(uint32_t address, uint16_t port, const char* file, TftpStream& stream, uint32_t timeoutMs,
    int32_t blockSize, std::atomic<int32_t>* progress, const std::atomic<int32_t>* cancel)
{
    return Transfer(false, address, port, file, stream, timeoutMs, blockSize, progress, cancel);
}

int TftpPut(uint32_t address, uint16_t port, const char* file, TftpStream& stream, uint32_t timeoutMs,
    int32_t blockSize, std::atomic<int32_t>* progress, const std::atomic<int32_t>* cancel)
{
    return Transfer(true, address, port, file, stream, timeoutMs, blockSize, progress, cancel);
}
