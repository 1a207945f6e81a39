#include "text/cp1251.h"

#include <array>
#include <cstdint>

namespace {

// Unicode code points of the bytes 0x80 to 0xBF; 0xC0 to 0xFF map to
// U+0410 to U+044F in order. 0 marks the undefined byte 0x98.
constexpr std::array<char32_t, 64> HIGH_HALF = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 0x88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    0x0000, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 0x98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // 0xA0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // 0xA8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // 0xB0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // 0xB8
};

char32_t codePointOf(unsigned char byte) {
    if (byte < 0x80) {
        return byte;
    }
    if (byte >= 0xC0) {
        return 0x0410 + (byte - 0xC0);
    }
    char32_t cp = HIGH_HALF[byte - 0x80];
    return cp == 0 ? 0xFFFD : cp;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

char byteOf(char32_t cp) {
    if (cp < 0x80) {
        return static_cast<char>(cp);
    }
    if (cp >= 0x0410 && cp <= 0x044F) {
        return static_cast<char>(0xC0 + (cp - 0x0410));
    }
    for (std::size_t i = 0; i < HIGH_HALF.size(); ++i) {
        if (HIGH_HALF[i] == cp) {
            return static_cast<char>(0x80 + i);
        }
    }
    return '?';
}

// Length of the UTF-8 sequence that starts with this byte, 0 when the byte
// cannot start one.
int sequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

}  // namespace

std::string cp1251ToUtf8(std::string_view cp1251) {
    std::string out;
    out.reserve(cp1251.size() * 2);
    for (char c : cp1251) {
        appendUtf8(out, codePointOf(static_cast<unsigned char>(c)));
    }
    return out;
}

std::string utf8ToCp1251(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        auto lead = static_cast<unsigned char>(utf8[i]);
        int length = sequenceLength(lead);
        if (length == 0 || i + length > utf8.size()) {
            out += '?';
            ++i;
            continue;
        }
        char32_t cp = length == 1 ? lead : lead & (0x7F >> length);
        bool wellFormed = true;
        for (int k = 1; k < length; ++k) {
            auto next = static_cast<unsigned char>(utf8[i + k]);
            if ((next & 0xC0) != 0x80) {
                wellFormed = false;
                break;
            }
            cp = (cp << 6) | (next & 0x3F);
        }
        // Overlong forms and surrogates are malformed too.
        if (wellFormed && ((length == 3 && cp < 0x800) || (length == 4 && cp < 0x10000) ||
                           (cp >= 0xD800 && cp <= 0xDFFF))) {
            wellFormed = false;
        }
        if (!wellFormed) {
            out += '?';
            ++i;
            continue;
        }
        out += byteOf(cp);
        i += length;
    }
    return out;
}

char cp1251ToLower(char c) {
    auto byte = static_cast<unsigned char>(c);
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 0xC0 && byte <= 0xDF)) {
        return static_cast<char>(byte + 0x20);
    }
    switch (byte) {
        case 0x80: return static_cast<char>(0x90);  // Ђ
        case 0x81: return static_cast<char>(0x83);  // Ѓ
        case 0x8A: return static_cast<char>(0x9A);  // Љ
        case 0x8C: return static_cast<char>(0x9C);  // Њ
        case 0x8D: return static_cast<char>(0x9D);  // Ќ
        case 0x8E: return static_cast<char>(0x9E);  // Ћ
        case 0x8F: return static_cast<char>(0x9F);  // Џ
        case 0xA1: return static_cast<char>(0xA2);  // Ў
        case 0xA3: return static_cast<char>(0xBC);  // Ј
        case 0xA5: return static_cast<char>(0xB4);  // Ґ
        case 0xA8: return static_cast<char>(0xB8);  // Ё
        case 0xAA: return static_cast<char>(0xBA);  // Є
        case 0xAF: return static_cast<char>(0xBF);  // Ї
        case 0xB2: return static_cast<char>(0xB3);  // І
        case 0xBD: return static_cast<char>(0xBE);  // Ѕ
        default: return c;
    }
}
