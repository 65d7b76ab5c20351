#include "run/hit_writer.hpp"

#include <charconv>
#include <cstdint>
#include <cstring>

#include "text/cp932.hpp"
#include "text/sjis.hpp"

namespace korvalen {

namespace {

constexpr std::size_t kFlushAt = 1 << 16;

}  // namespace

OutFile::~OutFile() = default;

void OutFile::Open(LineSink& sink) {
    buf_.clear();
    failed_ = false;
    heldBytes_ = false;
    endedMidLine_ = false;
    file_ = File();
    sink_ = &sink;
}

void OutFile::Open(const std::string& path, bool create) {
    sink_ = nullptr;
    buf_.clear();
    failed_ = false;
    heldBytes_ = false;
    endedMidLine_ = false;
    try {
        file_ = File(path, create ? File::Mode::Create : File::Mode::Append);
        if (!create) {
            heldBytes_ = file_.Size() > 0;
            // A torn last line or a hand edit; a file that cannot be read
            // back is taken to end its line.
            const std::optional<char> last = file_.LastByte();
            endedMidLine_ = last && *last != '\n' && *last != '\r';
        }
    } catch (const FileError& e) {
        Fail(e);
    }
}

void OutFile::WriteRunSeparator(std::string_view line) {
    if (!heldBytes_) {
        return;
    }
    if (endedMidLine_) {
        WriteLine({});
    }
    WriteLine(line);
}

FileId OutFile::Id() const {
    return file_.Id();
}

void OutFile::Fail(const FileError& e) {
    failed_ = true;
    buf_.clear();
    throw OutputError(e.what());
}

void OutFile::CheckWritable() const {
    if (failed_ || !IsOpen()) {
        throw OutputError("output file not writable");
    }
}

void OutFile::WriteLine(std::string_view bytes) {
    CheckWritable();
    buf_.append(bytes);
    buf_.append("\r\n");
    if (buf_.size() >= kFlushAt) {
        Flush();
    }
}

void OutFile::Put(std::string_view bytes) {
    if (sink_ != nullptr) {
        sink_->Take(bytes);
        return;
    }
    try {
        file_.Reserve(bytes.size());
        file_.WriteAll(bytes);
    } catch (const FileError& e) {
        Fail(e);
    }
}

void OutFile::Flush() {
    Put(buf_);
    buf_.clear();
}

void OutFile::WriteLines(std::string_view lines) {
    CheckWritable();
    if (buf_.size() + lines.size() < kFlushAt) {
        buf_.append(lines);
        return;
    }
    Flush();
    Put(lines);
}

void OutFile::Close() {
    if (sink_ != nullptr) {
        Flush();
        sink_ = nullptr;
        return;
    }
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

namespace {

// Eight bytes at a time: it runs for every hit line.
bool IsAscii(std::string_view s) noexcept {
    std::uint64_t high = 0;
    std::size_t i = 0;
    for (; i + 8 <= s.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, s.data() + i, 8);
        high |= word;
    }
    for (; i < s.size(); ++i) {
        high |= static_cast<unsigned char>(s[i]);
    }
    return (high & 0x8080808080808080ULL) == 0;
}

}  // namespace

void AppendOutputPath(std::string& line, std::string_view path) {
    if (IsAscii(path) && path.find_first_of("\r\n") == std::string_view::npos) {
        line += path;
        return;
    }
    // A run writes one path many times over: the last one is kept.
    thread_local std::string lastPath, lastWritten;
    if (path != lastPath) {
        lastPath = path;
        lastWritten.clear();
        // Code page 932 only when it reads back as the same name: 〜 typed on
        // Linux would come back as the Windows ～ and name another file.
        if (!Utf8ToCp932Exact(path, lastWritten) || Cp932ToUtf8(lastWritten) != path) {
            lastWritten = path;
        }
        // A break in a name would forge a line; such a file is never searched
        // (see InputText), its error block shows the break as "?".
        for (char& c : lastWritten) {
            c = c == '\r' || c == '\n' ? '?' : c;
        }
    }
    line += lastWritten;
}

std::string OutputPath(std::string_view path) {
    std::string out;
    AppendOutputPath(out, path);
    return out;
}

void AppendHitLine(std::string& line, std::string_view path, std::int64_t number,
                   std::string_view word, std::string_view text, const iset& options) {
    const std::size_t begin = line.size();
    char digits[24];
    const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, number);
    (void)ec;  // 24 characters hold any 64-bit number
    AppendOutputPath(line, path);
    line += options.TagJump ? "(" : " ";
    line.append(digits, end);
    line += options.TagJump ? ") :(" : ":(";
    line += word;
    line += ')';
    const std::size_t head = line.size() - begin;
    const std::int32_t width = options.OutputStrLength;
    if (width == 0) {
        line += text;
    } else if (width > 0 && head < static_cast<std::size_t>(width)) {
        // A head as wide as the limit (or any head, for a negative one) stands
        // alone; otherwise the cut of head + text, of which only the first
        // `width` bytes can matter.
        const auto w = static_cast<std::size_t>(width);
        line += text.substr(0, w - head);
        const std::string_view whole(line.data() + begin, line.size() - begin);
        const std::size_t keep = head + text.size() < w ? whole.size() : CutHeadKeep(whole, width);
        line.resize(begin + keep);
    }
    // The padding space of the cut would go here with the other trailing blanks.
    std::size_t n = line.size();
    while (n > begin && (line[n - 1] == ' ' || line[n - 1] == '\t')) {
        --n;
    }
    line.resize(n);
}

std::string ComposeHitLine(std::string_view path, std::int64_t number, std::string_view word,
                           std::string_view text, const iset& options) {
    std::string line;
    AppendHitLine(line, path, number, word, text, options);
    return line;
}

void OutFile::WriteHitLine(const iset& options, std::string_view path, std::int64_t number,
                           std::string_view word, std::string_view text) {
    CheckWritable();
    AppendHitLine(buf_, path, number, word, text, options);
    buf_.append("\r\n");
    if (buf_.size() >= kFlushAt) {
        Flush();
    }
}

void WriteHitLine(OutFile& out, const iset& options, std::string_view path, std::int64_t number,
                  std::string_view word, std::string_view text) {
    out.WriteHitLine(options, path, number, word, text);
}

}  // namespace korvalen
