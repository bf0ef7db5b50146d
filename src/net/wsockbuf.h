// One block of a socket's send queue: bytes are written at the end and taken
// out from the front; once everything written has been taken the block is
// empty again and can be refilled.
#pragma once

#include <vector>

class TBuffer {
public:
    // A size of 0 or less gives the default block of 1514 bytes (one Ethernet frame).
    explicit TBuffer(int size = 0);

    // Copies as much of data as fits; returns the count copied (0 when full).
    int Write(const char *data, int len);
    // First unsent byte and the count of unsent bytes; nullptr and 0 when none.
    const char *Peek(int &len) const;
    // Takes up to n unsent bytes out; returns how many were taken.
    int Remove(int n);
    // Changes the capacity, keeping the unsent bytes (the new size must hold them).
    void SetSize(int size);

    int Size() const { return size_; }
    int WriteCount() const { return wr_; }
    int ReadCount() const { return rd_; }
    bool Empty() const { return wr_ == rd_; }

private:
    std::vector<char> data_;
    int size_ = 0;
    int wr_ = 0;
    int rd_ = 0;
};
