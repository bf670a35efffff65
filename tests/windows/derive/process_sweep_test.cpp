// The walk over hand-built process sweep blocks, hostile ones included, and
// the counted texts inside a block.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "process_sweep.h"
#include "utf8_text.h"

namespace {

struct fake_thread {
    uint32_t state;
    uint32_t wait_reason;
};

struct fake_entry {
    uint64_t pid;
    uint64_t ppid = 1;
    std::u16string name;
    std::vector<fake_thread> threads = {{2, 0}};
    uint64_t kernel = 0, user = 0, working_set = 0, read = 0, written = 0;
    int64_t claimed_threads = -1;  // the thread count written, when not the real one
};

// Builds a block as the system lays it out: each entry, its threads, then
// its name, chained by the offset to the next entry. `names_inside` false
// writes the names' addresses as if they pointed outside.
class block_builder {
public:
    std::vector<unsigned char> bytes;
    std::vector<size_t> starts;

    explicit block_builder(const std::vector<fake_entry> &entries) {
        // The names are written after every entry, so the addresses are
        // known once the block has its final size.
        std::vector<size_t> name_at;
        for (const fake_entry &e : entries) {
            const size_t at = bytes.size();
            starts.push_back(at);
            bytes.resize(at + SWEEP_PROCESS_ENTRY_SIZE + e.threads.size() * SWEEP_THREAD_ENTRY_SIZE);
            put32(at + SWEEP_OFFSET_THREAD_COUNT,
                  static_cast<uint32_t>(e.claimed_threads >= 0 ? e.claimed_threads
                                                               : static_cast<int64_t>(e.threads.size())));
            put64(at + SWEEP_OFFSET_PID, e.pid);
            put64(at + SWEEP_OFFSET_PARENT_PID, e.ppid);
            put64(at + SWEEP_OFFSET_KERNEL_TIME, e.kernel);
            put64(at + SWEEP_OFFSET_USER_TIME, e.user);
            put64(at + SWEEP_OFFSET_WORKING_SET, e.working_set);
            put64(at + SWEEP_OFFSET_READ_TRANSFER, e.read);
            put64(at + SWEEP_OFFSET_WRITE_TRANSFER, e.written);
            for (size_t t = 0; t < e.threads.size(); ++t) {
                const size_t th = at + SWEEP_PROCESS_ENTRY_SIZE + t * SWEEP_THREAD_ENTRY_SIZE;
                put32(th + SWEEP_OFFSET_THREAD_STATE, e.threads[t].state);
                put32(th + SWEEP_OFFSET_WAIT_REASON, e.threads[t].wait_reason);
            }
            name_at.push_back(bytes.size());
            bytes.resize(bytes.size() + e.name.size() * 2 + 2 + 6);  // room, aligned to 8
            std::memcpy(bytes.data() + name_at.back(), e.name.data(), e.name.size() * 2);
            bytes.resize((bytes.size() + 7) & ~static_cast<size_t>(7));
        }
        for (size_t i = 0; i < entries.size(); ++i) {
            const size_t next = i + 1 < entries.size() ? starts[i + 1] - starts[i] : 0;
            put32(starts[i] + SWEEP_OFFSET_NEXT_ENTRY, static_cast<uint32_t>(next));
            set_name(i, name_at[i], entries[i].name.size() * 2);
        }
    }

