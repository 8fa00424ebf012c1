// SPDX-License-Identifier: MIT
#include "records/test_record.h"

#include <gtest/gtest.h>

#include <set>

namespace kx {
namespace {

TEST(TestRecord, VerdictTexts) {
    EXPECT_STREQ(VerdictText(RecordVerdict::Pass), "PASS");
    EXPECT_STREQ(VerdictText(RecordVerdict::Fail), "FAIL");
    EXPECT_STREQ(WorstVerdictText(WorstVerdict::Pass), "PASS");
    EXPECT_STREQ(WorstVerdictText(WorstVerdict::NoData), "NODATA");
    EXPECT_STREQ(WorstVerdictText(WorstVerdict::Fail), "FAIL");
}

// Lower-case version-4 uuids of the RFC 4122 variant, none repeated.
TEST(TestRecord, NewUuidIsVersion4AndFresh) {
    std::set<std::string> seen;
    for (int i = 0; i < 2000; ++i) {
        const std::string uuid = NewUuid();
        ASSERT_EQ(uuid.size(), 36u) << uuid;
        for (std::size_t at = 0; at < uuid.size(); ++at) {
            const char c = uuid[at];
            if (at == 8 || at == 13 || at == 18 || at == 23) {
                ASSERT_EQ(c, '-') << uuid;
            } else {
                ASSERT_TRUE((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')) << uuid;
            }
        }
        EXPECT_EQ(uuid[14], '4') << uuid;
        EXPECT_NE(std::string("89ab").find(uuid[19]), std::string::npos) << uuid;
        EXPECT_TRUE(seen.insert(uuid).second) << "repeated " << uuid;
    }
}

}  // namespace
}  // namespace kx
