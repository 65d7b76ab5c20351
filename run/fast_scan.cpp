#include "run/fast_scan.hpp"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <exception>
#include <functional>
#include <utility>

#include "match/bytes.hpp"
#include "platform/file.hpp"
#include "run/workers.hpp"
#include "text/cp932.hpp"
#include "text/sjis.hpp"

namespace korvalen {

namespace {

std::uint16_t PairOf(unsigned char a, unsigned char b) noexcept {
    return static_cast<std::uint16_t>((a << 8) | b);
}

// Whether a character starts at a place of one line, as a walk from the
// line's start would find. The byte after one that is not a lead byte always
// starts a character (a lead byte takes the next byte, whatever it is), so
// only the run of lead bytes just before the place matters: an even run ends
// on a boundary. The first long run met has the whole line walked once, so
// that places asked for in any order cost no walk each.
class Boundaries {
  public:
    Boundaries(std::string_view line, std::size_t& work) noexcept : line_(line), work_(work) {}

    bool At(std::size_t pos) {
        constexpr std::size_t kLongRun = 64;
        std::size_t run = 0;
        while (run < pos && IsLeadByte(line_[pos - run - 1])) {
            if (++run == kLongRun) {
                if (bits_.empty()) {
                    Walk();
                }
                return (bits_[pos >> 6] >> (pos & 63) & 1) != 0;
            }
        }
        return run % 2 == 0;
    }

  private:
    void Walk() {
        bits_.assign(line_.size() / 64 + 1, 0);
        for (std::size_t i = 0; i < line_.size(); i += IsLeadByte(line_[i]) ? 2 : 1) {
            bits_[i >> 6] |= std::uint64_t{1} << (i & 63);
        }
        work_ += line_.size();
    }

