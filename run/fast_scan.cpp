#include "run/fast_scan.hpp"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <utility>

#include "match/bytes.hpp"
#include "platform/file.hpp"
#include "text/cp932.hpp"
#include "text/sjis.hpp"

namespace korvalen {

namespace {

std::uint16_t PairOf(unsigned char a, unsigned char b) noexcept {
    return static_cast<std::uint16_t>((a << 8) | b);
}

// Whether a character starts at `pos` of `line`, as a walk from the line's
// start would find. The byte after one that is not a lead byte always starts
// a character (a lead byte takes the next byte, whatever it is), so only the
// run of lead bytes just before `pos` matters: an even run ends on a boundary.
// A long run is walked from `cursor`, a boundary at or before `pos` that
// only moves forward, so that a line of lead bytes costs one walk.
bool OnBoundary(std::string_view line, std::size_t pos, std::size_t& cursor) noexcept {
    constexpr std::size_t kLongRun = 64;
    std::size_t run = 0;
    while (run < pos && IsLeadByte(line[pos - run - 1])) {
        if (++run == kLongRun) {
            if (cursor > pos) {
                cursor = 0;
            }
            while (cursor < pos) {
                cursor += IsLeadByte(line[cursor]) ? 2 : 1;
            }
            return cursor == pos;
        }
    }
    return run % 2 == 0;
}

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

// Whether `text` holds the character `c` (both code page 932).
bool HoldsChar(std::string_view text, std::string_view c) noexcept {
    for (std::size_t i = 0; i < text.size();) {
        if (text.compare(i, c.size(), c) == 0) {
            return true;
        }
        i += IsLeadByte(text[i]) ? 2 : 1;
    }
    return false;
}

// The UTF-8 texts that convert to `word` (whole characters that decode
// cleanly): a character such as ～ converts from two code points (U+FF5E and
// the U+301C that Linux input methods type). Past 16 texts, those of the
// longest prefix that has no more: a line holding the word holds its prefix.
std::vector<std::string> Utf8FormsOf(std::string_view word) {
    std::vector<std::string> forms(1);
    while (!word.empty()) {
        const std::string_view ch = TakeChar(word);
        const std::string other = Cp932JisFormOf(ch);
        const std::size_t n = forms.size();
        if (!other.empty()) {
            if (2 * n > 16) {
                break;
            }
            for (std::size_t i = 0; i < n; ++i) {
                forms.push_back(forms[i] + other);
            }
        }
        const std::string utf8 = Cp932ToUtf8(ch);
        for (std::size_t i = 0; i < n; ++i) {
            forms[i] += utf8;
        }
    }
    return forms;
}

}  // namespace

bool FastScanner::SetWords(std::vector<std::string> words, const SetupPause& pause) {
    try {
        Compile(std::move(words), pause);
        return true;
    } catch (const SetupStopped&) {
        Compile({}, {});  // half set up is no set-up
        return false;
    }
}

void FastScanner::Compile(std::vector<std::string> words, const SetupPause& pause) {
    SetupPacer pacer(pause);
    words_ = std::move(words);
    matcher_ = std::make_unique<Matcher>(words_, engine_, pause);
    pair_bits_.assign(65536 / 64, 0);
    pair_words_.clear();
    space_words_.clear();
    // The words the matcher takes: a word equal to one before it never hits
    // first, and one that holds a break is in no line and no join.
    for (const std::uint32_t id : matcher_->Ids()) {
        pacer.Tick();
        const std::string& w = words_[id];
        if (w == " ") {
            space_words_.push_back(id);
        }
        for (std::size_t k = 0; k + 1 < w.size(); ++k) {
            const std::uint16_t pair =
                PairOf(static_cast<unsigned char>(w[k]), static_cast<unsigned char>(w[k + 1]));
            pair_bits_[pair >> 6] |= std::uint64_t{1} << (pair & 63);
            pair_words_.emplace_back(pair, id);
        }
    }
    // By pair, then by word (they came by word). A counting sort is linear
    // but walks all 65,536 pairs: worth it for large families only.
    if (pair_words_.size() < 4096) {
        std::stable_sort(pair_words_.begin(), pair_words_.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
    } else {
        std::vector<std::uint32_t> at(65536 + 1, 0);
        for (const auto& [pair, id] : pair_words_) {
            ++at[pair + 1];
        }
        for (std::size_t k = 1; k < at.size(); ++k) {
            at[k] += at[k - 1];
        }
        std::vector<std::pair<std::uint16_t, std::uint32_t>> sorted(pair_words_.size());
        for (const auto& item : pair_words_) {
            sorted[at[item.first]++] = item;
        }
        pair_words_.swap(sorted);
    }
    pair_words_.erase(std::unique(pair_words_.begin(), pair_words_.end()), pair_words_.end());
    prev_words_known_ = false;
    SetJoinTables();
    // The UTF-8 forms wait for a UTF-8 file: most runs read none.
    utf8_matcher_.reset();
    utf8_words_.clear();
    utf8_ready_ = false;
}

bool FastScanner::PrepareUtf8(const SetupPause& pause) {
    if (utf8_ready_ || !config_.japanese_word || config_.cr_text) {
        return true;  // done, or not used with these options
    }
    try {
        SetupPacer pacer(pause);
        // The UTF-8 forms find every hit of a converted line only when each
        // word is whole characters that convert back to it.
        bool exact = true;
        for (const std::string& w : words_) {
            pacer.Tick();
            if (!w.empty() && (!Cp932DecodesCleanly(w) || HoldsChar(w, kGetaMark))) {
                exact = false;
                break;
            }
            // A lead byte of Japanese text says little (E3 starts all the kana):
            // the word without it, when long enough, finds fewer lines that do
            // not hold the word, and still every line that does.
            for (std::string& u : Utf8FormsOf(w)) {
                if (u.size() >= 5 && static_cast<unsigned char>(u[0]) >= 0xC0) {
                    u.erase(0, 1);
                }
                utf8_words_.push_back(std::move(u));
            }
        }
        if (exact) {
            utf8_matcher_ = std::make_unique<Matcher>(utf8_words_, engine_, pause);
        }
    } catch (const SetupStopped&) {
        utf8_matcher_.reset();
        utf8_words_.clear();
        return false;
    }
    utf8_ready_ = true;
    return true;
}

void FastScanner::ReleaseBuffers() noexcept {
    std::string().swap(read_buf_);
    std::string().swap(converted_);
    std::vector<Matcher::Match>().swap(matches_);
    std::vector<Matcher::Match>().swap(utf8_matches_);
    breaks_ = Matcher::Breaks{};
    utf8_breaks_ = Matcher::Breaks{};
}

void FastScanner::Reset() noexcept {
    lines_ = 0;
    utf8_start_ = true;
    utf8_conv_ = Cp932Converter(TextEncoding::Utf8);
    utf8_pause_ = 0;
    utf8_backoff_ = 0;
    prev_ = {};
    prev_words_.clear();
    prev_words_known_ = true;
}

void FastScanner::ScanBuffer(std::string_view data, Host& host) {
    const char* b = data.data();
    const std::size_t n = data.size();
    std::size_t pos = 0;
    while (pos < n) {
        std::size_t end = n;
        if (n - pos > block_) {
            const std::size_t br = FindBreakByte(b, pos + block_, n);
            end = br + BreakLength(b, br, n);
        }
        const std::int64_t progress = ScanBlock(data.substr(pos, end - pos), host);
        pos = end;
        if (!host.AfterBlock(progress)) {
            return;
        }
    }
}

template <class Scan>
void FastScanner::ReadBlocks(ByteSource& source, Host& host, Scan scan) {
    const std::size_t chunk = block_;
    // Kept from file to file: clearing it for each small file cost more
    // than reading the file. (One a long line made huge goes.)
    std::string& buf = read_buf_;
    if (buf.size() > 4 * chunk) {
        std::string().swap(buf);
    }
    if (buf.size() < 2 * chunk) {
        buf.resize(2 * chunk);
    }
    std::size_t have = 0;     // bytes in buf
    std::size_t checked = 0;  // buf[0, checked) holds no decided break
    bool eof = false;
    // The end of the last line whose break is decided: a CR that ends what
    // was read may be half of a CR LF.
    auto decided_cut = [&]() -> std::size_t {
        if (eof) {
            return have;
        }
        std::size_t i = have;
        while (i > checked) {
            const char c = buf[i - 1];
            if (c == '\n' || (c == '\r' && i < have)) {
                return i;
            }
            --i;
        }
        return 0;
    };
    for (;;) {
        try {
            while (!eof && have < chunk) {
                if (buf.size() < have + chunk) {
                    buf.resize(std::max(buf.size() * 2, have + chunk));
                }
                const std::size_t got = source.Read(buf.data() + have, chunk);
                eof = got == 0;
                have += got;
            }
        } catch (...) {
            // The lines read whole before the failure are searched first.
            const std::size_t cut = decided_cut();
            if (cut > 0) {
                const std::int64_t progress = scan(std::string_view(buf.data(), cut));
                if (progress >= 0 && !host.AfterBlock(progress)) {
                    return;
                }
            }
            throw;
        }
        const std::size_t cut = decided_cut();
        if (cut == 0) {
            if (eof) {
                return;  // nothing left
            }
            // A line longer than what is held: read on.
            checked = have > 0 ? have - 1 : 0;
            if (buf.size() < have + chunk) {
                // Never past the limit, not even while the buffer is moved.
                if (have + chunk > line_limit_) {
                    throw FileError({}, ENOMEM, "a line longer than the memory at hand");
                }
                buf.resize(std::min(std::max(buf.size() * 2, have + chunk), line_limit_));
            }
            const std::size_t got = source.Read(buf.data() + have, chunk);
            eof = got == 0;
            have += got;
            continue;
        }
        const std::int64_t progress = scan(std::string_view(buf.data(), cut));
        if (progress < 0) {
            return;  // the scan gave up on the input
        }
        std::memmove(buf.data(), buf.data() + cut, have - cut);
        have -= cut;
        checked = 0;
        if (!host.AfterBlock(progress)) {
            return;
        }
        if (eof && have == 0) {
            return;
        }
    }
}

void FastScanner::ScanSource(ByteSource& source, Host& host) {
    ReadBlocks(source, host, [&](std::string_view block) { return ScanBlock(block, host); });
}

bool FastScanner::ScanUtf8Source(ByteSource& source, Host& host, bool provisional) {
    utf8_non_ascii_ = false;
    utf8_raw_ = false;
    bool not_utf8 = false;
    ReadBlocks(source, host, [&](std::string_view block) -> std::int64_t {
        if (utf8_start_) {
            utf8_start_ = false;
            // The mark is dropped here, so the converter is told it went by.
            char none[Cp932Converter::MaxOutput(3)];
            utf8_conv_.Convert(kUtf8Mark, /*last=*/false, none);
            if (block.starts_with(kUtf8Mark)) {
                block.remove_prefix(kUtf8Mark.size());
            }
        }
        if (utf8_raw_) {
            return ScanBlock(block, host);
        }
        // Blocks are whole lines, and no sequence holds a break: the file is
        // valid throughout when every block is.
        const Utf8Summary summary = SummarizeUtf8(block);
        if (!summary.valid) {
            if (!provisional) {
                return ConvertAndScan(block, host, /*valid=*/false);
            }
            if (utf8_non_ascii_) {
                not_utf8 = true;
                return -1;
            }
            utf8_raw_ = true;
            host.Settled();
            return ScanBlock(block, host);
        }
        if (!summary.non_ascii) {
            return ScanBlock(block, host);  // the same text either way
        }
        utf8_non_ascii_ = true;
        return ScanUtf8Block(block, host, summary.cp932_length);
    });
    return !not_utf8;
}

std::int64_t FastScanner::ConvertAndScan(std::string_view raw, Host& host, bool valid) {
    if (converted_.size() < Cp932Converter::MaxOutput(raw.size())) {
        converted_.resize(Cp932Converter::MaxOutput(raw.size()));
    }
    // Whole lines: a sequence that a break cuts short is invalid whatever
    // follows, so converting them as the end of the input changes nothing.
    const std::size_t size = valid ? ConvertValidUtf8(raw, converted_.data())
                                   : utf8_conv_.Convert(raw, /*last=*/true, converted_.data());
    return ScanBlock(std::string_view(converted_.data(), size), host);
}

// Hits in a piece made of runs of a block's lines, numbered as in the block.
class FastScanner::MappedHost : public FastScanner::Host {
  public:
    MappedHost(Host& host, const std::vector<Utf8Run>& runs, std::int64_t base)
        : host_(host), runs_(runs), base_(base) {}
    void Hit(std::int64_t number, std::uint32_t word, std::string_view text) override {
        const auto k = static_cast<std::size_t>(number - 1);  // line of the piece
        while (at_ + 1 < runs_.size() && runs_[at_ + 1].piece_line <= k) {
            ++at_;  // hits come in line order
        }
        const Utf8Run& run = runs_[at_];
        host_.Hit(base_ + static_cast<std::int64_t>(run.block_line + (k - run.piece_line)) + 1,
                  word, text);
    }
    bool AfterBlock(std::int64_t) override { return true; }

  private:
    Host& host_;
    const std::vector<Utf8Run>& runs_;
    std::int64_t base_;
    std::size_t at_ = 0;
};

std::int64_t FastScanner::ScanUtf8Block(std::string_view block, Host& host,
                                        std::size_t cp932_length) {
    if (!matcher_) {
        SetWords({});
    }
    PrepareUtf8();
    if (!Utf8FilterExact() || utf8_pause_ > 0) {
        if (utf8_pause_ > 0) {
            --utf8_pause_;
        }
        return ConvertAndScan(block, host, /*valid=*/true);
    }
    utf8_matches_.clear();
    // One occurrence finds a line.
    utf8_matcher_->FindAll(block, utf8_matches_, &utf8_breaks_, Matcher::Keep::LineFirst);
    const std::size_t n = block.size();
    const std::vector<std::uint64_t>& ends = utf8_breaks_.ends;
    const std::vector<std::uint64_t>& any = utf8_breaks_.any;
    const bool open_end = n > 0 && !IsBreakByte(block[n - 1]);
    // The lines that hold a candidate are converted into one piece and
    // scanned together; the hits' numbers are mapped back to the block's
    // lines. The other lines are only counted: their converted lengths come
    // from the characters they hold.
    utf8_runs_.clear();
    std::size_t piece = 0;      // converted bytes so far
    std::size_t piece_raw = 0;  // bytes of the block they came from
    std::size_t done = 0;       // block[0, done) is accounted for
    std::size_t line = 0;       // lines of the block before `done`
    std::size_t piece_lines = 0;
    auto count_gap = [&](std::size_t to) {
        if (done >= to) {
            return;
        }
        line += CountBits(ends, done, to) + ((to == n && open_end) ? 1 : 0);
        done = to;
    };
    std::size_t mi = 0;
    const std::size_t mc = utf8_matches_.size();
    while (mi < mc) {
        const Matcher::Match& m = utf8_matches_[mi];
        const std::size_t last = LastBitBefore(any, m.end - utf8_words_[m.word].size());
        const std::size_t begin = last == kNoBit ? 0 : last + 1;
        std::size_t end = NextBitFrom(any, m.end, n);
        end += BreakLength(block.data(), end, n);
        while (++mi < mc && utf8_matches_[mi].end <= end) {
        }
        count_gap(begin);
        if (utf8_runs_.empty() || utf8_runs_.back().block_line + utf8_runs_.back().lines != line) {
            utf8_runs_.push_back({piece_lines, line, 0});
        }
        std::size_t lines = CountBits(ends, begin, end) + ((end == n && open_end) ? 1 : 0);
        utf8_runs_.back().lines += lines;
        piece_lines += lines;
        line += lines;
        const std::string_view raw = block.substr(begin, end - begin);
        if (converted_.size() < piece + Cp932Converter::MaxOutput(raw.size())) {
            converted_.resize(
                std::max(2 * converted_.size(), piece + Cp932Converter::MaxOutput(raw.size())));
        }
        // Whole lines: a sequence that a break cuts short is invalid whatever
        // follows, so converting them as the end of the input changes nothing.
        piece += ConvertValidUtf8(raw, converted_.data() + piece);
        piece_raw += raw.size();
        done = end;
    }
    count_gap(n);
    if (piece > 0) {
        const std::int64_t before = lines_;
        lines_ = 0;
        MappedHost mapped(host, utf8_runs_, before);
        ScanBlock(std::string_view(converted_.data(), piece), mapped);
        lines_ = before;
    }
    lines_ += static_cast<std::int64_t>(line);
    // The progress of the whole block converted: the same lines and breaks.
    const auto progress = static_cast<std::int64_t>(cp932_length - utf8_breaks_.any_count) +
                          2 * static_cast<std::int64_t>(line);
    // Where a good part of the text is in candidate lines, filtering costs
    // more than it saves (measured: about a third breaks even): blocks are
    // converted whole for a while.
    if (piece_raw > n / 4) {
        utf8_backoff_ = std::min<std::uint32_t>(2 * utf8_backoff_ + 1, 256);
        utf8_pause_ = utf8_backoff_;
    } else {
        utf8_backoff_ = 0;
    }
    return progress;
}

std::int64_t FastScanner::ScanBlock(std::string_view block, Host& host) {
    matches_.clear();
    if (!matcher_) {
        SetWords({});
    }
    // The joins need the byte classes of the block.
    const bool joins = config_.cr_text && space_words_.empty();
    if (joins && join_trim_prev_ != config_.trim_prev) {
        SetJoinTables();
    }
    breaks_.classes[0].on = joins;
    breaks_.classes[0].before_break = true;
    breaks_.classes[1].on = joins && start_always_;
    // Without joins a line wants only its first word (FirstDirect); the
    // joins want every word of the line and of the one before.
    const Matcher::Keep keep = config_.cr_text         ? Matcher::Keep::All
                               : config_.japanese_word ? Matcher::Keep::LineFirstAligned
                                                       : Matcher::Keep::LineFirst;
    matcher_->FindAll(block, matches_, &breaks_, keep);
    if (config_.cr_text) {
        ScanJoined(block, host);
    } else {
        ScanPlain(block, host);
    }
    // Every line of the block ends in a break but the input's last one.
    const std::size_t n = block.size();
    const std::size_t lines = breaks_.end_count + ((n > 0 && !IsBreakByte(block[n - 1])) ? 1 : 0);
    const std::size_t break_bytes = breaks_.any_count;
    lines_ += static_cast<std::int64_t>(lines);
    const std::int64_t progress =
        static_cast<std::int64_t>(n - break_bytes) + 2 * static_cast<std::int64_t>(lines);
    if (!prev_.empty() && prev_.data() != prev_store_.data()) {
        prev_store_.assign(prev_);  // the block's buffer is reused
        prev_ = prev_store_;
    }
    return progress;
}

std::uint32_t FastScanner::FirstDirect(std::string_view line, std::size_t line_begin,
                                       std::size_t first, std::size_t last) {
    std::uint32_t best = kNone;
    if (!config_.japanese_word) {
        for (std::size_t k = first; k < last; ++k) {
            best = std::min(best, matches_[k].word);
        }
        return best;
    }
    std::size_t cursor = 0;
    for (std::size_t k = first; k < last; ++k) {
        const Matcher::Match& m = matches_[k];
        const std::size_t start = m.end - matcher_->Length(m.word) - line_begin;
        if (m.word < best && OnBoundary(line, start, cursor)) {
            best = m.word;
        }
    }
    return best;
}

void FastScanner::ScanPlain(std::string_view block, Host& host) {
    const std::size_t n = block.size();
    std::size_t counted = 0;  // line ends in [0, counted) are in `before`
    std::size_t before = 0;
    std::size_t mi = 0;
    const std::size_t mc = matches_.size();
    while (mi < mc) {
        // The line of the next occurrence; the lines before it hold none.
        const Matcher::Match& m = matches_[mi];
        const std::size_t last = LastBitBefore(breaks_.any, m.end - matcher_->Length(m.word));
        const std::size_t begin = last == kNoBit ? 0 : last + 1;
        const std::size_t end = NextBitFrom(breaks_.any, m.end, n);
        before += CountBits(breaks_.ends, counted, begin);
        counted = begin;
        std::size_t mj = mi + 1;
        while (mj < mc && matches_[mj].end <= end) {
            ++mj;
        }
        const std::string_view line = block.substr(begin, end - begin);
        const std::uint32_t word = FirstDirect(line, begin, mi, mj);
        if (word != kNone) {
            host.Hit(lines_ + static_cast<std::int64_t>(before) + 1, word, line);
        }
        mi = mj;
    }
}

void FastScanner::JoinCandidates(std::string_view line,
                                 std::vector<std::uint32_t>& candidates) const {
    std::string_view tail = prev_;
    const auto last = static_cast<unsigned char>(prev_.back());
    if (config_.trim_prev && (last == 0x20 || last == 0x09 || last == 0x40)) {
        tail = TrimRightBlanksView(prev_);
    }
    std::string_view head = line;
    const auto first = static_cast<unsigned char>(line.front());
    if (first == 0x20 || first == 0x09 || first == 0x81) {
        head = TrimLeftBlanksView(line);
    }
    // A word across the join holds the two bytes that meet there, or one
    // of them beside the space of the spaced join, or is that space.
    std::uint16_t pairs[3];
    std::size_t count = 0;
    if (!tail.empty()) {
        const auto a = static_cast<unsigned char>(tail.back());
        pairs[count++] = PairOf(a, ' ');
        if (!head.empty()) {
            pairs[count++] = PairOf(a, static_cast<unsigned char>(head.front()));
        }
    }
    if (!head.empty()) {
        pairs[count++] = PairOf(' ', static_cast<unsigned char>(head.front()));
    }
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint16_t pair = pairs[i];
        if (!PairBit(pair)) {
            continue;
        }
        auto it = std::lower_bound(pair_words_.begin(), pair_words_.end(),
                                   std::pair<std::uint16_t, std::uint32_t>(pair, 0));
        for (; it != pair_words_.end() && it->first == pair; ++it) {
            candidates.push_back(it->second);
        }
    }
    candidates.insert(candidates.end(), space_words_.begin(), space_words_.end());
}

void FastScanner::TestJoined(std::string_view line, std::size_t line_begin, std::size_t first,
                             std::size_t last, std::uint32_t& word, bool& wrapped) {
    const bool jw = config_.japanese_word;
    bool joined = false;
    std::size_t join = 0;  // where the line's half begins in the joins
    // Word j in either join (the literal test, a first aligned occurrence
    // anywhere). A word that occurs in neither half can only occur across
    // the join: then only the bytes around it are searched.
    auto across = [&](std::uint32_t j, bool halves) {
        const std::string& w = words_[j];
        if (w.empty()) {
            return false;
        }
        if (!joined) {
            // Built when a word is first tried across the break.
            const std::string_view tail = config_.trim_prev ? TrimRightBlanksView(prev_) : prev_;
            const std::string_view head = TrimLeftBlanksView(line);
            tight_.assign(tail).append(head);
            spaced_.assign(tail).append(1, ' ').append(head);
            join = tail.size();
            joined = true;
        }
        auto occurs = [&](const std::string& in, std::size_t width) {
            if (halves) {
                return in.find(w) != std::string::npos;
            }
            const std::size_t from = join >= w.size() ? join - w.size() + 1 : 0;
            return std::string_view(in).substr(from, join + width - from).find(w) !=
                   std::string_view::npos;
        };
        if (occurs(tight_, w.size() - 1)) {
            return !jw || AlignedPos(w, tight_) != 0;
        }
        return occurs(spaced_, w.size()) && (!jw || AlignedPos(w, spaced_) != 0);
    };
    if (!prev_words_known_) {
        // The words changed since the previous line: every word is tried.
        for (std::uint32_t j = 0; j < words_.size(); ++j) {
            const std::string& w = words_[j];
            if (!w.empty() && line.find(w) != std::string_view::npos &&
                (!jw || AlignedPos(w, line) != 0)) {
                word = j;
                return;
            }
            if (across(j, true)) {
                word = j;
                wrapped = true;
                return;
            }
        }
        return;
    }
    // The first word that the line holds wins unless a word before it in the
    // list runs across the break. Only a word that occurs in the line, in the
    // previous line or across their join can. Candidates are 2 j for a word
    // of a half, 2 j + 1 for one that only the join may hold.
    const std::uint32_t direct = FirstDirect(line, line_begin, first, last);
    candidates_.clear();
    for (std::size_t k = first; k < last; ++k) {
        candidates_.push_back(2 * matches_[k].word);
    }
    for (const std::uint32_t j : prev_words_) {
        candidates_.push_back(2 * j);
    }
    const std::size_t halves = candidates_.size();
    JoinCandidates(line, candidates_);
    for (std::size_t k = halves; k < candidates_.size(); ++k) {
        candidates_[k] = 2 * candidates_[k] + 1;
    }
    std::sort(candidates_.begin(), candidates_.end());
    std::uint32_t tried = kNone;
    for (const std::uint32_t c : candidates_) {
        const std::uint32_t j = c / 2;
        if (j >= direct) {
            break;
        }
        if (j == tried) {
            continue;  // the same word from a half came first
        }
        tried = j;
        if (across(j, c % 2 == 0)) {
            word = j;
            wrapped = true;
            return;
        }
    }
    word = direct;
}

void FastScanner::SetJoinTables() {
    // A word across the join holds the two bytes that meet there, or one of
    // them beside the space of the spaced join. Blanks at the start of the
    // line (and, when the previous line is trimmed, at its end) move the
    // join: they stand for any byte.
    join_end_.fill(0);
    join_start_.fill(0);
    for (const auto& [pair, id] : pair_words_) {
        const unsigned a = pair >> 8;
        const unsigned z = pair & 0xFF;
        join_end_[a] |= z == ' ' ? kJoinAlways : kJoinPair;
        join_start_[z] |= a == ' ' ? kJoinAlways : kJoinPair;
    }
    bool start_always = false;
    for (const std::uint8_t t : join_start_) {
        start_always = start_always || (t & kJoinAlways) != 0;
    }
    for (const unsigned char c : {0x20, 0x09, 0x81}) {
        join_start_[c] |= start_always ? kJoinAlways : kJoinBlank;
    }
    if (config_.trim_prev) {
        for (const unsigned char c : {0x20, 0x09, 0x40}) {
            join_end_[c] |= kJoinAlways;
        }
    }
    join_trim_prev_ = config_.trim_prev;
    // The byte classes the matcher marks for FindJoins.
    for (auto& c : breaks_.classes) {
        c.set.fill(0);
    }
    for (unsigned c = 0; c < 256; ++c) {
        if (join_end_[c] != 0) {
            breaks_.classes[0].set[c >> 6] |= std::uint64_t{1} << (c & 63);
        }
        if ((join_start_[c] & kJoinAlways) != 0) {
            breaks_.classes[1].set[c >> 6] |= std::uint64_t{1} << (c & 63);
        }
    }
    start_always_ = start_always;
}

void FastScanner::FindJoins(std::string_view block) {
    const auto* b = reinterpret_cast<const unsigned char*>(block.data());
    const std::size_t n = block.size();
    const std::vector<std::uint64_t>& any = breaks_.any;
    // A line takes two bytes at least (a byte and its break), and each of
    // the two passes below gives a line once at most; the buffer is written
    // past its count.
    if (joins_.size() < n + 2) {
        joins_.resize(n + 2);
    }
    std::size_t count = 0;
    // The last byte of a line, when it may take part in a join: the next line
    // starts after its break (CR LF, or one byte).
    const std::vector<std::uint64_t>& may_end = breaks_.classes[0].bits;
    const std::size_t windows = (n + 63) / 64;
    for (std::size_t w = 0; w < windows; ++w) {
        for (std::uint64_t m = may_end[w] & ~any[w]; m != 0; m &= m - 1) {
            const std::size_t y = (w << 6) + static_cast<std::size_t>(std::countr_zero(m));
            const std::size_t x = y + ((b[y + 1] == '\r' && y + 2 < n && b[y + 2] == '\n') ? 3 : 2);
            if (x >= n || b[x] == '\r' || b[x] == '\n') {
                continue;  // no line, or an empty one, after it in the block
            }
            // Without branches: candidates pass or fail in no order.
            const unsigned char ca = b[y];
            const unsigned char cz = b[x];
            const unsigned ta = join_end_[ca];
            const unsigned tz = join_start_[cz];
            const unsigned pair = PairBit(PairOf(ca, cz)) ? 1 : 0;
            const unsigned always = (ta | tz) & kJoinAlways;
            const unsigned end_pair = (ta & kJoinPair) != 0 ? 1 : 0;
            const unsigned start_blank = (tz & kJoinBlank) != 0 ? 1 : 0;
            const unsigned start_pair = (tz & kJoinPair) != 0 ? 1 : 0;
            const unsigned may = always | (end_pair & (start_blank | (start_pair & pair)));
            joins_[count] = static_cast<std::uint32_t>(x);
            count += may != 0 ? 1 : 0;
        }
    }
    if (breaks_.classes[1].on) {
        // A line that starts with a byte that always may join, whatever
        // ended the line before (not empty, one break before).
        const std::vector<std::uint64_t>& ends = breaks_.ends;
        const std::vector<std::uint64_t>& may_start = breaks_.classes[1].bits;
        for (std::size_t w = 0; w < windows; ++w) {
            // Before the block: as if a break, so that its first line has
            // no line before it.
            const std::uint64_t pa = w > 0 ? any[w - 1] : ~std::uint64_t{0};
            const std::uint64_t pe = w > 0 ? ends[w - 1] : ~std::uint64_t{0};
            const std::uint64_t a = any[w];
            const std::uint64_t crlf = a & ~ends[w];  // a CR that an LF follows
            const std::uint64_t start = ~a & ((a << 1) | (pa >> 63));
            const std::uint64_t one = ~((a << 2) | (pa >> 62));
            const std::uint64_t two = ((crlf << 2) | ((pa & ~pe) >> 62)) & ~((a << 3) | (pa >> 61));
            std::uint64_t m = start & (one | two) & may_start[w];
            if (n - (w << 6) < 64) {
                m &= (std::uint64_t{1} << (n - (w << 6))) - 1;
            }
            for (; m != 0; m &= m - 1) {
                joins_[count++] = static_cast<std::uint32_t>(
                    (w << 6) + static_cast<std::size_t>(std::countr_zero(m)));
            }
        }
        std::sort(joins_.begin(), joins_.begin() + static_cast<std::ptrdiff_t>(count));
    }
    joins_count_ = count;
    next_join_ = 0;
}

std::size_t FastScanner::NextJoin(std::size_t from, std::size_t to) {
    while (next_join_ < joins_count_ && joins_[next_join_] < from) {
        ++next_join_;
    }
    return next_join_ < joins_count_ && joins_[next_join_] < to ? joins_[next_join_] : to;
}

std::string_view FastScanner::LineBefore(std::string_view block, std::size_t x) const {
    const char* b = block.data();
    std::size_t k = x;  // the end of the line before
    if (x < block.size() || IsBreakByte(b[x - 1])) {
        k = x - 1;
        if (b[k] == '\n' && k > 0 && b[k - 1] == '\r') {
            --k;
        }
    }
    if (k == 0 || IsBreakByte(b[k - 1])) {
        return {};
    }
    const std::size_t last = LastBitBefore(breaks_.any, k);
    const std::size_t begin = last == kNoBit ? 0 : last + 1;
    return block.substr(begin, k - begin);
}

void FastScanner::ScanJoined(std::string_view block, Host& host) {
    const char* b = block.data();
    const std::size_t n = block.size();
    std::size_t pos = 0;
    std::size_t counted = 0;  // line ends in [0, counted) are in `before`
    std::size_t before = 0;
    std::size_t mi = 0;
    const std::size_t mc = matches_.size();
    const bool quick = space_words_.empty();
    if (quick) {
        FindJoins(block);
    }
    while (pos < n) {
        if (pos > 0 && quick && prev_words_known_ && prev_words_.empty()) {
            // Up to the next line with a word, a line can hit only across a
            // join that may hold one: the lines between go in bulk.
            std::size_t next = n;
            if (mi < mc) {
                const Matcher::Match& m = matches_[mi];
                const std::size_t last =
                    LastBitBefore(breaks_.any, m.end - matcher_->Length(m.word));
                next = last == kNoBit ? 0 : last + 1;
            }
            const std::size_t event = NextJoin(pos, next);
            if (event > pos) {
                prev_ = LineBefore(block, event);
                pos = event;
                if (pos == n) {
                    break;
                }
            }
        }
        const std::size_t start = pos;
        const std::size_t end = NextBitFrom(breaks_.any, pos, n);
        std::size_t mj = mi;
        while (mj < mc && matches_[mj].end <= end) {
            ++mj;
        }
        const std::string_view line = block.substr(start, end - start);
        pos = end + BreakLength(b, end, n);
        std::uint32_t word = kNone;
        bool wrapped = false;
        if (!line.empty()) {
            if (prev_.empty()) {
                if (mj > mi) {
                    word = FirstDirect(line, start, mi, mj);
                }
            } else {
                TestJoined(line, start, mi, mj, word, wrapped);
            }
        }
        if (line.empty() || word != kNone) {
            if (word != kNone) {
                before += CountBits(breaks_.ends, counted, start);
                counted = start;
                const std::int64_t number = lines_ + static_cast<std::int64_t>(before) + 1;
                host.Hit(wrapped ? number - 1 : number, word, wrapped ? prev_ : line);
            }
            prev_ = {};
            prev_words_.clear();
            prev_words_known_ = true;
        } else {
            prev_ = line;
            prev_words_.clear();
            for (std::size_t k = mi; k < mj; ++k) {
                prev_words_.push_back(matches_[k].word);
            }
            prev_words_known_ = true;
        }
        mi = mj;
    }
}

}  // namespace korvalen
