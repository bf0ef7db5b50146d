#include "net/wsockbuf.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr int kDefaultBlock = 1514;
}

TBuffer::TBuffer(int size)
{
    SetSize(size);
}

int TBuffer::Write(const char *data, int len)
{
    int n = std::min(std::max(len, 0), size_ - wr_);
    if (n <= 0)
        return 0;
    std::memcpy(data_.data() + wr_, data, static_cast<size_t>(n));
    wr_ += n;
    return n;
}

const char *TBuffer::Peek(int &len) const
{
    len = wr_ - rd_;
    return len > 0 ? data_.data() + rd_ : nullptr;
}

int TBuffer::Remove(int n)
{
    int taken = std::min(std::max(n, 0), wr_ - rd_);
    rd_ += taken;
    if (rd_ == wr_)
        rd_ = wr_ = 0;
    return taken;
}

void TBuffer::SetSize(int size)
{
    if (size <= 0)
        size = kDefaultBlock;
    // Keep what has not been sent yet, moved to the front of the new storage.
    int pending = wr_ - rd_;
    size = std::max(size, pending);
    std::vector<char> fresh(static_cast<size_t>(size));
    if (pending > 0)
        std::memcpy(fresh.data(), data_.data() + rd_, static_cast<size_t>(pending));
    data_.swap(fresh);
    size_ = size;
    rd_ = 0;
    wr_ = pending;
}
