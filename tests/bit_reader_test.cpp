#include "stream/bit_reader.h"

#include <gtest/gtest.h>

#include "test_files.h"

namespace {

Bytes pattern(std::size_t size) {
    Bytes data(size);
    // Varies across runs of 256 bytes and across block boundaries too, so a byte from the
    // wrong place is noticed.
    for (std::size_t i = 0; i < size; ++i) {
        data[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8) * 3 + (i >> 20));
    }
    return data;
}

TEST(BitReaderTest, SplitsAByteIntoFieldsMostSignificantFirst) {
    TempDir dir;
    writeFile(dir / "in", {0x65, 0xA0, 0x0B, 0x77, 0x12, 0x34});
    BitReader reader((dir / "in").c_str());
    EXPECT_EQ(reader.readBits(2), 1);
    EXPECT_EQ(reader.readBits(6), 37);
    EXPECT_EQ(reader.readBits(3), 5);  // 0xA0 = 101 00000
    EXPECT_EQ(reader.readByte(), 0x0B) << "rest of the partly read byte is skipped";
    EXPECT_EQ(reader.readBits(0), 0);
    EXPECT_EQ(reader.readBits(8), 0x77);
    EXPECT_EQ(reader.readBits(16), 0x1234);
    EXPECT_TRUE(reader.atEnd());
    EXPECT_FALSE(reader.overran());
}

TEST(BitReaderTest, RaisesTheEndFlagWithTheLastByteAndNotesReadsBeyondIt) {
    TempDir dir;
    writeFile(dir / "in", {1, 2, 3, 4, 5});
    BitReader reader((dir / "in").c_str());
    for (int i = 1; i <= 4; ++i) EXPECT_EQ(reader.readByte(), i);
    EXPECT_FALSE(reader.atEnd());
    EXPECT_EQ(reader.readByte(), 5);
    EXPECT_TRUE(reader.atEnd());
    EXPECT_FALSE(reader.overran());
    EXPECT_EQ(reader.readBits(5), 0);
    EXPECT_EQ(reader.readByte(), 0);
    EXPECT_TRUE(reader.overran());
    EXPECT_FALSE(reader.readFailed());
}

// Every byte of files around the 1 MiB block size arrives in order, and the end flag
// rises exactly with the last one.
TEST(BitReaderTest, ReadsWholeFilesAcrossBlockEdges) {
    constexpr std::size_t block = BitReader::bufferSize;
    for (std::size_t size : {std::size_t{0}, block - 1, block, block + 1, 2 * block + 3}) {
        SCOPED_TRACE(size);
        TempDir dir;
        const Bytes data = pattern(size);
        writeFile(dir / "in", data);
        BitReader reader((dir / "in").c_str());
        EXPECT_TRUE(reader.isOpen());
        std::size_t wrong = 0;
        for (std::size_t i = 0; i < size; ++i) {
            if (reader.atEnd()) {
                ADD_FAILURE() << "end flag raised before byte " << i;
                break;
            }
            wrong += reader.readByte() != data[i];
        }
        EXPECT_EQ(wrong, 0U);
        EXPECT_TRUE(reader.atEnd());
        EXPECT_FALSE(reader.overran());
    }
}

TEST(BitReaderTest, JoinsBitsAcrossTheBlockEdge) {
    TempDir dir;
    Bytes data(BitReader::bufferSize + 2, 0);
    data[BitReader::bufferSize - 1] = 0x0B;
    data[BitReader::bufferSize] = 0x77;
    data[BitReader::bufferSize + 1] = 0xC5;
    writeFile(dir / "in", data);
    BitReader reader((dir / "in").c_str());
    for (int i = 0; i < BitReader::bufferSize - 1; ++i) reader.readByte();
    EXPECT_EQ(reader.readBits(4), 0x0);
    EXPECT_EQ(reader.readBits(8), 0xB7) << "low nibble of one block, high nibble of the next";
    EXPECT_EQ(reader.readBits(6), 0x1F);  // 0111 11..
    EXPECT_EQ(reader.readBits(6), 0x05);
    EXPECT_TRUE(reader.atEnd());
}

