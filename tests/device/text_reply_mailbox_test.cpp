#include "device/text_reply_mailbox.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Steps on the monitor thread (Put) and the owner thread (Take), and what the owner must see:
// a collector's later texts replace its waiting one, texts of other collectors queue behind it
// in order, and a text taken already is never replaced (the next one waits anew).
TEST(TextReplyMailbox, NewestTextOfEachReplyWaitsInOrder) {
    struct Step {
        char op;  // 'P': Put, 'T': Take
        uint64_t serial;
        const char* text;
        bool postExpected;  // Put: the caller must post a Take
        const char* taken;  // Take: the text expected, or nullptr for none
    };
    const std::vector<std::vector<Step>> cases = {
        {{'P', 1, "a", true, nullptr},
         {'P', 1, "ab", false, nullptr},
         {'P', 1, "abc", false, nullptr},
         {'T', 0, "", false, "abc"},
         {'T', 0, "", false, nullptr}},
        {{'P', 1, "use", true, nullptr},
         {'P', 2, "VDM", true, nullptr},
         {'P', 2, "VDM VDM", false, nullptr},
         {'P', 3, "mV", true, nullptr},
         {'T', 0, "", false, "use"},
         {'T', 0, "", false, "VDM VDM"},
         {'T', 0, "", false, "mV"}},
        {{'P', 7, "one", true, nullptr},
         {'T', 0, "", false, "one"},
         {'P', 7, "one two", true, nullptr},
         {'P', 7, "one two three", false, nullptr},
         {'T', 0, "", false, "one two three"}},
        // A collector the list dropped may have its memory reused; serials still differ.
        {{'P', 4, "old", true, nullptr},
         {'P', 5, "new", true, nullptr},
         {'T', 0, "", false, "old"},
         {'T', 0, "", false, "new"}},
    };
    for (size_t c = 0; c < cases.size(); ++c) {
        CTextReplyMailbox mailbox;
        size_t posts = 0;
        for (size_t i = 0; i < cases[c].size(); ++i) {
            const Step& step = cases[c][i];
            SCOPED_TRACE(testing::Message() << "case " << c << " step " << i);
            if (step.op == 'P') {
                const bool posted = mailbox.Put(step.serial, step.text);
                EXPECT_EQ(posted, step.postExpected);
                posts += posted ? 1 : 0;
            } else {
                const std::optional<std::string> taken = mailbox.Take();
                if (step.taken == nullptr) {
                    EXPECT_FALSE(taken.has_value());
                } else {
                    ASSERT_TRUE(taken.has_value());
                    EXPECT_EQ(*taken, step.taken);
                    ASSERT_GT(posts, 0u);
                    --posts;
                }
            }
            // One post per waiting text: every post finds its text.
            EXPECT_EQ(mailbox.PendingCount(), posts);
        }
    }
}

}  // namespace
