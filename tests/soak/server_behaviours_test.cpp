// The soak run proves only what its mix of server behaviours holds: every
// verdict and every way an answer ends must be drawn often enough. That the
// bodies' verdicts are right by construction, the run itself checks.

#include <map>

#include <gtest/gtest.h>

#include "tests/soak/server_behaviours.h"

namespace {

TEST(SoakBodies, TheMixHoldsEveryVerdictAndEveryWayToEnd) {
    Random random(2);
    std::map<Outcome, int> outcomes;
    std::map<AnswerEnd, int> ends;
    for (int i = 0; i < 400; ++i) {
        Behaviour b = RandomBehaviour(random);
        ++outcomes[b.outcome];
        ++ends[b.answer.end];
        EXPECT_EQ(b.stalls, b.answer.end == AnswerEnd::Stall) << b.kind;
        if (b.outcome == Outcome::Done) {
            EXPECT_GT(b.body.size(), 5000u) << b.kind;
        } else if (b.outcome == Outcome::Deleted) {
            EXPECT_LT(b.body.size(), 5000u) << b.kind;
        }
    }
    for (Outcome o : {Outcome::Done, Outcome::Deleted, Outcome::Kept, Outcome::Failed})
        EXPECT_GT(outcomes[o], 25) << OutcomeName(o);
    for (AnswerEnd end : {AnswerEnd::Close, AnswerEnd::Stall, AnswerEnd::Reset})
        EXPECT_GT(ends[end], 5);
}

}  // namespace
