// Text between the program (code page 932 words, UTF-8 messages) and the
// terminal, in the terminal's encoding.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace korvalen {

class Terminal {
  public:
    // `codeset` as nl_langinfo(CODESET) names it ("UTF-8", "EUC-JP", ...).
    explicit Terminal(std::string codeset);
    // The codeset of the locale the environment chooses.
    static Terminal FromEnvironment();

    bool IsUtf8() const noexcept { return utf8_; }

    // Code page 932 bytes for display; a character that has no form in the
    // terminal's encoding is printed as \xHH per byte.
    std::string FromCp932(std::string_view sjis) const;
    // A UTF-8 message for display; what the terminal cannot show becomes '?'.
    std::string FromUtf8(std::string_view utf8) const;
    // An argument typed in the terminal as code page 932; none when some
    // character has no code page 932 form or the bytes are not valid text.
    // The JIS-style code points that Linux input methods type (U+301C ...)
    // become the characters they stand for; a Shift-JIS terminal's bytes are
    // taken as they are.
    std::optional<std::string> ToCp932(std::string_view text) const;

  private:
    std::string codeset_;
    bool utf8_;
    bool sjis_;  // its bytes are code page 932 text
};

}  // namespace korvalen
