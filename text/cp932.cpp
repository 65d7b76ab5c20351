#include "text/cp932.hpp"

#include <unicode/ucnv.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include "text/sjis.hpp"

namespace korvalen {

namespace {

constexpr std::int32_t kNone = -1;

// What Japanese input methods, terminals and JIS-based converters on Linux
// give for characters that Windows maps to other code points: encoded as the
// code page 932 character each stands for. Decoding keeps the Windows forms.
struct JisForm {
    char16_t cp;
    std::uint16_t code;
};
constexpr JisForm kJisForms[] = {
    {0x301C, 0x8160},  // WAVE DASH, Windows: U+FF5E
    {0x2212, 0x817C},  // MINUS SIGN, U+FF0D
    {0x2016, 0x8161},  // DOUBLE VERTICAL LINE, U+2225
    {0x00A2, 0x8191},  // CENT SIGN, U+FFE0
    {0x00A3, 0x8192},  // POUND SIGN, U+FFE1
    {0x00AC, 0x81CA},  // NOT SIGN, U+FFE2
    {0x2014, 0x815C},  // EM DASH, U+2015
};

// Decode table indexed by code (single byte b, or lead << 8 | trail), and the
// encode table indexed by BMP code point. Built once from ICU's Windows-31J
// converter; only codes that round-trip exactly are kept.
struct Tables {
    std::vector<std::int32_t> decode = std::vector<std::int32_t>(0x10000, kNone);
    std::vector<std::int32_t> encode = std::vector<std::int32_t>(0x10000, kNone);
};

struct ConverterCloser {
    void operator()(UConverter* c) const { ucnv_close(c); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

Converter OpenConverter() {
    UErrorCode err = U_ZERO_ERROR;
    Converter conv(ucnv_open("windows-31j", &err));
    if (U_FAILURE(err) || !conv) {
        throw std::runtime_error("ICU has no windows-31j converter");
    }
    ucnv_setToUCallBack(conv.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &err);
    ucnv_setFromUCallBack(conv.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &err);
    return conv;
}

// The single BMP code point that `bytes` decodes to, or kNone.
std::int32_t DecodeOne(UConverter* conv, const char* bytes, int len) {
    UChar out[4];
    UErrorCode err = U_ZERO_ERROR;
    ucnv_reset(conv);
    const int n = ucnv_toUChars(conv, out, 4, bytes, len, &err);
    if (U_FAILURE(err) || n != 1 || U16_IS_SURROGATE(out[0])) {
        return kNone;
    }
    return out[0];
}

// The code page 932 bytes of one BMP code point, or empty.
std::string EncodeOne(UConverter* conv, UChar c) {
    char out[8];
    UErrorCode err = U_ZERO_ERROR;
    ucnv_reset(conv);
    const int n = ucnv_fromUChars(conv, out, sizeof out, &c, 1, &err);
    if (U_FAILURE(err) || n < 1 || n > 2) {
        return {};
    }
    return std::string(out, static_cast<std::size_t>(n));
}

void Keep(Tables& t, UConverter* conv, const char* bytes, int len, std::int32_t code) {
    const std::int32_t cp = DecodeOne(conv, bytes, len);
    if (cp == kNone || (cp >= 0xF700 && cp <= 0xF7FF)) {
        return;
    }
    if (EncodeOne(conv, static_cast<UChar>(cp)) != std::string_view(bytes, len)) {
        return;  // a duplicate whose Unicode form goes back to another code
    }
    t.decode[code] = cp;
    t.encode[cp] = code;
}

const Tables& GetTables() {
    static const Tables tables = [] {
        Tables t;
        Converter conv = OpenConverter();
        for (int b = 0; b < 256; ++b) {
            const char one = static_cast<char>(b);
            if (b < 0x80) {
                // ICU's converter behind this name (ibm-943) swaps 1A, 1C and
                // 7F the IBM way; Windows-31J keeps all of ASCII as it is.
                t.decode[b] = b;
                t.encode[b] = b;
                continue;
            }
            if (!IsLeadByte(one)) {
                Keep(t, conv.get(), &one, 1, b);
                continue;
            }
            for (int trail = 0; trail < 256; ++trail) {
                const char two[2] = {one, static_cast<char>(trail)};
                Keep(t, conv.get(), two, 2, (b << 8) | trail);
            }
        }
        for (const JisForm& f : kJisForms) {
            if (t.encode[f.cp] == kNone) {
                t.encode[f.cp] = f.code;
            }
        }
        return t;
    }();
    return tables;
}

// Calls f(code point) for every character of `sjis`, escaping what does not
// decode. A byte that cannot be a second byte (below 0x40, or 0x7F) is read on
// its own after a lead byte: a line break or a quote must not vanish into the
// mark.
template <class F>
void Decode(std::string_view sjis, F&& f) {
    const Tables& t = GetTables();
    std::string_view rest = sjis;
    while (!rest.empty()) {
        std::string_view ch = TakeChar(rest);
        const auto b0 = static_cast<unsigned char>(ch[0]);
        const int code = ch.size() == 2 ? (b0 << 8) | static_cast<unsigned char>(ch[1]) : b0;
        const bool whole = ch.size() == 2 || !IsLeadByte(ch[0]);
        const std::int32_t cp = whole ? t.decode[code] : kNone;
        if (cp != kNone) {
            f(static_cast<char32_t>(cp));
            continue;
        }
        const int b1 = ch.size() == 2 ? static_cast<unsigned char>(ch[1]) : 0x40;
        if (b1 < 0x40 || b1 == 0x7F) {  // not a second byte at all
            rest = std::string_view(ch.data() + 1, rest.size() + 1);
            ch = ch.substr(0, 1);
        }
        for (char byte : ch) {
            f(kByteEscapeBase + static_cast<unsigned char>(byte));
        }
    }
}

void Encode(char32_t cp, std::string_view unmappable, std::string& out) {
    if (cp >= kByteEscapeBase && cp <= kByteEscapeBase + 0xFF) {
        out.push_back(static_cast<char>(cp - kByteEscapeBase));
        return;
    }
    const std::int32_t code = cp < 0x10000 ? GetTables().encode[cp] : kNone;
    if (code == kNone) {
        out.append(unmappable);
    } else if (code > 0xFF) {
        out.push_back(static_cast<char>(code >> 8));
        out.push_back(static_cast<char>(code & 0xFF));
    } else {
        out.push_back(static_cast<char>(code));
    }
}

void AppendUtf8(char32_t cp, std::string& out) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

constexpr char32_t kInvalid = 0xFFFFFFFF;

// One code point of UTF-8 at `pos`, or kInvalid (then one byte is consumed).
char32_t NextUtf8(std::string_view s, std::size_t& pos) {
    const auto b0 = static_cast<unsigned char>(s[pos]);
    std::size_t len = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if (b0 < 0x80) {
        ++pos;
        return b0;
    } else if ((b0 & 0xE0) == 0xC0) {
        len = 2, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4, cp = b0 & 0x07, min = 0x10000;
    } else {
        ++pos;
        return kInvalid;
    }
    if (pos + len > s.size()) {
        ++pos;
        return kInvalid;
    }
    for (std::size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[pos + k]);
        if ((b & 0xC0) != 0x80) {
            ++pos;
            return kInvalid;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++pos;
        return kInvalid;
    }
    pos += len;
    return cp;
}

}  // namespace

std::u16string Cp932ToUtf16(std::string_view sjis) {
    std::u16string out;
    out.reserve(sjis.size());
    Decode(sjis, [&](char32_t cp) { out.push_back(static_cast<char16_t>(cp)); });
    return out;
}

std::string Cp932ToUtf8(std::string_view sjis) {
    std::string out;
    out.reserve(sjis.size() * 3 / 2);
    Decode(sjis, [&](char32_t cp) { AppendUtf8(cp, out); });
    return out;
}

std::string Utf16ToCp932(std::u16string_view text, std::string_view unmappable) {
    std::string out;
    out.reserve(text.size() * 2);
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            out.append(unmappable);
            continue;
        }
        Encode(cp, unmappable, out);
    }
    return out;
}

std::string Utf8ToCp932(std::string_view utf8, std::string_view unmappable) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        const char32_t cp = NextUtf8(utf8, pos);
        if (cp == kInvalid) {
            out.append(unmappable);
        } else {
            Encode(cp, unmappable, out);
        }
    }
    return out;
}

