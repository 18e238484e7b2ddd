// The statement formatter: literal text is copied up to the next '%', numbers are converted
// by hand, and every byte written is checked against the buffer's end.
// Anything outside the handled subset restarts the whole text with vsnprintf, from a copy of
// the arguments taken before any was read, so the result never differs from vsnprintf's.
#include "run/statement_format.h"

#include <cstdio>

namespace tidewrack {

namespace {

// Bounded output: counts every byte of the complete text, stores those that fit. The pieces
// are short (separators, numbers, names), so they are copied byte by byte rather than through
// library calls.
class Output {
  public:
    Output(char* buffer, std::size_t size) : buffer(buffer), last(size - 1) {}

    void put(char c) {
        if (length < last) {
            buffer[length] = c;
        }
        ++length;
    }
    void put(const char* text) {
        while (*text != '\0') {
            put(*text++);
        }
    }
    // Decimal digits of `magnitude`, at least `minimumDigits` of them, after an optional sign.
    void number(bool negative, unsigned magnitude, int minimumDigits) {
        char digits[16];
        int n = 0;
        do {
            digits[n++] = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        while (n < minimumDigits) {
            digits[n++] = '0';
        }
        if (negative) {
            put('-');
        }
        while (n > 0) {
            put(digits[--n]);
        }
    }
    int finish() {
        buffer[length < last ? length : last] = '\0';
        return static_cast<int>(length);
    }

  private:
    char* buffer;
    std::size_t last;  // room for text, less the terminator
    std::size_t length = 0;
};

// The handled conversions; returns false on anything else.
bool formatHandled(Output& out, const char* format, std::va_list args) {
    for (const char* p = format;;) {
        while (*p != '%') {
            if (*p == '\0') {
                return true;
            }
            out.put(*p++);
        }
        ++p;
        int precision = 1;
        if (*p == '.') {  // a precision of one digit, as in %.6d (%.0d prints no digit for 0)
            if (p[1] < '1' || p[1] > '9' || p[2] != 'd') {
                return false;
            }
            precision = p[1] - '0';
            p += 2;
        }
        switch (*p++) {
        case 'd': {
            const int value = va_arg(args, int);
            // The magnitude is taken in unsigned arithmetic, so the lowest int needs no care.
            const unsigned magnitude =
                value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
            out.number(value < 0, magnitude, precision);
            break;
        }
        case 'u':
            if (precision != 1) {
                return false;
            }
            out.number(false, va_arg(args, unsigned), 1);
            break;
        case 's': {
            const char* text = va_arg(args, const char*);
            if (precision != 1 || text == nullptr) {
                return false;
            }
            out.put(text);
            break;
        }
        default: return false;
        }
    }
}

}  // namespace

int formatStatement(char* buffer, std::size_t size, const char* format, std::va_list args) {
    std::va_list again;
    va_copy(again, args);
    Output out(buffer, size);
    const bool handled = formatHandled(out, format, args);
    const int length = handled ? out.finish() : std::vsnprintf(buffer, size, format, again);
    va_end(again);
    return length;
}

}  // namespace tidewrack
