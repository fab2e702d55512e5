// The GIF encoder. Image data is coded without any dictionary search: each run of
// equal pixels is sent as codes for runs of growing length 1, 2, 3, ..., which
// are exactly the strings a standard LZW decoder adds to its table while it reads
// them. Unencumbered, fast, and compact enough for charts, which are mostly runs.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "graph/encoders.h"

namespace tallowick::graph {

namespace {

void put16(ByteSink& sink, int v) {
    sink.put(static_cast<std::uint8_t>(v & 0xFF));
    sink.put(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}

// Packs codes least-significant bit first into data sub-blocks of up to 255 bytes.
class BlockWriter {
public:
    explicit BlockWriter(ByteSink& sink) : sink_(sink) { block_.reserve(256); }

    void code(int code, int bits) {
        accumulator_ |= static_cast<std::uint32_t>(code & ((1 << bits) - 1)) << pending_;
        pending_ += bits;
        while (pending_ >= 8) {
            byte(static_cast<std::uint8_t>(accumulator_ & 0xFF));
            accumulator_ >>= 8;
            pending_ -= 8;
        }
    }

    // Writes the remaining bits as one byte and the last partial block.
    void finish() {
        if (pending_ > 0) byte(static_cast<std::uint8_t>(accumulator_ & 0xFF));
        accumulator_ = 0;
        pending_ = 0;
        flush_block();
    }

private:
    void byte(std::uint8_t b) {
        block_.push_back(b);
        if (block_.size() == 255) flush_block();
    }
    void flush_block() {
        if (block_.empty()) return;
        block_.insert(block_.begin(), static_cast<std::uint8_t>(block_.size()));
        sink_.write(block_);
        block_.clear();
    }

    ByteSink& sink_;
    std::vector<std::uint8_t> block_;
    std::uint32_t accumulator_ = 0;
    int pending_ = 0;
};

// The run-length coder. Its counters mirror the decoder's: out_count codes have
// been sent since the last clear, the decoder's table grows by one entry per code
// after the first, and the code width grows when the table reaches the next power
// of two. Before the table is full a clear code starts over.
class RunCoder {
public:
    RunCoder(int code_size, BlockWriter& out)
        : out_(out),
          clear_(1 << code_size),
          eoi_(clear_ + 1),
          base_(clear_ + 2),
          out_bits_init_(code_size + 1),
          out_bump_init_(clear_ - 1),
          out_clear_init_(code_size < 3 ? 9 : clear_ - 2),
          max_ocodes_(4096 - (clear_ + 3)) {
        did_clear();
        out_.code(clear_, out_bits_);
    }

    // `length` more pixels of value p; runs carry on from row to row.
    void pixels(int p, long length) {
        if (run_count_ > 0 && p != run_pixel_) flush_run();
        if (run_count_ == 0) run_pixel_ = p;
        run_count_ += length;
    }

    void finish() {
        if (run_count_ > 0) flush_run();
        out_.code(eoi_, out_bits_);
        out_.finish();
    }

private:
    void did_clear() {
        out_bits_ = out_bits_init_;
        out_bump_ = out_bump_init_;
        out_clear_ = out_clear_init_;
        out_count_ = 0;
        table_max_ = 0;
        just_cleared_ = true;
    }

    void emit_clear() {
        out_.code(clear_, out_bits_);
        did_clear();
    }

    void plain(int c) {
        just_cleared_ = false;
        out_.code(c, out_bits_);
        ++out_count_;
        if (out_count_ >= out_bump_) {
            ++out_bits_;
            out_bump_ += 1 << (out_bits_ - 1);
        }
        if (out_count_ >= out_clear_) emit_clear();
    }

    void reset_out_clear() {
        out_clear_ = out_clear_init_;
        if (out_count_ >= out_clear_) emit_clear();
    }

    // Codes needed to send n pixels as runs 1, 2, 3, ... restarting after m codes.
    static long triangle(long n, long m) {
        long cost = 0;
        const long per_restart = m * (m + 1) / 2;
        while (n >= per_restart) {
            cost += m;
            n -= per_restart;
        }
        if (n > 0) {
            long k = static_cast<long>(std::sqrt(static_cast<double>(n)));
            while (k > 0 && k * (k + 1) >= 2 * n) --k;
            while (k * (k + 1) < 2 * n) ++k;
            cost += k;
        }
        return cost;
    }

    void flush_run() {
        const long n = run_count_;
        run_count_ = 0;
        if (n == 1) {
            plain(run_pixel_);
        } else if (just_cleared_) {
            flush_from_clear(n);
        } else if (table_max_ < 2 || table_pixel_ != run_pixel_) {
            clear_or_repeat(n);
        } else {
            flush_with_table(n);
        }
    }

    void clear_or_repeat(long n) {
        if (1 + triangle(n, max_ocodes_) < n) {
            emit_clear();
            flush_from_clear(n);
        } else {
            for (; n > 0; --n) plain(run_pixel_);
        }
    }

    void flush_from_clear(long n) {
        out_clear_ = max_ocodes_;
        table_pixel_ = run_pixel_;
        long k = 1;
        while (n > 0) {
            if (k == 1) {
                table_max_ = 1;
                plain(run_pixel_);
                n -= 1;
            } else if (n >= k) {
                table_max_ = k;
                plain(static_cast<int>(base_ + k - 2));
                n -= k;
            } else if (n == 1) {
                ++table_max_;
                plain(run_pixel_);
                n = 0;
            } else {
                ++table_max_;
                plain(static_cast<int>(base_ + n - 2));
                n = 0;
            }
            k = out_count_ == 0 ? 1 : k + 1;
        }
        reset_out_clear();
    }

    void flush_with_table(long n) {
        long reps = n / table_max_;
        long left = n % table_max_;
        long extra = left > 0 ? 1 : 0;
        if (out_count_ + reps + extra > max_ocodes_) {
            reps = max_ocodes_ - out_count_;
            left = n - reps * table_max_;
            extra = 1 + triangle(left, max_ocodes_);
        }
        if (1 + triangle(n, max_ocodes_) < reps + extra) {
            emit_clear();
            flush_from_clear(n);
            return;
        }
        out_clear_ = max_ocodes_;
        for (; reps > 0; --reps) plain(static_cast<int>(base_ + table_max_ - 2));
        if (left > 0) {
            if (just_cleared_)
                flush_from_clear(left);
            else if (left == 1)
                plain(run_pixel_);
            else
                plain(static_cast<int>(base_ + left - 2));
        }
        reset_out_clear();
    }

    BlockWriter& out_;
    const int clear_, eoi_, base_;
    const int out_bits_init_, out_bump_init_, out_clear_init_;
    const long max_ocodes_;
    int out_bits_ = 0;
    long out_bump_ = 0, out_clear_ = 0, out_count_ = 0;
    int run_pixel_ = 0;
    long run_count_ = 0;
    int table_pixel_ = 0;
    long table_max_ = 0;
    bool just_cleared_ = false;
};

// Rows in the order of the four interlace passes, or top to bottom.
std::vector<int> row_order(int height, bool interlaced) {
    std::vector<int> rows;
    rows.reserve(static_cast<std::size_t>(height));
    if (!interlaced) {
        for (int y = 0; y < height; ++y) rows.push_back(y);
        return rows;
    }
    static constexpr int kStart[] = {0, 4, 2, 1};
    static constexpr int kStep[] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass) {
        for (int y = kStart[pass]; y < height; y += kStep[pass]) rows.push_back(y);
    }
    return rows;
}

// The end of the run of pixels equal to row[x]; charts are mostly long runs,
// so eight pixels are compared at a time.
std::size_t run_end(std::span<const std::uint8_t> row, std::size_t x) {
    const std::uint8_t p = row[x];
    const std::uint64_t same = 0x0101010101010101ULL * p;
    ++x;
    while (x + 8 <= row.size()) {
        std::uint64_t word;
        std::memcpy(&word, row.data() + x, 8);
        if (const std::uint64_t diff = word ^ same) {
            // Pixels are bytes in memory order: the lowest differing byte first.
            if constexpr (std::endian::native == std::endian::little)
                return x + static_cast<std::size_t>(std::countr_zero(diff) / 8);
            else
                return x + static_cast<std::size_t>(std::countl_zero(diff) / 8);
        }
        x += 8;
    }
    while (x < row.size() && row[x] == p) ++x;
    return x;
}

}  // namespace

int gif_bits_per_pixel(const Canvas& canvas) {
    // Pixels may hold an index past color_count (a failed allocation lands as
    // 255); the table must reach it or the codes would not fit the code size.
    int needed = std::max(canvas.color_count, 1);
    for (int y = 0; y < canvas.height(); ++y) {
        auto row = canvas.row(y);
        needed = std::max(needed, *std::max_element(row.begin(), row.end()) + 1);
    }
    int bpp = 1;
    while ((1 << bpp) < needed) ++bpp;
    return bpp;
}

void gif_write(const Canvas& canvas, ByteSink& sink) {
    const int bpp = gif_bits_per_pixel(canvas);
    const int table_size = 1 << bpp;
    const bool transparent = canvas.transparent >= 0;

    static constexpr std::uint8_t kGif87[] = {'G', 'I', 'F', '8', '7', 'a'};
    static constexpr std::uint8_t kGif89[] = {'G', 'I', 'F', '8', '9', 'a'};
    sink.write(transparent ? kGif89 : kGif87);
    put16(sink, canvas.width());
    put16(sink, canvas.height());
    sink.put(static_cast<std::uint8_t>(0x80 | (bpp - 1) << 4 | (bpp - 1)));
    sink.put(0);   // background index
    sink.put(0);   // aspect ratio
    std::vector<std::uint8_t> table;
    for (int i = 0; i < table_size; ++i) {
        table.push_back(static_cast<std::uint8_t>(canvas.red[i]));
        table.push_back(static_cast<std::uint8_t>(canvas.green[i]));
        table.push_back(static_cast<std::uint8_t>(canvas.blue[i]));
    }
    sink.write(table);
    if (transparent) {
        const std::uint8_t control[] = {0x21, 0xF9, 0x04, 0x01, 0x00, 0x00,
                                        static_cast<std::uint8_t>(canvas.transparent & 0xFF), 0x00};
        sink.write(control);
    }
    sink.put(0x2C);
    put16(sink, 0);
    put16(sink, 0);
    put16(sink, canvas.width());
    put16(sink, canvas.height());
    sink.put(canvas.interlace ? 0x40 : 0x00);

    const int code_size = std::max(2, bpp);
    sink.put(static_cast<std::uint8_t>(code_size));
    BlockWriter blocks(sink);
    RunCoder coder(code_size, blocks);
    for (int y : row_order(canvas.height(), canvas.interlace)) {
        const auto row = canvas.row(y);
        for (std::size_t x = 0; x < row.size();) {
            const std::size_t end = run_end(row, x);
            coder.pixels(row[x], static_cast<long>(end - x));
            x = end;
        }
    }
    coder.finish();
    sink.put(0x00);
    sink.put(0x3B);
}

}  // namespace tallowick::graph
