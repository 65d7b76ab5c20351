#include "text/lines.hpp"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace korvalen {

LineBreak FindBreak(std::string_view buf, std::size_t from) noexcept {
    for (std::size_t i = from; i < buf.size(); ++i) {
        const char c = buf[i];
        if (c == '\n') {
            return {i, 1};
        }
        if (c == '\r') {
            return {i, (i + 1 < buf.size() && buf[i + 1] == '\n') ? 2u : 1u};
        }
    }
    return {std::string_view::npos, 0};
}

std::vector<std::string_view> SplitLines(std::string_view buf) {
    std::vector<std::string_view> lines;
    ForEachLine(buf, [&](std::string_view line) { lines.push_back(line); });
    return lines;
}

LineReader::LineReader(ByteSource& source, std::size_t chunk)
    : source_(source), chunk_(std::max<std::size_t>(chunk, 1)) {}

void LineReader::Fill() {
    if (begin_ > 0) {  // drop the lines already handed out
        std::memmove(buf_.data(), buf_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        scan_ -= begin_;
        begin_ = 0;
    }
    if (buf_.size() < end_ + chunk_) {
        buf_.resize(std::max(end_ + chunk_, buf_.size() * 2));
    }
    const std::size_t got = source_.Read(buf_.data() + end_, chunk_);
    if (got == 0) {
        eof_ = true;
    }
    end_ += std::min(got, chunk_);
}

bool LineReader::Next(std::string_view& line) {
    for (;;) {
        const std::string_view avail(buf_.data() + begin_, end_ - begin_);
        const LineBreak br = FindBreak(avail, scan_ - begin_);
        if (br.pos != std::string_view::npos) {
            // A CR at the very end of what was read may be half of CR LF.
            const bool undecided =
                br.len == 1 && avail[br.pos] == '\r' && br.pos + 1 == avail.size() && !eof_;
            if (!undecided) {
                line = avail.substr(0, br.pos);
                begin_ += br.pos + br.len;
                scan_ = begin_;
                return true;
            }
            scan_ = begin_ + br.pos;
        } else {
            scan_ = end_;
            if (eof_) {
                if (begin_ == end_) {
                    return false;
                }
                line = avail;
                begin_ = end_;
                return true;
            }
        }
        Fill();
    }
}

std::size_t MemorySource::Read(char* buf, std::size_t n) {
    const std::size_t got = std::min({n, max_chunk_, data_.size()});
    if (got > 0) {
        std::memcpy(buf, data_.data(), got);
    }
    data_.remove_prefix(got);
    return got;
}

std::size_t MemorySource::ReadAt(char* buf, std::size_t n, std::uint64_t ahead) {
    if (ahead >= data_.size()) {
        return 0;
    }
    const auto at = static_cast<std::size_t>(ahead);
    const std::size_t got = std::min({n, max_chunk_, data_.size() - at});
    std::memcpy(buf, data_.data() + at, got);
    return got;
}

std::size_t ByteSource::ReadAt(char*, std::size_t, std::uint64_t) {
    throw std::logic_error("this source is read in order only");
}

}  // namespace korvalen