std::int32_t Cp932CodeOf(char32_t cp) {
    return cp < 0x10000 ? GetTables().encode[cp] : kNone;
}

std::string Cp932JisFormOf(std::string_view ch) {
    std::string utf8;
    if (ch.size() != 2) {
        return utf8;
    }
    const int code = (static_cast<unsigned char>(ch[0]) << 8) | static_cast<unsigned char>(ch[1]);
    for (const JisForm& f : kJisForms) {
        if (f.code == code && GetTables().encode[f.cp] == code) {
            AppendUtf8(f.cp, utf8);
        }
    }
    return utf8;
}

std::optional<std::string> Utf8ToCp932Exactly(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        const char32_t cp = NextUtf8(utf8, pos);
        const bool escape = cp >= kByteEscapeBase && cp <= kByteEscapeBase + 0xFF;
        if (cp == kInvalid || (!escape && Cp932CodeOf(cp) == kNone)) {
            return std::nullopt;
        }
        Encode(cp, {}, out);
    }
    return out;
}

bool Cp932DecodesCleanly(std::string_view sjis) {
    bool clean = true;
    Decode(sjis, [&](char32_t cp) {
        if (cp >= kByteEscapeBase && cp <= kByteEscapeBase + 0xFF) {
            clean = false;
        }
    });
    return clean;
}

}  // namespace korvalen
