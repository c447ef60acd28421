// Line reader and number grammar of the definition file.
#include "ifs/text_input.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <string>
#include <cmath>
#include <limits>

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

const char* SkipSpace(const char* p) {
    while (IsSpace(*p)) ++p;
    return p;
}

int DigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 99;
}

// Digits of the given base from p; the magnitude saturates just above the 32-bit range.
const char* ScanDigits(const char* p, int base, bool negative, std::int32_t* value) {
    constexpr std::int64_t Cap = std::int64_t{1} << 32;
    std::int64_t magnitude = 0;
    const char* start = p;
    while (DigitValue(*p) < base) {
        magnitude = magnitude * base + DigitValue(*p);
        if (magnitude > Cap) magnitude = Cap;
        ++p;
    }
    if (p == start) return nullptr;
    std::int64_t signedValue = negative ? -magnitude : magnitude;
    if (signedValue > std::numeric_limits<std::int32_t>::max()) signedValue = std::numeric_limits<std::int32_t>::max();
    if (signedValue < std::numeric_limits<std::int32_t>::min()) signedValue = std::numeric_limits<std::int32_t>::min();
    *value = static_cast<std::int32_t>(signedValue);
    return p;
}

const char* ScanSign(const char* p, bool* negative) {
    *negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    return p;
}

}  // namespace

// A byte of the file, the one read ahead first; Ctrl-Z and the end of the file give EOF for good.
int LineReader::RawByte() {
    if (pending_ >= 0) {
        const int c = pending_;
        pending_ = -1;
        return c;
    }
    if (ended_) return EOF;
    if (blockAt_ == blockLength_) {
        if (bound_ != 0 && taken_ >= bound_) {
            tooLong_ = true;
            ended_ = true;
            return EOF;
        }
        errno = 0;
        blockLength_ = std::fread(block_, 1, sizeof block_, file_);
        if (blockLength_ < sizeof block_ && std::ferror(file_) != 0) error_ = errno != 0 ? errno : EIO;
        taken_ += blockLength_;
        blockAt_ = 0;
    }
    const int c = blockAt_ < blockLength_ ? block_[blockAt_++] : EOF;
    if (c == EOF || c == 0x1A) {
        ended_ = true;
        return EOF;
    }
    return c;
}

int LineReader::NextByte() {
    const int c = RawByte();
    if (c != '\r') return c;
    const int after = RawByte();
    if (after == '\n') return '\n';
    if (after != EOF) pending_ = after;
    return c;
}

bool LineReader::ReadLine(char buffer[LineCapacity]) {
    int length = 0;
    while (length < LineCapacity - 1) {
        const int c = NextByte();
        if (c == EOF) break;
        buffer[length++] = static_cast<char>(c);
        if (c == '\n') break;
    }
    buffer[length] = '\0';
    return length > 0;
}

const char* ScanInt(const char* text, std::int32_t* value) {
    bool negative = false;
    const char* p = ScanSign(SkipSpace(text), &negative);
    return ScanDigits(p, 10, negative, value);
}

const char* ScanIntAnyBase(const char* text, std::int32_t* value) {
    bool negative = false;
    const char* p = ScanSign(SkipSpace(text), &negative);
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        if (const char* end = ScanDigits(p + 2, 16, negative, value)) return end;
        *value = 0;  // "0x" without hexadecimal digits reads as the 0 before it
        return p + 1;
    }
    if (p[0] == '0') return ScanDigits(p, 8, negative, value);
    return ScanDigits(p, 10, negative, value);
}

namespace {

// The decimal number in [first, last), correctly rounded, as std::from_chars reads it.
std::errc ConvertDecimal(const char* first, const char* last, double* result) {
#if defined(__EMSCRIPTEN__)
    // Emscripten's C++ library has no from_chars for doubles; its strtod also rounds correctly,
    // given exactly the span (strtod alone would read on into "0x..." or "inf").
    const std::string digits(first, last);
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(digits.c_str(), &end);
    if (end != digits.c_str() + digits.size()) return std::errc::invalid_argument;
    *result = value;
    // Out of range as from_chars says it: a result of infinity or zero from a number that is neither.
    if (errno == ERANGE && (std::isinf(value) || value == 0.0)) return std::errc::result_out_of_range;
    return std::errc();
#else
    return std::from_chars(first, last, *result, std::chars_format::general).ec;
#endif
}

}  // namespace

const char* ScanDouble(const char* text, double* value) {
    bool negative = false;
    const char* start = ScanSign(SkipSpace(text), &negative);
    const char* p = start;
    int intDigits = 0, fracDigits = 0, leadingFractionZeros = 0;
    while (IsDigit(*p)) ++p, ++intDigits;
    bool nonZeroSeen = false;
    if (*p == '.') {
        ++p;
        while (IsDigit(*p)) {
            if (*p != '0') nonZeroSeen = true;
            if (!nonZeroSeen) ++leadingFractionZeros;
            ++p, ++fracDigits;
        }
    }
    if (intDigits + fracDigits == 0) return nullptr;
    long long exponent = 0;
    if (*p == 'e' || *p == 'E') {
        const char* q = p + 1;
        bool expNegative = false;
        q = ScanSign(q, &expNegative);
        if (IsDigit(*q)) {
            while (IsDigit(*q)) {
                if (exponent < 100000000) exponent = exponent * 10 + (*q - '0');
                ++q;
            }
            if (expNegative) exponent = -exponent;
            p = q;
        }
    }
    double result = 0.0;
    const std::errc ec = ConvertDecimal(start, p, &result);
    if (ec == std::errc::result_out_of_range) {
        // Decide overflow or underflow from the decimal magnitude of the text.
        long long magnitude = exponent;
        if (intDigits > 0) {
            const char* q = start;
            int significant = intDigits;
            while (significant > 1 && *q == '0') ++q, --significant;
            magnitude += significant - 1;
        } else {
            magnitude -= leadingFractionZeros + 1;
        }
        result = magnitude > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (ec != std::errc()) {
        return nullptr;
    }
    *value = negative ? -result : result;
    return p;
}