    std::string_view line_;
    std::size_t& work_;
    std::vector<std::uint64_t> bits_;
};

// Where `w` occurs in `in` wholly inside [from, to): kNotFound; kOffChar when
// no occurrence starts a character of `in`; else kFound (also the first
// occurrence when `aligned` is false). Linear in `to` and the word's length
// (Knuth-Morris-Pratt; `table` is scratch), as long words near a match at
// every byte (a line of one repeated character) would make a plain search
// cost the word's length at each place.
enum class Found { kNotFound, kOffChar, kFound };

Found FindWord(std::string_view in, std::size_t from, std::size_t to, std::string_view w,
               bool aligned, std::vector<std::uint32_t>& table, std::size_t& work) {
    const std::size_t m = w.size();
    if (m == 0 || to < from || to - from < m) {
        return Found::kNotFound;
    }
    table.assign(m, 0);
    for (std::size_t i = 1, k = 0; i < m; ++i) {
        while (k > 0 && w[i] != w[k]) {
            k = table[k - 1];
        }
        k += w[i] == w[k] ? 1 : 0;
        table[i] = static_cast<std::uint32_t>(k);
    }
    work += m + (to - from);
    bool seen = false;
    std::size_t cursor = 0;  // a character starts here, at or before the occurrence in hand
    for (std::size_t i = from, k = 0; i < to; ++i) {
        while (k > 0 && in[i] != w[k]) {
            k = table[k - 1];
        }
        k += in[i] == w[k] ? 1 : 0;
        if (k < m) {
            continue;
        }
        const std::size_t start = i + 1 - m;
        if (!aligned) {
            return Found::kFound;
        }
        seen = true;
        while (cursor < start) {
            cursor += IsLeadByte(in[cursor]) ? 2 : 1;
        }
        if (cursor == start) {
            return Found::kFound;
        }
        k = table[k - 1];
    }
    work += cursor;
    return seen ? Found::kOffChar : Found::kNotFound;
}

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

// The end of the last line of `held` (after `checked`) whose break is
// decided: a CR that ends what was read may be half of a CR LF. At the
// input's end every byte is decided; 0: none is.
std::size_t DecidedEnd(std::string_view held, std::size_t checked, bool eof) noexcept {
    if (eof) {
        return held.size();
    }
    for (std::size_t i = held.size(); i > checked; --i) {
        const char c = held[i - 1];
        if (c == '\n' || (c == '\r' && i < held.size())) {
            return i;
        }
    }
    return 0;
}

// A converter for UTF-8 text past a file's start: it is told the mark went
// by, so a mark met later is text.
Cp932Converter Utf8PastStart() {
    Cp932Converter conv(TextEncoding::Utf8);
    char none[Cp932Converter::MaxOutput(3)];
    conv.Convert(kUtf8Mark, /*last=*/false, none);
    return conv;
}

// Whole lines of UTF-8 text past a file's start into `out`, code page 932.
std::string_view ConvertLines(std::string_view text, bool valid, std::string& out) {
    out.resize(Cp932Converter::MaxOutput(text.size()));
    out.resize(valid ? ConvertValidUtf8(text, out.data())
                     : Utf8PastStart().Convert(text, /*last=*/true, out.data()));
    return out;
}

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

// The end of a run of whole lines that starts at `pos` and takes about
// `want` bytes: just after the first break at or past `pos + want`.
std::size_t CutAfter(std::string_view text, std::size_t pos, std::size_t want) noexcept {
    const std::size_t n = text.size();
    if (n - pos <= want) {
        return n;
    }
    const std::size_t br = FindBreakByte(text.data(), pos + want, n);
    return br + BreakLength(text.data(), br, n);
}

// The line that ends with the break just before `at`, a line start > 0.
std::string_view LineEndingBefore(std::string_view text, std::size_t at) noexcept {
    std::size_t end = at - 1;  // the break
    if (text[end] == '\n' && end > 0 && text[end - 1] == '\r') {
        --end;
    }
    std::size_t begin = end;
    while (begin > 0 && !IsBreakByte(text[begin - 1])) {
        --begin;
    }
    return text.substr(begin, end - begin);
}

}  // namespace

struct FastScanner::PieceScan {
    std::string_view text;
    // The state the piece is searched from: for the first piece of a window
    // the scanner's own; for the others, with CRText, the line before taken
    // as having had no hit (when it did, the piece is searched again).
    std::string_view start_prev;
    std::vector<std::uint32_t> start_words;
    bool start_known = true;
    std::string start_store;       // start_prev converted, for UTF-8 text
    std::uint64_t generation = 0;  // of the words it was searched with
    // UTF-8 text (see Utf8Block): searched as its code page 932 form, unless
    // a provisional scan finds it `invalid` (then the lead takes it in order).
    bool utf8 = false;
    bool invalid = false;
    bool non_ascii = false;
    std::string converted;  // the piece's text converted, where it is whole
    struct Found {
        std::int64_t number;  // from the piece's first line, 1
        std::uint32_t word;
        std::size_t at, size;  // its text in `texts`
    };
    std::vector<Found> hits;
    // When the piece was searched from an assumed line before: the hits of
    // its first line (the first of `hits`) had that line had a hit, which
    // leaves the rest the same unless `alt_known` is false.
    std::size_t first_hits = 0;
    std::vector<Found> alt_hits;
    bool alt_known = false;
    std::string texts;
    std::int64_t progress = 0;
    std::int64_t lines = 0;
    // The scanner's state after its last line.
    std::string prev;
    std::vector<std::uint32_t> prev_words;
    bool prev_words_known = true;
};

class FastScanner::Collector : public FastScanner::Host {
  public:
    Collector(std::vector<PieceScan::Found>& hits, std::string& texts)
        : hits_(hits), texts_(texts) {}
    void Hit(std::int64_t number, std::uint32_t word, std::string_view text) override {
        // The text of a hit across a join may be the helper's own copy of
        // the previous line, which the next block overwrites.
        hits_.push_back({number, word, texts_.size(), text.size()});
        texts_.append(text);
    }
    bool AfterBlock(std::int64_t) override { return true; }