    void set_name(size_t entry, size_t at, size_t byte_length) {
        put16(starts[entry] + SWEEP_OFFSET_IMAGE_NAME, static_cast<uint16_t>(byte_length));
        put64(starts[entry] + SWEEP_OFFSET_IMAGE_NAME + COUNTED_TEXT_OFFSET_ADDRESS,
              reinterpret_cast<uintptr_t>(bytes.data()) + at);
    }
    void set_name_address(size_t entry, uint64_t address) {
        put64(starts[entry] + SWEEP_OFFSET_IMAGE_NAME + COUNTED_TEXT_OFFSET_ADDRESS, address);
    }
    void set_next(size_t entry, uint32_t next) { put32(starts[entry] + SWEEP_OFFSET_NEXT_ENTRY, next); }
    void put16(size_t at, uint16_t v) { std::memcpy(bytes.data() + at, &v, sizeof v); }
    void put32(size_t at, uint32_t v) { std::memcpy(bytes.data() + at, &v, sizeof v); }
    void put64(size_t at, uint64_t v) { std::memcpy(bytes.data() + at, &v, sizeof v); }
};

struct walked {
    uint64_t pid;
    std::string name;
    uint32_t threads;
    int32_t suspended;
};

std::vector<walked> walk(const void *block, size_t size) {
    std::vector<walked> out;
    sweep_cursor cursor;
    sweep_begin(&cursor, block, size);
    sweep_process p;
    while (sweep_next(&cursor, &p)) {
        char name[64];
        utf8_from_utf16(name, sizeof name, p.name_units, p.name_length);
        out.push_back({p.pid, name, p.threads, p.all_threads_suspended});
        if (out.size() > 1000) break;  // a walk that never ends
    }
    return out;
}

const fake_thread RUNNING = {2, 0};
const fake_thread SUSPENDED = {SWEEP_THREAD_STATE_WAITING, SWEEP_WAIT_REASON_SUSPENDED};
const fake_thread WAITING = {SWEEP_THREAD_STATE_WAITING, 6};

}  // namespace

TEST(ProcessSweep, WalksEveryEntryWithItsFigures) {
    fake_entry idle{0, 0, u""};
    fake_entry app{1234, 800, u"Zürich-é.exe"};
    app.kernel = 500;
    app.user = 700;
    app.working_set = 1 << 20;
    app.read = 11;
    app.written = 22;
    block_builder b({idle, app});
    sweep_cursor cursor;
    sweep_begin(&cursor, b.bytes.data(), b.bytes.size());
    sweep_process p;
    ASSERT_TRUE(sweep_next(&cursor, &p));
    EXPECT_EQ(p.pid, 0u);
    EXPECT_EQ(p.name_length, 0u);
    ASSERT_TRUE(sweep_next(&cursor, &p));
    EXPECT_EQ(p.pid, 1234u);
    EXPECT_EQ(p.ppid, 800u);
    EXPECT_EQ(p.kernel_time, 500u);
    EXPECT_EQ(p.user_time, 700u);
    EXPECT_EQ(p.working_set, 1u << 20);
    EXPECT_EQ(p.read_transfer, 11u);
    EXPECT_EQ(p.write_transfer, 22u);
    EXPECT_EQ(p.threads, 1u);
    char name[64];
    utf8_from_utf16(name, sizeof name, p.name_units, p.name_length);
    EXPECT_STREQ(name, "Z\xC3\xBCrich-\xC3\xA9.exe");
    EXPECT_FALSE(sweep_next(&cursor, &p));
    EXPECT_FALSE(sweep_next(&cursor, &p));
}

TEST(ProcessSweep, StoppedOnlyWhenEveryClaimedThreadIsSuspended) {
    fake_entry all{8, 1, u"a", {SUSPENDED, SUSPENDED}};
    fake_entry one_runs{12, 1, u"b", {SUSPENDED, RUNNING}};
    fake_entry other_wait{16, 1, u"c", {WAITING}};
    fake_entry none{20, 1, u"d", {}};
    fake_entry cut_short{24, 1, u"e", {SUSPENDED}};
    cut_short.claimed_threads = 3;  // claims more threads than are listed
    block_builder b({all, one_runs, other_wait, none, cut_short});
    const auto w = walk(b.bytes.data(), b.bytes.size());
    ASSERT_EQ(w.size(), 5u);
    EXPECT_EQ(w[0].suspended, 1);
    EXPECT_EQ(w[1].suspended, 0);
    EXPECT_EQ(w[2].suspended, 0);
    EXPECT_EQ(w[3].suspended, 0);
    EXPECT_EQ(w[4].suspended, 0);
    EXPECT_EQ(w[4].threads, 3u);
    EXPECT_TRUE(sweep_thread_suspended(5, 5));
    EXPECT_FALSE(sweep_thread_suspended(5, 0));
    EXPECT_FALSE(sweep_thread_suspended(4, 5));
}

