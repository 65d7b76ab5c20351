// The scanners' fast path: the same hits as the line-by-line word loop,
// found by one multi-word pass over a block of lines with the exact rules
// applied only to lines that can hold a hit.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "match/matcher.hpp"
#include "text/encoding.hpp"
#include "text/lines.hpp"

namespace korvalen {

class FastScanner {
  public:
    struct Config {
        bool japanese_word = true;  // JapaneseWord
        bool cr_text = false;       // CRText
        bool trim_prev = true;      // the line-by-line twin trims the previous line's blanks
    };

    // Where the scan reports to.
    class Host {
      public:
        virtual ~Host() = default;
        // A hit of word `word` on line `number` whose text is `text`.
        virtual void Hit(std::int64_t number, std::uint32_t word, std::string_view text) = 0;
        // After each block of lines: `progress` is the sum of its line lengths
        // plus 2 per line. False ends the scan (stopped). The host may change
        // the words here with SetWords.
        virtual bool AfterBlock(std::int64_t progress) = 0;
        // A provisional UTF-8 scan found the file to be code page 932 before
        // anything but ASCII was read, and goes on reading it so: what was
        // reported stands (ASCII reads the same either way).
        virtual void Settled() {}
    };

    explicit FastScanner(Config config, Matcher::Engine engine = Matcher::Engine::Best);
    ~FastScanner();
    FastScanner(const FastScanner&) = delete;
    FastScanner& operator=(const FastScanner&) = delete;

    // Options may change between files; the compiled words stay.
    void SetConfig(Config config) noexcept { config_ = config; }
    // Lines are taken in blocks of about this many bytes (tests use small ones).
    void SetBlockSize(std::size_t bytes) noexcept { block_ = bytes > 0 ? bytes : 1; }
    // Code page 932 text of more than a piece is cut at line breaks into
    // pieces of about `piece` bytes (0: kPiece, less with many threads, so
    // that a window of pieces stays within kWindow), searched on up to
    // `threads` threads at once; the host hears of them in order, as from
    // one thread.
    void SetThreads(unsigned threads, std::size_t piece = 0);
    // A line longer than this many bytes ends the read with a FileError
    // rather than taking the machine's memory (a file that never ends).
    void SetLineLimit(std::size_t bytes) noexcept { line_limit_ = bytes; }

    // Compiles the words; lines from now on are tested against them. Time
    // grows linearly with their total length. False when `pause` stopped
    // the set-up: the scanner is then left without words.
    bool SetWords(std::vector<std::string> words, const SetupPause& pause = {});
    const std::vector<std::string>& Words() const noexcept { return words_; }
    // Sets up what a UTF-8 file needs of the words (ScanUtf8Source does it
    // when not done yet, without pauses). False when `pause` stopped it.
    bool PrepareUtf8(const SetupPause& pause = {});

    // A whole file held in memory.
    void ScanBuffer(std::string_view data, Host& host);
    // A file read in chunks: memory stays at the longest line plus a chunk.
    void ScanSource(ByteSource& source, Host& host);
    // The same for a file of UTF-8 text (`source` gives its bytes as they
    // are, byte order mark included), searched as its code page 932 form.
    // Where the words allow, lines that cannot hold a hit are counted
    // without being converted. A block that is not valid UTF-8 is converted
    // as it is, unless the scan is `provisional` (the file was taken for
    // UTF-8 by its start): such a block makes the file code page 932. Before
    // anything but ASCII was read the scan goes on so (see Host::Settled);
    // after, it returns false at once, nothing of that block reported, and
    // the file is to be read again from its start.
    bool ScanUtf8Source(ByteSource& source, Host& host, bool provisional);

    // The words, options and block size of `lead`, its compiled words
    // shared (a scanner of another thread of the same run).
    void Follow(const FastScanner& lead);

    // Gives back the memory kept from block to block.
    void ReleaseBuffers() noexcept;

    // Forgets the file in hand (line count, previous line); the words stay.
    void Reset() noexcept;

    // Lines of the input done so far.
    std::int64_t LinesDone() const noexcept { return lines_; }
    // Bytes compared and stepped over beside the plain pass over the input,
    // since the scanner was made: it grows with the input, never with the
    // input times the words' length.
    std::size_t Work() const noexcept { return work_; }