  private:
    std::vector<PieceScan::Found>& hits_;
    std::string& texts_;
};

class FastScanner::Crew {
  public:
    explicit Crew(unsigned threads) : workers(threads - 1) {}
    Workers workers;
    std::vector<std::unique_ptr<FastScanner>> helpers;  // one for each piece
    std::vector<PieceScan> pieces;
};

FastScanner::FastScanner(Config config, Matcher::Engine engine)
    : config_(config), engine_(engine) {}

FastScanner::~FastScanner() = default;

void FastScanner::SetThreads(unsigned threads, std::size_t piece) {
    threads = std::max(threads, 1u);
    if (threads != threads_) {
        crew_.reset();
    }
    threads_ = threads;
    piece_ = piece > 0 ? piece : std::clamp(kWindow / threads, kBlock, kPiece);
}

std::size_t FastScanner::Window() const noexcept {
    return threads_ > 1 ? std::max(block_, threads_ * piece_) : block_;
}

void FastScanner::Follow(const FastScanner& lead) {
    config_ = lead.config_;
    block_ = lead.block_;
    utf8_provisional_ = lead.utf8_provisional_;
    if (generation_ == lead.generation_ && matcher_) {
        if (lead.utf8_ready_ && !utf8_ready_) {
            utf8_matcher_ = lead.utf8_matcher_;
            utf8_words_ = lead.utf8_words_;
            utf8_ready_ = true;
        }
        return;
    }
    utf8_matcher_ = lead.utf8_matcher_;
    utf8_words_ = lead.utf8_words_;
    utf8_ready_ = lead.utf8_ready_;
    engine_ = lead.engine_;
    words_ = lead.words_;
    matcher_ = lead.matcher_;
    pair_bits_ = lead.pair_bits_;
    pair_words_ = lead.pair_words_;
    space_words_ = lead.space_words_;
    SetJoinTables();
    generation_ = lead.generation_;
}

void FastScanner::ScanPiece(PieceScan& piece) {
    piece.hits.clear();
    piece.alt_hits.clear();
    piece.texts.clear();
    Collector collect(piece.hits, piece.texts);
    std::int64_t progress = 0;
    std::size_t pos = 0;
    piece.alt_known = false;
    std::string_view text = piece.text;
    // Blocks of UTF-8 text as Utf8Block takes them, where the filter can
    // leave lines unconverted; else the piece converted whole (the same
    // bytes: whole lines convert alike in any grouping).
    bool by_block = false;
    piece.invalid = false;
    piece.non_ascii = false;
    if (piece.utf8) {
        utf8_start_ = false;
        by_block = piece.start_known && Utf8FilterExact();
        if (by_block) {
            utf8_conv_ = Utf8PastStart();
        } else {
            const Utf8Summary summary = SummarizeUtf8(text);
            piece.invalid = !summary.valid && utf8_provisional_;
            piece.non_ascii = summary.non_ascii;
            if (piece.invalid) {
                return;
            }
            text = ConvertLines(text, summary.valid, piece.converted);
        }
    }
    if (!piece.start_known) {
        // The first line as if the line before had a hit, and as assumed:
        // after it the scan is the same either way unless only the join
        // made it hit.
        const std::string_view first = text.substr(0, CutAfter(text, 0, 0));
        lines_ = 0;
        prev_ = {};
        prev_words_.clear();
        prev_words_known_ = true;
        Collector alt(piece.alt_hits, piece.texts);
        ScanBlock(first, alt);
        const bool alt_prev = !prev_.empty();
        lines_ = 0;
        prev_ = piece.start_prev;
        prev_words_known_ = false;
        progress = ScanBlock(first, collect);
        piece.first_hits = piece.hits.size();
        piece.alt_known = alt_prev == !prev_.empty();
        pos = first.size();
    } else {
        lines_ = 0;
        prev_ = piece.start_prev;
        prev_words_ = piece.start_words;
        prev_words_known_ = true;
        piece.first_hits = 0;
    }
    while (pos < text.size()) {
        const std::size_t end = CutAfter(text, pos, block_);
        const std::string_view block = text.substr(pos, end - pos);
        pos = end;
        if (!by_block) {
            progress += ScanBlock(block, collect);
            continue;
        }
        // As Utf8Block, each block checked once.
        const Utf8Summary summary = SummarizeUtf8(block);
        if (!summary.valid && utf8_provisional_) {
            piece.invalid = true;
            return;
        }
        piece.non_ascii = piece.non_ascii || summary.non_ascii;
        progress += !summary.valid      ? ConvertAndScan(block, collect, /*valid=*/false)
                    : summary.non_ascii ? ScanUtf8Block(block, collect, summary.cp932_length)
                                        : ScanBlock(block, collect);
    }
    piece.progress = progress;
    piece.lines = lines_;
    piece.prev.assign(prev_);
    piece.prev_words = prev_words_;
    piece.prev_words_known = prev_words_known_;
}

std::int64_t FastScanner::ScanWindow(std::string_view window, Host& host,
                                     const std::function<void(std::size_t)>& alongside,
                                     std::size_t alongside_tasks) {
    if (!matcher_) {
        SetWords({});
    }
    const std::size_t n = window.size();
    std::vector<std::size_t> cuts = {0};
    const std::size_t want = std::min<std::size_t>(threads_, (n + piece_ / 2) / piece_);
    for (std::size_t i = 1; i < want; ++i) {
        const std::size_t at = i * (n / want);
        if (at > cuts.back()) {
            const std::size_t cut = CutAfter(window, at, 0);
            if (cut < n) {
                cuts.push_back(cut);
            }
        }
    }
    cuts.push_back(n);
    const std::size_t count = cuts.size() - 1;

    // Each part's progress goes to the host just before the next part.
    std::int64_t pending = -1;
    bool stopped = false;
    auto flush = [&] {
        if (pending >= 0 && !host.AfterBlock(pending)) {
            stopped = true;
        }
        pending = -1;
        return !stopped;
    };
    auto serial = [&](std::string_view text) {
        for (std::size_t pos = 0; pos < text.size();) {
            if (!flush()) {
                return;
            }
            const std::size_t end = CutAfter(text, pos, block_);
            const std::string_view block = text.substr(pos, end - pos);
            pending = utf8_pieces_ ? Utf8Block(block, host) : ScanBlock(block, host);
            if (pending < 0) {
                stopped = true;  // not UTF-8 after all
                return;
            }
            pos = end;
        }
    };
    if (count == 1) {
        for (std::size_t t = 0; t < alongside_tasks; ++t) {
            alongside(t);
        }
        serial(window);
        return stopped ? -1 : std::max<std::int64_t>(pending, 0);
    }

    if (!crew_) {
        crew_ = std::make_unique<Crew>(threads_);
    }
    Crew& crew = *crew_;
    // UTF-8 text, unless a provisional scan took the file for code page 932.
    const bool utf8 = utf8_pieces_ && !utf8_raw_;
    while (crew.helpers.size() < count) {
        crew.helpers.push_back(std::make_unique<FastScanner>(config_, engine_));
    }
    crew.pieces.resize(std::max(crew.pieces.size(), count));
    for (std::size_t i = 0; i < count; ++i) {
        PieceScan& piece = crew.pieces[i];
        piece.text = window.substr(cuts[i], cuts[i + 1] - cuts[i]);
        if (i == 0) {
            piece.start_prev = prev_;
            piece.start_words = prev_words_;
            piece.start_known = prev_words_known_;
        } else {
            piece.start_prev =
                config_.cr_text ? LineEndingBefore(window, cuts[i]) : std::string_view();
            if (utf8 && !piece.start_prev.empty()) {
                // As the piece before converts it (when it is not UTF-8 at
                // all, that piece is taken in order and this one after it).
                piece.start_prev =
                    ConvertLines(piece.start_prev, /*valid=*/false, piece.start_store);
            }
            piece.start_words.clear();
            piece.start_known = piece.start_prev.empty();  // else the join tries every word
        }
        piece.utf8 = utf8;
        piece.generation = generation_;
        crew.helpers[i]->Follow(*this);
    }
    // What goes alongside (the next reads) first, task 0 on this thread.
    const std::size_t first = alongside_tasks;
    crew.workers.Run(count + first, [&](std::size_t t) {
        if (t < first) {
            alongside(t);
        } else {
            crew.helpers[t - first]->ScanPiece(crew.pieces[t - first]);
        }
    });
    bool in_order = false;
    for (std::size_t i = 0; i < count; ++i) {
        if (!flush()) {
            break;
        }
        const PieceScan& piece = crew.pieces[i];
        // Searched again here when the words changed since, or when the line
        // before had a hit after all (then no join reaches into the piece).
        const bool assumed_wrong =
            i > 0 && config_.cr_text && prev_.empty() && !piece.start_prev.empty();
        if (piece.generation != generation_ || (assumed_wrong && !piece.alt_known) ||
            (piece.utf8 && (piece.invalid || in_order))) {
            // UTF-8 text taken in order once: a provisional scan may have
            // found the file to be code page 932 there.
            in_order = piece.utf8;
            serial(piece.text);
            continue;
        }
        utf8_non_ascii_ = utf8_non_ascii_ || piece.non_ascii;
        auto emit = [&](const PieceScan::Found& hit) {
            host.Hit(lines_ + hit.number, hit.word,
                     std::string_view(piece.texts).substr(hit.at, hit.size));
        };
        const std::vector<PieceScan::Found>& head = assumed_wrong ? piece.alt_hits : piece.hits;
        const std::size_t head_count = assumed_wrong ? head.size() : piece.first_hits;
        std::for_each(head.begin(), head.begin() + static_cast<std::ptrdiff_t>(head_count), emit);
        std::for_each(piece.hits.begin() + static_cast<std::ptrdiff_t>(piece.first_hits),
                      piece.hits.end(), emit);
        lines_ += piece.lines;
        prev_store_.assign(piece.prev);
        prev_ = prev_store_;
        prev_words_ = piece.prev_words;
        prev_words_known_ = piece.prev_words_known;
        pending = piece.progress;
    }
    return stopped ? -1 : std::max<std::int64_t>(pending, 0);
}

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
    ++generation_;
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
    std::string().swap(next_buf_);
    crew_.reset();
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
    const std::size_t window = Window();
    while (pos < n) {
        std::size_t end = n;
        if (n - pos > window) {
            const std::size_t br = FindBreakByte(b, pos + window, n);
            end = br + BreakLength(b, br, n);
        }
        const std::string_view part = data.substr(pos, end - pos);
        const std::int64_t progress = threads_ > 1 ? ScanWindow(part, host) : ScanBlock(part, host);
        pos = end;
        if (progress < 0 || !host.AfterBlock(progress)) {
            return;
        }
    }
}