TEST(ProcessSweep, HostileChainsEndTheWalkInsideTheBlock) {
    const std::vector<fake_entry> three = {{8, 1, u"one"}, {12, 1, u"two"}, {16, 1, u"three"}};
    {
        block_builder b(three);  // offset past the end: the entry counts, the walk ends
        b.set_next(1, static_cast<uint32_t>(b.bytes.size()));
        const auto w = walk(b.bytes.data(), b.bytes.size());
        ASSERT_EQ(w.size(), 2u);
        EXPECT_EQ(w[1].name, "two");
    }
    {
        block_builder b(three);  // an offset that would wrap 32-bit arithmetic back to 0
        b.set_next(1, static_cast<uint32_t>(0x100000000ull - b.starts[1]));
        EXPECT_EQ(walk(b.bytes.data(), b.bytes.size()).size(), 2u);
    }
    {
        block_builder b(three);  // an offset into its own entry: overlapping, not followed
        b.set_next(0, 8);
        EXPECT_EQ(walk(b.bytes.data(), b.bytes.size()).size(), 1u);
    }
    {
        block_builder b(three);  // the returned length ends inside the second entry
        const auto w = walk(b.bytes.data(), b.starts[1] + SWEEP_PROCESS_ENTRY_SIZE - 1);
        ASSERT_EQ(w.size(), 1u);
    }
    EXPECT_TRUE(walk(nullptr, 4096).empty());
    const std::vector<unsigned char> tiny(SWEEP_PROCESS_ENTRY_SIZE - 1, 0);
    EXPECT_TRUE(walk(tiny.data(), tiny.size()).empty());
}

TEST(ProcessSweep, NamesOutsideTheBlockOrOddReadSafely) {
    block_builder b({{8, 1, u"inside"}, {12, 1, u"odd"}, {16, 1, u"away"}, {20, 1, u"long"}});
    // Odd byte length: the half unit is dropped.
    b.put16(b.starts[1] + SWEEP_OFFSET_IMAGE_NAME, 5);
    // An address before the block, and a length running past its end.
    b.set_name_address(2, reinterpret_cast<uintptr_t>(b.bytes.data()) - 64);
    b.put16(b.starts[3] + SWEEP_OFFSET_IMAGE_NAME, 0xFFFE);
    // A huge claimed thread count is cut to the room behind the entry.
    b.put32(b.starts[0] + SWEEP_OFFSET_THREAD_COUNT, 0xFFFFFFFFu);
    const auto w = walk(b.bytes.data(), b.bytes.size());
    ASSERT_EQ(w.size(), 4u);
    EXPECT_EQ(w[0].name, "inside");
    EXPECT_EQ(w[0].threads, 0xFFFFFFFFu);
    EXPECT_EQ(w[0].suspended, 0);
    EXPECT_EQ(w[1].name, "od");
    EXPECT_EQ(w[2].name, "");
    EXPECT_EQ(w[3].name, "");

    // A name without a terminator is read by its length alone.
    block_builder t({{8, 1, u"abc"}});
    const std::u16string full = u"xyz";
    std::memcpy(t.bytes.data() + t.bytes.size() - 6, full.data(), 6);
    t.set_name(0, t.bytes.size() - 6, 6);  // the last 6 bytes of the block, no NUL after
    const auto tw = walk(t.bytes.data(), t.bytes.size());
    ASSERT_EQ(tw.size(), 1u);
    EXPECT_EQ(tw[0].name, "xyz");
    const void *units = nullptr;
    size_t length = 99;
    EXPECT_TRUE(counted_text_in_block(t.bytes.data(), t.bytes.size(),
                                      t.starts[0] + SWEEP_OFFSET_IMAGE_NAME, &units, &length));
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(static_cast<const unsigned char *>(units) + 6, t.bytes.data() + t.bytes.size());
    // A counted text that itself lies past the block's end.
    EXPECT_FALSE(counted_text_in_block(t.bytes.data(), t.bytes.size(), t.bytes.size() - 8,
                                       &units, &length));
    EXPECT_EQ(length, 0u);
}