    // About how many bytes of lines go into one block.
    static constexpr std::size_t kBlock = 256 * 1024;
    // About how many bytes go into one piece (see SetThreads).
    static constexpr std::size_t kPiece = 1024 * 1024;
    static constexpr std::size_t kWindow = 16 * 1024 * 1024;

  private:
    void Compile(std::vector<std::string> words, const SetupPause& pause);
    // Hands `scan` blocks of whole lines read from `source`; `scan` returns
    // the progress of the block (negative: read no further). Once `until`
    // bytes of lines were scanned, before the input's end, it returns how
    // many bytes it holds unscanned at the start of read_buf_; else kAllRead.
    template <class Scan>
    std::size_t ReadBlocks(ByteSource& source, Host& host, std::size_t chunk, Scan scan,
                           std::size_t until = kAllRead);
    static constexpr std::size_t kAllRead = static_cast<std::size_t>(-1);
    // Scans a block of whole lines; the last line lacks its break only at the
    // input's end. Returns the progress of the block.
    std::int64_t ScanBlock(std::string_view block, Host& host);

    // Pieces of one window of whole lines searched at once by helper
    // scanners on the crew's threads; the hits of each wait in a PieceScan
    // until the pieces before it were handed to the host.
    struct PieceScan;
    class Collector;
    class Crew;
    // Bytes of whole lines taken at a time (a window of pieces).
    std::size_t Window() const noexcept;
    // Scans whole lines as ScanBlock does, in pieces on the crew when they
    // are large enough, `alongside` tasks meanwhile (first). The host hears
    // of every part but the last one's progress, which is returned
    // (negative: stopped).
    std::int64_t ScanWindow(std::string_view window, Host& host,
                            const std::function<void(std::size_t)>& alongside = {},
                            std::size_t alongside_tasks = 0);
    // ScanSource on the crew, on from the `have` bytes ReadBlocks left: the
    // next window is read while the pieces of one are searched.
    void ReadInPieces(ByteSource& source, Host& host, std::size_t have);
    // The same for a source read by place: each thread reads its part of
    // the window, so that reading takes every core too.
    void ReadPlacesInPieces(ByteSource& source, Host& host, std::size_t have);
    // As a helper: scans a piece from the state it names.
    void ScanPiece(PieceScan& piece);
    // A block of whole lines of a UTF-8 file as ScanUtf8Source takes it
    // (-1: the scan is provisional and the file is not UTF-8 after all).
    std::int64_t Utf8Block(std::string_view block, Host& host);
    // A block of whole lines of valid UTF-8 text, `cp932_length` bytes once
    // converted.
    std::int64_t ScanUtf8Block(std::string_view block, Host& host, std::size_t cp932_length);
    // Converts `raw` (whole lines; `valid` UTF-8) and scans it.
    std::int64_t ConvertAndScan(std::string_view raw, Host& host, bool valid);
    // Whether the UTF-8 forms of the words find every line of a converted
    // block that may hold a hit.
    bool Utf8FilterExact() const noexcept {
        return utf8_matcher_ && config_.japanese_word && !config_.cr_text;
    }
    void ScanPlain(std::string_view block, Host& host);
    void ScanJoined(std::string_view block, Host& host);
    // Fills join_end_ and join_start_ from the words and the options.
    void SetJoinTables();
    // The line starts of the block that follow a line that is not empty and
    // whose join with it may hold a word, into joins_.
    void FindJoins(std::string_view block);
    // The first of them in [from, to), or `to`; `from` never goes back.
    std::size_t NextJoin(std::size_t from, std::size_t to);
    // The line that ends just before the line start `x` (at the block's end:
    // its last line), empty when there is none.
    std::string_view LineBefore(std::string_view block, std::size_t x) const;

    // The first word of the list that the line holds (at a character boundary
    // with JapaneseWord), or kNone; matches [first, last) are the line's.
    std::uint32_t FirstDirect(std::string_view line, std::size_t line_begin, std::size_t first,
                              std::size_t last);
    // The word loop of a line that has a previous line.
    void TestJoined(std::string_view line, std::size_t line_begin, std::size_t first,
                    std::size_t last, std::uint32_t& word, bool& wrapped);
    // Adds the words that could run across the join of prev_ and `line`
    // (with the words of either half, they are all that can hit there).
    void JoinCandidates(std::string_view line, std::vector<std::uint32_t>& candidates) const;

