// Reading the definition file: lines by the text-mode rules, numbers by one grammar of our own,
// so every build reads the same file the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// A buffer of 2048 bytes; one read takes at most 2047 characters, the line feed included.
constexpr int LineCapacity = 2048;

class LineReader {
public:
    // With a bound, the file ends after that many bytes (TooLong then says so); 0: no bound.
    explicit LineReader(std::FILE* file, std::uint64_t bound = 0) : file_(file), bound_(bound) {}
    // Reads the next line into buffer (NUL-terminated, line feed kept). A carriage return right
    // before a line feed is dropped, and a Ctrl-Z byte ends the file. False at the end of the
    // file when nothing was read.
    bool ReadLine(char buffer[LineCapacity]);
    // Whether the file was cut at the bound, and the errno of a read that failed (0: none).
    bool TooLong() const { return tooLong_; }
    int Error() const { return error_; }

private:
    int NextByte();
    int RawByte();
    std::FILE* file_;
    bool ended_ = false;
    int pending_ = -1;  // a byte read ahead after a carriage return
    // The file is read a block at a time: a call into the C library per byte costs more than
    // the rest of the reading together.
    unsigned char block_[512];
    std::size_t blockLength_ = 0, blockAt_ = 0;
    std::uint64_t bound_ = 0, taken_ = 0;
    bool tooLong_ = false;
    int error_ = 0;
};

// "%d": optional white space, optional sign, decimal digits. Out-of-range values saturate to
// the 32-bit limits. Returns the position after the number, or null when there is none.
const char* ScanInt(const char* text, std::int32_t* value);

// "%lf": optional white space, optional sign, digits with an optional decimal point and
// fraction, an optional exponent. Converted correctly rounded whatever the locale; a value
// beyond the double range gives an infinity, one below it zero. Null when there is no number.
const char* ScanDouble(const char* text, double* value);

// "%i": like ScanInt, but "0x"/"0X" starts hexadecimal digits and a leading 0 octal ones.
const char* ScanIntAnyBase(const char* text, std::int32_t* value);
