// A start whose write fails (the adapter was unplugged) raises the write failure; whatever it left running
// must still be watched, so the host comes back to idle with a message instead of showing a transfer for
// ever.
#include "programmer/fakelink.h"
#include "support/fakeview.h"

#include <gtest/gtest.h>

TEST(FailedWrite, EveryStartThatLeavesATransferRunningHasTheWatchdogArmed) {
    struct Case {
        const char* name;
        void (Sequencer::*start)();
    };
    const Case cases[] = {{"Erase", &Sequencer::EraseButClick},   {"Program", &Sequencer::ProgramButClick},
                          {"Verify", &Sequencer::VerifyButClick}, {"Read", &Sequencer::ReadButClick},
                          {"Auto", &Sequencer::AutoProButClick},  {"Lock", &Sequencer::sendLock}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeView view;
        HostSession session{view};
        FakeLink link;
        Sequencer seq{session, link};
        seq.setSleep([](int) {});
        session.confirmChip(0);
        session.buffer().recreate(session.buffer().capacity());
        session.buffer().setDataEnd(0x40);
        link.failWrites = true;
        EXPECT_THROW((seq.*c.start)(), std::runtime_error);
        const bool running = seq.readMode() || seq.verifyMode() || seq.Timer1().enabled();
        if (running) {
            ASSERT_TRUE(seq.DOGTimer4().enabled()) << "a transfer left running with nothing to end it";
            seq.DOGTimer4Timer();
        }
        EXPECT_FALSE(seq.readMode());
        EXPECT_FALSE(seq.verifyMode());
        EXPECT_FALSE(seq.Timer1().enabled());
    }
}