    bool PairBit(std::uint16_t pair) const noexcept {
        return (pair_bits_[pair >> 6] >> (pair & 63) & 1) != 0;
    }

    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

    Config config_;
    Matcher::Engine engine_;
    std::size_t block_ = kBlock;
    std::size_t line_limit_ = std::numeric_limits<std::size_t>::max();
    std::vector<std::string> words_;
    std::shared_ptr<const Matcher> matcher_;  // shared with the helpers
    std::uint64_t generation_ = 0;            // of the words, one more at each set-up
    // Byte pairs inside words (for matches across the join of two lines).
    std::vector<std::uint64_t> pair_bits_;
    std::vector<std::pair<std::uint16_t, std::uint32_t>> pair_words_;  // sorted
    std::vector<std::uint32_t> space_words_;                           // words that are one space
    // What a byte at the end of a line (join_end_) or at the start of the
    // next (join_start_) allows across their join: kJoinAlways, a word there
    // whatever the other byte; kJoinPair, a word that holds this byte and the
    // other as a pair; kJoinBlank (start only), a blank that stands for any
    // byte of a pair.
    static constexpr std::uint8_t kJoinAlways = 1;
    static constexpr std::uint8_t kJoinPair = 2;
    static constexpr std::uint8_t kJoinBlank = 4;
    std::array<std::uint8_t, 256> join_end_{}, join_start_{};
    bool join_trim_prev_ = true;        // the option the tables were made for
    bool start_always_ = false;         // some byte at a line's start always may join
    std::vector<std::uint32_t> joins_;  // see FindJoins; the first joins_count_
    std::size_t joins_count_ = 0;
    std::size_t next_join_ = 0;

    std::string read_buf_;  // see ReadBlocks
    std::string next_buf_;  // the window read ahead (ReadInPieces)
    std::vector<Matcher::Match> matches_;
    Matcher::Breaks breaks_;                 // of the block in hand
    std::vector<std::uint32_t> candidates_;  // scratch
    std::string tight_, spaced_;             // the joins
    std::vector<std::uint32_t> kmp_;         // scratch of FindWord
    std::size_t work_ = 0;

    // Every UTF-8 form of the words (see Utf8FormsOf), when every word
    // decodes cleanly and none holds the mark that stands for what has no
    // code page 932 form.
    std::shared_ptr<const Matcher> utf8_matcher_;  // shared with the helpers
    std::vector<std::string> utf8_words_;
    bool utf8_ready_ = false;  // the two above are those of words_
    std::vector<Matcher::Match> utf8_matches_;
    // Runs of consecutive lines of a block, put together in one piece.
    struct Utf8Run {
        std::size_t piece_line;  // first line in the piece
        std::size_t block_line;  // the same line in the block
        std::size_t lines;
    };
    std::vector<Utf8Run> utf8_runs_;
    class MappedHost;
    Matcher::Breaks utf8_breaks_;
    Cp932Converter utf8_conv_{TextEncoding::Utf8};
    std::string converted_;
    bool utf8_start_ = true;         // the byte order mark may come next
    bool utf8_non_ascii_ = false;    // a provisional scan read more than ASCII
    bool utf8_raw_ = false;          // the rest of the file is code page 932
    bool utf8_provisional_ = false;  // of the scan in hand (see ScanUtf8Source)
    bool not_utf8_ = false;          // a provisional scan found the file is not UTF-8
    bool utf8_pieces_ = false;       // windows are UTF-8 text (Utf8Block)
    std::uint32_t utf8_pause_ = 0;   // blocks to convert whole before filtering again
    std::uint32_t utf8_backoff_ = 0;

    unsigned threads_ = 1;
    std::size_t piece_ = kPiece;
    std::unique_ptr<Crew> crew_;  // made at the first window cut in pieces (see ScanWindow)

    std::int64_t lines_ = 0;
    // The previous line with CRText: empty when it was empty or had a hit.
    std::string_view prev_;
    std::string prev_store_;                 // prev_ when it outlives its block
    std::vector<std::uint32_t> prev_words_;  // words that occur in prev_
    bool prev_words_known_ = true;           // false after the words changed
};

}  // namespace korvalen
