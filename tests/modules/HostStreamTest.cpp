#include <gtest/gtest.h>

#include "modules/HostStream.h"

using norvix::HostStream;

namespace {

// Goes through the module's view of the stream, as a module would.
int64_t mwrite(ModuleStream* s, const char* text) {
    return s->write(s->context, text, static_cast<int64_t>(std::strlen(text)));
}

}  // namespace

TEST(HostStream, ModuleSeesOneStreamWithReadWriteSeekSize) {
    HostStream host;
    ModuleStream* s = host.moduleStream();
    EXPECT_EQ(mwrite(s, "abcdef"), 6);
    EXPECT_EQ(s->size(s->context), 6);
    EXPECT_EQ(s->seek(s->context, 2, 0), 2);
    char buf[8] = {};
    EXPECT_EQ(s->read(s->context, buf, 3), 3);
    EXPECT_STREQ(buf, "cde");
    EXPECT_EQ(s->seek(s->context, -1, 1), 4);
    EXPECT_EQ(s->seek(s->context, -2, 2), 4);
    EXPECT_EQ(s->read(s->context, buf, 100), 2);  // short read at the end
    EXPECT_EQ(s->read(s->context, buf, 100), 0);
    EXPECT_EQ(host.data(), QByteArray("abcdef"));
}

TEST(HostStream, WritePastEndGrowsAndSeekBeyondEndLeavesZeroGap) {
    HostStream host;
    ModuleStream* s = host.moduleStream();
    mwrite(s, "ab");
    EXPECT_EQ(s->seek(s->context, 5, 0), 5);  // beyond the end: allowed, size unchanged
    EXPECT_EQ(host.size(), 2);
    char c;
    EXPECT_EQ(s->read(s->context, &c, 1), 0);
    mwrite(s, "z");
    EXPECT_EQ(host.data(), QByteArray("ab\0\0\0z", 6));
    // Overwriting in the middle keeps the size.
    s->seek(s->context, 1, 0);
    mwrite(s, "XY");
    EXPECT_EQ(host.data(), QByteArray("aXY\0\0z", 6));
}

TEST(HostStream, RefusesNegativePositionsAndUnknownOrigins) {
    HostStream host(QByteArray("hello"));
    ModuleStream* s = host.moduleStream();
    s->seek(s->context, 3, 0);
    EXPECT_EQ(s->seek(s->context, -1, 0), -1);
    EXPECT_EQ(s->seek(s->context, -4, 1), -1);
    EXPECT_EQ(s->seek(s->context, -6, 2), -1);
    EXPECT_EQ(s->seek(s->context, 0, 7), -1);
    EXPECT_EQ(s->seek(s->context, INT64_MAX, 1), -1);  // would overflow
    EXPECT_EQ(host.position(), 3);  // unchanged by every refusal
}

TEST(HostStream, NullBuffersAndNegativeCountsDoNothing) {
    HostStream host(QByteArray("hello"));
    ModuleStream* s = host.moduleStream();
    EXPECT_EQ(s->read(s->context, nullptr, 3), 0);
    EXPECT_EQ(s->write(s->context, nullptr, 3), 0);
    char buf[4];
    EXPECT_EQ(s->read(s->context, buf, -1), 0);
    EXPECT_EQ(s->write(s->context, "x", -5), 0);
    EXPECT_EQ(host.data(), QByteArray("hello"));
    EXPECT_EQ(host.position(), 0);
}

TEST(HostStream, WritesStopAtTheLimitInsteadOfTakingAllMemory) {
    HostStream host;
    host.setLimit(10);
    ModuleStream* s = host.moduleStream();
    EXPECT_EQ(mwrite(s, "0123456789abc"), 10);  // short write
    EXPECT_EQ(host.size(), 10);
    EXPECT_EQ(mwrite(s, "x"), 0);
    // A seek far beyond is allowed but nothing can be written there.
    EXPECT_EQ(s->seek(s->context, int64_t(1) << 40, 0), int64_t(1) << 40);
    EXPECT_EQ(mwrite(s, "x"), 0);
    EXPECT_EQ(host.size(), 10);
}

TEST(HostStream, LinesSplitAtCrLfLoneLfAndLoneCrWholeContent) {
    HostStream host(QByteArray("um\r\ndois\ntres\rquatro\r\n\r\ncinco"));
    host.seek(0, 2);  // lines are read from the start whatever the position
    EXPECT_EQ(host.lines(), (QStringList{"um", "dois", "tres", "quatro", "", "cinco"}));
    EXPECT_TRUE(HostStream().lines().isEmpty());
    EXPECT_EQ(HostStream(QByteArray("a\r\n")).lines(), QStringList{"a"});
    EXPECT_EQ(HostStream(QByteArray("\r\n")).lines(), QStringList{""});
}

TEST(HostStream, LinesAreWindows1252AndEndAtZeroByte) {
    HostStream host(QByteArray("Refra\xe7\xe3o\r\n\x80\r\nfim\0lixo\r\nmais", 27));
    EXPECT_EQ(host.lines(), (QStringList{QString::fromUtf8("Refração"), QString::fromUtf8("€"), "fim"}));
}

TEST(HostStream, LinesAreCappedInCountAndLength) {
    HostStream host;
    for (int i = 0; i < 50; ++i) host.writeLines({QString(100, QLatin1Char('x'))});
    const QStringList lines = host.lines(10, 8);
    ASSERT_EQ(lines.size(), 10);
    EXPECT_EQ(lines[9], QString(8, QLatin1Char('x')));
}

TEST(HostStream, WriteLinesEndsEachWithCrLfInWindows1252) {
    HostStream host;
    host.writeLines({QString::fromUtf8("Olho Direito - ação"), ""});
    EXPECT_EQ(host.data(), QByteArray("Olho Direito - a\xe7\xe3o\r\n\r\n"));
    EXPECT_EQ(host.position(), host.size());
}
