#include "platform/base/Format.h"

#include "platform/base/Object.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <unistd.h>

extern char* program_invocation_short_name;

namespace platform {

namespace {

template <class T> void append(std::string& out, const std::string& spec, T value) {
    char small[256];
    int n = std::snprintf(small, sizeof small, spec.c_str(), value);
    if (n < 0) return;
    if (static_cast<std::size_t>(n) < sizeof small) {
        out.append(small, static_cast<std::size_t>(n));
        return;
    }
    std::string big(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(big.data(), big.size(), spec.c_str(), value);
    out.append(big.data(), static_cast<std::size_t>(n));
}

} // namespace

std::string formatv(const char* fmt, va_list args) {
    std::string out;
    if (!fmt) return out;
    for (const char* p = fmt; *p;) {
        if (*p != '%') {
            out += *p++;
            continue;
        }
        const char* start = p++;
        if (*p == '%') {
            out += '%';
            ++p;
            continue;
        }
        std::string spec(start, static_cast<std::size_t>(p - start));
        while (*p && std::strchr("-+ #0", *p))
            spec += *p++;
        while (*p >= '0' && *p <= '9')
            spec += *p++;
        if (*p == '.') {
            spec += *p++;
            while (*p >= '0' && *p <= '9')
                spec += *p++;
        }
        int longs = 0;
        bool shortMod = false, sizeMod = false, longDouble = false;
        for (;; ++p) {
            if (*p == 'l')
                ++longs;
            else if (*p == 'q')
                longs = 2;
            else if (*p == 'h')
                shortMod = true;
            else if (*p == 'z' || *p == 'j' || *p == 't')
                sizeMod = true;
            else if (*p == 'L')
                longDouble = true;
            else
                break;
        }
        char conv = *p;
        if (!conv) break;
        ++p;
        switch (conv) {
        case '@': {
            auto* o = static_cast<const Object*>(va_arg(args, const void*));
            out += o ? o->description() : "(null)";
            break;
        }
        case 'd':
        case 'i':
        case 'u':
        case 'x':
        case 'X':
        case 'o': {
            bool isSigned = conv == 'd' || conv == 'i';
            if (longs >= 2 || sizeMod) {
                spec += "ll";
                spec += conv;
                if (isSigned)
                    append(out, spec, va_arg(args, long long));
                else
                    append(out, spec, va_arg(args, unsigned long long));
            } else if (longs == 1) {
                spec += 'l';
                spec += conv;
                if (isSigned)
                    append(out, spec, va_arg(args, long));
                else
                    append(out, spec, va_arg(args, unsigned long));
            } else {
                spec += conv;
                (void)shortMod; // promoted to int either way
                if (isSigned)
                    append(out, spec, va_arg(args, int));
                else
                    append(out, spec, va_arg(args, unsigned));
            }
            break;
        }
        case 'c':
            spec += 'c';
            append(out, spec, va_arg(args, int));
            break;
        case 's': {
            spec += 's';
            const char* s = va_arg(args, const char*);
            append(out, spec, s ? s : "(null)");
            break;
        }
        case 'p':
            spec += 'p';
            append(out, spec, va_arg(args, void*));
            break;
        case 'f':
        case 'F':
        case 'e':
        case 'E':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            if (longDouble) {
                spec += 'L';
                spec += conv;
                append(out, spec, va_arg(args, long double));
            } else {
                spec += conv;
                append(out, spec, va_arg(args, double));
            }
            break;
        default: // unknown conversion: keep it as written
            out += spec;
            out += conv;
            break;
        }
    }
    return out;
}

std::string format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::string s = formatv(fmt, args);
    va_end(args);
    return s;
}

void log(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::string text = formatv(fmt, args);
    va_end(args);
    auto now = std::chrono::system_clock::now();
    std::time_t t = std::chrono::system_clock::to_time_t(now);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm tm{};
    localtime_r(&t, &tm);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);
    std::fprintf(stderr, "%s.%03lld %s[%d] %s\n", stamp, static_cast<long long>(ms), program_invocation_short_name,
                 static_cast<int>(getpid()), text.c_str());
}

} // namespace platform
