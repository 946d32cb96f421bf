// Replies that arrive where no operation expects them (noise, or a programmer that restarted) must not leave
// the host showing a transfer that nothing watches any more.
#include "programmer/chipcatalogue.h"
#include "programmer/fakelink.h"
#include "support/fakeview.h"

#include <gtest/gtest.h>

namespace {

struct Host {
    FakeView view;
    HostSession session{view};
    FakeLink link;
    Sequencer seq{session, link};

    explicit Host(int dataEnd) {
        seq.setSleep([](int) {});
        session.confirmChip(6);
        CodeBuffer& b = session.buffer();
        b.recreate(b.capacity());
        b.setDataEnd(dataEnd);
    }
};

} // namespace

TEST(StrayReply, AReplyThatDisarmsTheWatchdogAlsoStopsTheProgressDisplay) {
    struct Case {
        const char* name;
        std::vector<quint8> reply;
    };
    const Case cases[] = {{"ready", {0x02}}, {"erase finished", {0x06, 0x00}}, {"lock finished", {0x09}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Host h(0x100);
        h.seq.ProgramButClick();
        h.link.reply(h.seq, {0x03});
        ASSERT_TRUE(h.seq.Timer1().enabled());
        h.link.reply(h.seq, c.reply);
        EXPECT_FALSE(h.seq.DOGTimer4().enabled());
        EXPECT_FALSE(h.seq.Timer1().enabled()) << "the progress would show a transfer that nothing watches";
        // The next operation runs as usual.
        h.seq.EraseButClick();
        h.link.reply(h.seq, {0x06});
        EXPECT_EQ(h.view.logLines.last(), "Earse Succssed !");
    }
}

TEST(StrayReply, AContinuedProgramReplyWithoutAnImageStartsNoProgressDisplay) {
    Host h(0); // no file loaded
    h.link.reply(h.seq, {0x07, 0x01});
    EXPECT_EQ(h.view.messages, QStringList{"Please Open *.Hex or *.Bin File Firstly !"});
    EXPECT_FALSE(h.seq.verifyMode());
    EXPECT_FALSE(h.seq.Timer1().enabled());
    EXPECT_TRUE(h.link.takeSent().empty());
}
