#include "search/hit_writer.hpp"

#include "text/sjis.hpp"

namespace korvalen {

namespace {

constexpr std::size_t kFlushAt = 1 << 16;

}  // namespace

OutFile::~OutFile() = default;

void OutFile::Open(const std::string& path, bool create) {
    try {
        file_ = File(path, create ? File::Mode::Create : File::Mode::Append);
    } catch (const FileError& e) {
        Fail(e);
    }
    buf_.clear();
    failed_ = false;
}

FileId OutFile::Id() const {
    return file_.Id();
}

void OutFile::Fail(const FileError& e) {
    failed_ = true;
    buf_.clear();
    throw OutputError(e.what());
}

void OutFile::WriteLine(std::string_view bytes) {
    if (failed_ || !file_.IsOpen()) {
        throw OutputError("output file not writable");
    }
    buf_.append(bytes);
    buf_.append("\r\n");
    if (buf_.size() >= kFlushAt) {
        Flush();
    }
}

void OutFile::Flush() {
    try {
        file_.WriteAll(buf_);
    } catch (const FileError& e) {
        Fail(e);
    }
    buf_.clear();
}

void OutFile::Close() {
    if (!file_.IsOpen()) {
        return;
    }
    if (failed_) {
        try {
            file_.Close();
        } catch (const FileError&) {
        }
        throw OutputError("output file not writable");
    }
    Flush();
    try {
        file_.Close();
    } catch (const FileError& e) {
        Fail(e);
    }
}

std::string ComposeHitLine(std::string_view path, std::int64_t number, std::string_view word,
                           std::string_view text, const iset& options) {
    std::string line(path);
    if (options.TagJump) {
        line += '(';
        line += std::to_string(number);
        line += ") :(";
    } else {
        line += ' ';
        line += std::to_string(number);
        line += ":(";
    }
    line += word;
    line += ')';
    const std::int32_t width = options.OutputStrLength;
    if (width != 0) {
        // A head as wide as the limit (or any head, for a negative one) stands alone.
        if (width < 0 || line.size() >= static_cast<std::size_t>(width)) {
            return TrimRightSpaces(line);
        }
        line += text;
        std::string_view rest = line;
        return TrimRightSpaces(CutHead(rest, width));
    }
    line += text;
    return TrimRightSpaces(line);
}

}  // namespace korvalen