template <class Scan>
std::size_t FastScanner::ReadBlocks(ByteSource& source, Host& host, std::size_t chunk, Scan scan,
                                    std::size_t until) {
    // Kept from file to file: clearing it for each small file cost more
    // than reading the file. (One a long line made huge goes.)
    std::string& buf = read_buf_;
    if (buf.size() > 4 * std::max(chunk, Window())) {
        std::string().swap(buf);
    }
    if (buf.size() < 2 * chunk) {
        buf.resize(2 * chunk);
    }
    std::size_t have = 0;     // bytes in buf
    std::size_t checked = 0;  // buf[0, checked) holds no decided break
    bool eof = false;
    std::size_t scanned = 0;  // bytes of the lines handed to `scan`
    auto decided_cut = [&] { return DecidedEnd(std::string_view(buf.data(), have), checked, eof); };
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
                    return kAllRead;
                }
            }
            throw;
        }
        const std::size_t cut = decided_cut();
        if (cut == 0) {
            if (eof) {
                return kAllRead;  // nothing left
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
            return kAllRead;  // the scan gave up on the input
        }
        std::memmove(buf.data(), buf.data() + cut, have - cut);
        have -= cut;
        scanned += cut;
        checked = 0;
        if (!host.AfterBlock(progress)) {
            return kAllRead;
        }
        if (eof && have == 0) {
            return kAllRead;
        }
        if (!eof && scanned >= until) {
            return have;
        }
    }
}

