#include "cli/terminal.hpp"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <memory>

#include "text/cp932.hpp"
#include "text/sjis.hpp"

namespace korvalen {

namespace {

std::string Upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return out;
}

struct IconvCloser {
    void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};

// Converts all of `in`; none when a character does not convert or iconv
// knows neither encoding.
std::optional<std::string> Convert(std::string_view in, const std::string& to,
                                   const std::string& from) {
    const iconv_t raw = iconv_open(to.c_str(), from.c_str());
    if (raw == reinterpret_cast<iconv_t>(-1)) {
        return std::nullopt;
    }
    const std::unique_ptr<void, IconvCloser> cd(raw);
    std::string out(in.size() * 4 + 16, '\0');
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    char* dst = out.data();
    std::size_t dstLeft = out.size();
    while (srcLeft > 0) {
        if (iconv(raw, &src, &srcLeft, &dst, &dstLeft) == static_cast<std::size_t>(-1)) {
            if (errno != E2BIG) {
                return std::nullopt;
            }
            const std::size_t used = out.size() - dstLeft;
            out.resize(out.size() * 2);
            dst = out.data() + used;
            dstLeft = out.size() - used;
        }
    }
    if (iconv(raw, nullptr, nullptr, &dst, &dstLeft) == static_cast<std::size_t>(-1)) {
        return std::nullopt;
    }
    out.resize(out.size() - dstLeft);
    return out;
}

void AppendHexBytes(std::string& out, std::string_view bytes) {
    for (const char c : bytes) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(c));
        out += hex;
    }
}

// Length of the UTF-8 sequence that starts with `lead` (1 for a stray byte).
std::size_t Utf8Length(unsigned char lead) {
    if (lead >= 0xF0 && lead <= 0xF4) {
        return 4;
    }
    if (lead >= 0xE0) {
        return lead <= 0xEF ? 3 : 1;
    }
    if (lead >= 0xC2) {
        return 2;
    }
    return 1;
}

// Code sets whose text is code page 932 bytes already: Shift-JIS is its
// subset. Through Unicode, iconv's Shift-JIS would make 0x5C the yen sign
// and 0x7E the overline, which code page 932 has no code for.
bool IsShiftJis(const std::string& codeset) {
    for (const char* name :
         {"SHIFT_JIS", "SHIFT-JIS", "SJIS", "MS_KANJI", "CSSHIFTJIS", "CP932", "WINDOWS-31J"}) {
        if (codeset == name) {
            return true;
        }
    }
    return false;
}

}  // namespace

Terminal::Terminal(std::string codeset)
    : codeset_(std::move(codeset)),
      utf8_(Upper(codeset_) == "UTF-8" || Upper(codeset_) == "UTF8"),
      sjis_(IsShiftJis(Upper(codeset_))) {}

Terminal Terminal::FromEnvironment() {
    std::setlocale(LC_ALL, "");
    return Terminal(nl_langinfo(CODESET));
}

std::string Terminal::FromCp932(std::string_view sjis) const {
    std::string out;
    std::string_view rest = sjis;
    while (!rest.empty()) {
        const std::string_view ch = TakeChar(rest);
        if (!Cp932DecodesCleanly(ch)) {
            AppendHexBytes(out, ch);
            continue;
        }
        const std::string utf8 = Cp932ToUtf8(ch);
        if (utf8_) {
            out += utf8;
        } else if (sjis_) {
            // As they are, when the terminal's Shift-JIS has the character.
            if (Convert(ch, "UTF-8", codeset_)) {
                out += ch;
            } else {
                AppendHexBytes(out, ch);
            }
        } else if (const auto local = Convert(utf8, codeset_, "UTF-8")) {
            out += *local;
        } else {
            AppendHexBytes(out, ch);
        }
    }
    return out;
}

std::string Terminal::FromUtf8(std::string_view utf8) const {
    if (utf8_) {
        return std::string(utf8);
    }
    if (auto whole = Convert(utf8, codeset_, "UTF-8")) {
        return *whole;
    }
    std::string out;
    while (!utf8.empty()) {
        const std::size_t len =
            std::min(Utf8Length(static_cast<unsigned char>(utf8[0])), utf8.size());
        const auto local = Convert(utf8.substr(0, len), codeset_, "UTF-8");
        out += local ? *local : std::string("?");
        utf8.remove_prefix(len);
    }
    return out;
}

std::optional<std::string> Terminal::ToCp932(std::string_view text) const {
    if (sjis_) {
        if (!Cp932DecodesCleanly(text)) {
            return std::nullopt;
        }
        return std::string(text);
    }
    std::string utf8;
    if (utf8_) {
        utf8 = text;
    } else if (auto converted = Convert(text, "UTF-8", codeset_)) {
        utf8 = std::move(*converted);
    } else {
        return std::nullopt;
    }
    return Utf8ToCp932Exactly(utf8);
}

}  // namespace korvalen
