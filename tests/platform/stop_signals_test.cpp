// SIGINT and SIGTERM as the programs' loops see them: the first one named, every one counted,
// the wake descriptor readable until drained, the repeat hook for the second one only, and the
// earlier dispositions back afterwards.
#include "platform/stop_signals.h"

#include <poll.h>

#include <gtest/gtest.h>

#include <csignal>
#include <vector>

namespace {

std::vector<int> g_repeats;

void NoteRepeat(int signalNumber) {
    g_repeats.push_back(signalNumber);
}

bool IsReadable(int fd) {
    pollfd pfd{fd, POLLIN, 0};
    return ::poll(&pfd, 1, 0) == 1;
}

TEST(StopSignals, CountsNamesTheFirstWakesAndHandsRepeatsToTheHook) {
    const auto previous = std::signal(SIGTERM, SIG_IGN);
    {
        const CStopSignals stopSignals(NoteRepeat);
        ASSERT_EQ(stopSignals.Error(), "");
        EXPECT_EQ(CStopSignals::First(), 0);
        EXPECT_FALSE(IsReadable(stopSignals.WakeFd()));

        std::raise(SIGTERM);
        EXPECT_EQ(CStopSignals::First(), SIGTERM);
        EXPECT_EQ(CStopSignals::Count(), 1);
        EXPECT_TRUE(g_repeats.empty());
        EXPECT_TRUE(IsReadable(stopSignals.WakeFd()));
        stopSignals.DrainWakeFd();
        EXPECT_FALSE(IsReadable(stopSignals.WakeFd()));

        std::raise(SIGINT);
        std::raise(SIGTERM);
        EXPECT_EQ(CStopSignals::First(), SIGTERM);
        EXPECT_EQ(CStopSignals::Count(), 3);
        EXPECT_EQ(g_repeats, (std::vector<int>{SIGINT, SIGTERM}));
        EXPECT_TRUE(IsReadable(stopSignals.WakeFd()));
    }
    // A new catcher starts from nothing; after it, SIGTERM is ignored again as it was before.
    {
        const CStopSignals again;
        EXPECT_EQ(CStopSignals::Count(), 0);
    }
    EXPECT_EQ(std::signal(SIGTERM, previous), SIG_IGN);
}

}  // namespace