void FastScanner::ScanSource(ByteSource& source, Host& host) {
    // A small file is read as on one thread; a larger one goes on in pieces
    // after its first window.
    const std::size_t left = ReadBlocks(
        source, host, block_, [&](std::string_view block) { return ScanBlock(block, host); },
        threads_ > 1 && 4 * (Window() + block_) <= line_limit_ ? Window() : kAllRead);
    if (left != kAllRead) {
        ReadInPieces(source, host, left);
    }
}

void FastScanner::ReadInPieces(ByteSource& source, Host& host, std::size_t have) {
    if (source.CanReadAt()) {
        ReadPlacesInPieces(source, host, have);
        return;
    }
    const std::size_t window = Window();
    const std::size_t chunk = block_;
    struct Fill {
        std::string& buf;
        std::size_t have = 0;
        bool eof = false;
        std::exception_ptr error;  // the read that failed
    };
    Fill fills[2] = {{read_buf_, 0, false, nullptr}, {next_buf_, 0, false, nullptr}};
    if (next_buf_.size() > 4 * window) {
        std::string().swap(next_buf_);  // a long line made it huge
    }
    // Reads until `target` bytes are held, a block at a time as ReadBlocks
    // does: the same reads fail.
    auto read = [&](Fill& f, std::size_t target) {
        try {
            while (!f.eof && f.have < target) {
                if (f.buf.size() < f.have + chunk) {
                    // A long line: never past the limit (see ReadBlocks).
                    if (f.have + chunk > line_limit_) {
                        throw FileError({}, ENOMEM, "a line longer than the memory at hand");
                    }
                    f.buf.resize(std::min(std::max(2 * f.buf.size(), f.have + chunk), line_limit_));
                }
                const std::size_t got = source.Read(f.buf.data() + f.have, chunk);
                f.eof = got == 0;
                f.have += got;
            }
        } catch (...) {
            f.error = std::current_exception();
        }
    };
    auto decided = [](const Fill& f, std::size_t checked) {
        return DecidedEnd(std::string_view(f.buf.data(), f.have), checked, f.eof);
    };
    std::size_t cur = 0;
    std::size_t checked = 0;
    fills[cur].have = have;  // what ReadBlocks left in read_buf_
    if (read_buf_.size() < std::max(have, window) + chunk) {
        read_buf_.resize(std::max(have, window) + chunk);
    }
    read(fills[cur], window);
    for (;;) {
        Fill& f = fills[cur];
        Fill& g = fills[1 - cur];
        const std::size_t cut = decided(f, checked);
        if (cut == 0) {
            if (f.error) {
                std::rethrow_exception(f.error);
            }
            if (f.eof) {
                return;
            }
            checked = f.have > 0 ? f.have - 1 : 0;  // a line longer than what is held
            read(f, f.have + 1);
            continue;
        }
        checked = 0;
        // What follows the cut starts the next window, read on meanwhile.
        g.have = f.have - cut;
        g.eof = f.eof;
        g.error = nullptr;
        if (g.buf.size() < std::max(g.have, window) + chunk) {
            g.buf.resize(std::max(g.have, window) + chunk);
        }
        std::memcpy(g.buf.data(), f.buf.data() + cut, g.have);
        const bool more = !f.eof && !f.error;
        const std::int64_t progress = ScanWindow(
            std::string_view(f.buf.data(), cut), host, [&](std::size_t) { read(g, window); },
            more ? 1 : 0);
        // Lines read whole before a failure were searched first, as in ReadBlocks.
        if (progress < 0 || !host.AfterBlock(progress)) {
            return;
        }
        if (f.error) {
            std::rethrow_exception(f.error);
        }
        if (f.eof) {
            return;  // all was decided
        }
        f.have = 0;
        cur = 1 - cur;
    }
}

