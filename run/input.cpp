#include "run/input.hpp"

#include <cerrno>

namespace korvalen {

namespace {

// The start of a file kept for replay; a file read further than this to
// decide (plain ASCII or valid UTF-8 throughout) is opened again.
constexpr std::size_t kKeep = std::size_t{1} << 20;

}  // namespace

InputText::InputText(const std::string& name, bool detect, const std::function<bool()>& between,
                     bool provisional, const FileSight& sight)
    : file_(RefuseLineBreakName(name), sight) {
    if (!detect) {
        return;
    }
    Sniffed sniffed = SniffEncoding(raw_, kKeep, between, provisional);
    encoding_ = sniffed.encoding;
    settled_ = sniffed.settled;
    if (sniffed.replayable) {
        replay_.emplace(std::move(sniffed.head), raw_);
        source_ = &*replay_;
    } else {
        file_ = File(name, File::Mode::Read);
    }
    if (encoding_ != TextEncoding::Cp932) {
        convert_.emplace(*source_, encoding_);
        source_ = &*convert_;
    }
}

const std::string& RefuseLineBreakName(const std::string& name) {
    if (name.find_first_of("\r\n") != std::string::npos) {
        throw FileError(name, EINVAL, "open");
    }
    return name;
}

TextEncoding ConvertLoaded(std::string& data) {
    const TextEncoding encoding = DetectEncoding(data);
    if (encoding != TextEncoding::Cp932) {
        std::string converted = ToCp932(data, encoding);
        data.swap(converted);
    }
    return encoding;
}

}  // namespace korvalen