// Runs of bytes taken in one call give what the same number of readByte() calls would:
// the same values, the end flag at the same moment, and zeros with the overrun flag past it.
TEST(BitReaderTest, RunsOfBytesMatchByteByByteReads) {
    constexpr std::int32_t block = BitReader::bufferSize;
    const struct {
        std::size_t size;
        std::int32_t run;
    } cases[] = {{0, 7},
                 {10, 3},
                 {block - 1, 768},
                 {block, 2791},
                 {block + 1, 1000},
                 {2 * block + 3, block},
                 {3 * block / 2, block + 5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.size << " bytes in runs of " << c.run);
        TempDir dir;
        const Bytes data = pattern(c.size);
        writeFile(dir / "in", data);
        BitReader bulk((dir / "in").c_str());
        BitReader single((dir / "in").c_str());
        // Start inside a byte, as a frame reader does after the header fields.
        EXPECT_EQ(bulk.readBits(3), single.readBits(3));
        std::vector<std::int32_t> fromRuns, fromBytes;
        while (!single.overran()) {
            bulk.appendBytes(fromRuns, c.run);
            for (std::int32_t i = 0; i < c.run; ++i) fromBytes.push_back(single.readByte());
            ASSERT_EQ(bulk.atEnd(), single.atEnd());
            ASSERT_EQ(bulk.overran(), single.overran());
        }
        EXPECT_EQ(fromRuns, fromBytes);
    }
}

TEST(BitReaderTest, InputThatCannotBeReadIsExhaustedFromTheStart) {
    TempDir dir;
    for (const std::string& name : {dir / "missing", dir.path.string()}) {
        BitReader reader(name.c_str());
        EXPECT_FALSE(reader.isOpen()) << name;
        EXPECT_TRUE(reader.atEnd());
        EXPECT_EQ(reader.readByte(), 0);
        EXPECT_EQ(reader.readBits(3), 0);
    }
}

// Back by up to the history kept in front of the buffer, also into the block before, and
// forward by any distance; the bytes read after a seek are the file's bytes at that offset.
TEST(BitReaderTest, SeeksBackOverTheHistoryAndForward) {
    constexpr std::uint64_t block = BitReader::bufferSize;
    constexpr std::uint64_t history = BitReader::minimumHistory;
    TempDir dir;
    const Bytes data = pattern(3 * block + 17);
    writeFile(dir / "in", data);
    BitReader reader((dir / "in").c_str());
    const struct {
        std::uint64_t target;
        bool reachable;
    } seeks[] = {
        {10, true},
        {block + 5, true},
        {block - history + 5, true},
        {block - history, true},
        {block - history - 1, false},
        {5, false},
        {2 * block + 1, true},
        {2 * block - 3, true},
        {3 * block + 17, true},
        {3 * block + 10, true},
        {3 * block + 18, false},
    };
    for (const auto& s : seeks) {
        SCOPED_TRACE(s.target);
        const std::uint64_t before = reader.offset();
        ASSERT_EQ(reader.seek(s.target), s.reachable);
        if (!s.reachable) {
            if (s.target < before) {
                EXPECT_EQ(reader.offset(), before) << "nothing moved";
            }
            continue;
        }
        EXPECT_EQ(reader.offset(), s.target);
        EXPECT_EQ(reader.atEnd(), s.target == data.size());
        if (s.target < data.size()) {
            EXPECT_EQ(reader.readByte(), data[s.target]);
        }
    }
}

// Runs of 31,000 bytes keep twice that and 4 KiB more in the history, but 64 KiB at most.
TEST(BitReaderTest, KeepsMoreHistoryForLongRuns) {
    constexpr std::uint64_t block = BitReader::bufferSize;
    TempDir dir;
    const Bytes data = pattern(2 * block);
    writeFile(dir / "in", data);
    BitReader reader((dir / "in").c_str());
    std::vector<std::int32_t> run;
    while (reader.offset() < block + 10) reader.appendBytes(run, 31000);
    EXPECT_FALSE(reader.seek(block - BitReader::historySize - 1));
    ASSERT_TRUE(reader.seek(block - BitReader::historySize));
    EXPECT_EQ(reader.readByte(), data[block - BitReader::historySize]);
}

}  // namespace