void FastScanner::ReadPlacesInPieces(ByteSource& source, Host& host, std::size_t have) {
    const std::size_t window = Window();
    const std::size_t chunk = block_;
    if (!crew_) {
        crew_ = std::make_unique<Crew>(threads_);
    }
    if (next_buf_.size() > 4 * window) {
        std::string().swap(next_buf_);  // a long line made it huge
    }
    // One part of a window for each thread, read in chunks as Read would be:
    // the bytes up to a failure or the end are kept.
    struct Part {
        std::size_t from = 0, size = 0, got = 0;
        std::exception_ptr error;
    };
    // A window: `have` bytes of lines not yet searched, then `want` read
    // in `count` parts. The next one is read while one is searched.
    struct Fill {
        std::string& buf;
        std::size_t have = 0, want = 0, count = 0;
        std::vector<Part> parts;
    };
    Fill fills[2] = {{read_buf_, have, window, 0, {}}, {next_buf_, 0, window, 0, {}}};
    auto plan = [&](Fill& f) {
        if (f.buf.size() < f.have + f.want) {
            f.buf.resize(f.have + f.want);
        }
        f.count = std::min<std::size_t>(threads_, (f.want + chunk - 1) / chunk);
        f.parts.resize(f.count);
        for (std::size_t i = 0; i < f.count; ++i) {
            f.parts[i] = {f.have + i * f.want / f.count,
                          (i + 1) * f.want / f.count - i * f.want / f.count,
                          0,
                          {}};
        }
    };
    // Part i of `f`, whose first byte is Read's next once the window before is passed.
    auto read = [&](Fill& f, std::size_t i) {
        Part& p = f.parts[i];
        try {
            while (p.got < p.size) {
                const std::size_t got =
                    source.ReadAt(f.buf.data() + p.from + p.got, std::min(chunk, p.size - p.got),
                                  p.from - f.have + p.got);
                if (got == 0) {
                    break;
                }
                p.got += got;
            }
        } catch (...) {
            p.error = std::current_exception();
        }
    };
    Fill* f = &fills[0];
    Fill* g = &fills[1];
    plan(*f);
    crew_->workers.Run(f->count, [&](std::size_t i) { read(*f, i); });
    for (;;) {
        // The bytes read in order: up to the first part cut short.
        std::size_t end = f->have;
        bool eof = false;
        std::exception_ptr error;
        for (const Part& p : f->parts) {
            end += p.got;
            if (p.error || p.got < p.size) {
                error = p.error;
                eof = !error;
                break;
            }
        }
        source.Passed(end - f->have);
        std::string& buf = f->buf;
        const std::size_t cut = DecidedEnd(std::string_view(buf.data(), end), 0, eof);
        if (cut == 0) {
            if (error) {
                std::rethrow_exception(error);
            }
            if (end == 0) {
                return;  // at the end, nothing left
            }
            // A line longer than what is held: read on, never past the limit.
            f->have = end;
            if (f->have + chunk > line_limit_) {
                throw FileError({}, ENOMEM, "a line longer than the memory at hand");
            }
            f->want = std::min(std::max(window, f->have), line_limit_ - f->have);
            plan(*f);
            crew_->workers.Run(f->count, [&](std::size_t i) { read(*f, i); });
            continue;
        }
        // What follows the cut starts the next window, read on meanwhile.
        const bool more = !eof && !error;
        if (more) {
            g->have = end - cut;
            g->want = window;
            plan(*g);
            std::memcpy(g->buf.data(), buf.data() + cut, g->have);
        }
        const std::int64_t progress = ScanWindow(
            std::string_view(buf.data(), cut), host, [&](std::size_t i) { read(*g, i); },
            more ? g->count : 0);
        // Lines read whole before a failure were searched first, as in ReadBlocks.
        if (progress < 0 || !host.AfterBlock(progress)) {
            return;
        }
        if (error) {
            std::rethrow_exception(error);
        }
        if (!more) {
            return;  // all was decided
        }
        std::swap(f, g);
    }
}

bool FastScanner::ScanUtf8Source(ByteSource& source, Host& host, bool provisional) {
    utf8_non_ascii_ = false;
    utf8_raw_ = false;
    not_utf8_ = false;
    utf8_provisional_ = provisional;
    // As ScanSource: the first window on this thread, then pieces of UTF-8
    // text (of code page 932 once a provisional scan took the file for it).
    const std::size_t left = ReadBlocks(
        source, host, block_, [&](std::string_view block) { return Utf8Block(block, host); },
        threads_ > 1 && 4 * (Window() + block_) <= line_limit_ ? Window() : kAllRead);
    if (left != kAllRead && !not_utf8_) {
        struct Mode {
            bool& on;
            ~Mode() { on = false; }
        } mode{utf8_pieces_};
        utf8_pieces_ = !utf8_raw_;
        ReadInPieces(source, host, left);
    }
    return !not_utf8_;
}

std::int64_t FastScanner::Utf8Block(std::string_view block, Host& host) {
    if (utf8_start_) {
        utf8_start_ = false;
        // The mark is dropped here, so the converter is told it went by.
        utf8_conv_ = Utf8PastStart();
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
        if (!utf8_provisional_) {
            return ConvertAndScan(block, host, /*valid=*/false);
        }
        if (utf8_non_ascii_) {
            not_utf8_ = true;
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
    utf8_matcher_->FindAll(block, utf8_matches_, &utf8_breaks_, Matcher::Keep::LineFirst, work_);
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
    matcher_->FindAll(block, matches_, &breaks_, keep, work_);
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
    Boundaries boundaries(line, work_);
    for (std::size_t k = first; k < last; ++k) {
        const Matcher::Match& m = matches_[k];
        const std::size_t start = m.end - matcher_->Length(m.word) - line_begin;
        if (m.word < best && boundaries.At(start)) {
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
        auto find = [&](const std::string& in, std::size_t width) {
            if (halves) {
                return FindWord(in, 0, in.size(), w, jw, kmp_, work_);
            }
            const std::size_t from = join >= w.size() ? join - w.size() + 1 : 0;
            return FindWord(in, from, std::min(in.size(), join + width), w, jw, kmp_, work_);
        };
        // A tight find that is off the boundary is no hit, spaced or not.
        const Found tight = find(tight_, w.size() - 1);
        if (tight != Found::kNotFound) {
            return tight == Found::kFound;
        }
        return find(spaced_, w.size()) == Found::kFound;
    };
    if (!prev_words_known_) {
        // The words changed since the previous line: every word is tried.
        for (std::uint32_t j = 0; j < words_.size(); ++j) {
            const std::string& w = words_[j];
            if (FindWord(line, 0, line.size(), w, jw, kmp_, work_) == Found::kFound) {
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
