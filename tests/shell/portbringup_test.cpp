#include "guitestsupport.h"

#include <QTest>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

namespace {
QString portValues(const TempConfigHome& home) {
    return home.registry() +
           "/HKEY_CURRENT_USER/HKEY_LOCAL_MACHINE/Software/HexFileOpenSet/ComPort/values.reg";
}
} // namespace

TEST(PortBringUp, FirstRunSeedsThePortDefaultsOpensAndProbes) {
    TempConfigHome home;
    GuiFixture f;
    auto form = f.start();
    EXPECT_TRUE(form->portOpened());
    EXPECT_TRUE(f.messages.isEmpty());
    const QByteArray seeded = readWholeFile(portValues(home));
    EXPECT_TRUE(seeded.startsWith("\"Port\"=\"" + f.pty.slavePath().toUtf8() + "\"\n\"BaudRate\"=\"9600\"\n"))
        << seeded.toStdString();
    EXPECT_TRUE(seeded.contains(
        "\"StopBits\"=\"1\"\n\"DataBits\"=\"8\"\n\"Parity\"=\"None\"\n\"FlowControl\"=\"None\""))
        << seeded.toStdString();
    EXPECT_EQ(f.pty.receive(3), QByteArray("\xFA\x00\x00", 3));

    // A programmer that answers is found when the ready check runs, however late the window's event loop
    // gets to the check: here only after the answer has reached the port, its notification not yet delivered.
    f.pty.send(QByteArray(1, '\x02'));
    for (int i = 0; i < 5000 && form->ComPort().InputQueueCount() < 1; ++i)
        QThread::msleep(1);
    QThread::msleep(150);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !form->sequencer().Timer2().enabled(); }, 5000));
    QTest::qWait(50);
    EXPECT_TRUE(form->Memo1()->toPlainText().contains("Programmer is Ready !"));
    EXPECT_FALSE(form->Memo1()->toPlainText().contains("Programmer  Not  Found !"));
}

TEST(PortBringUp, APortThatDoesNotOpenLeavesThePanelBlankAndTheProgrammerNotFound) {
    TempConfigHome home;
    GuiFixture f;
    auto form = f.start("/dev/chipwright-no-such-port");
    EXPECT_FALSE(form->portOpened());
    EXPECT_EQ(f.messages, QStringList{"COM1 Open Fail ! Please Check !"});
    EXPECT_EQ(panelText(*form, "ICType"), "");
    EXPECT_EQ(form->session().buffer().capacityUnits(), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !form->sequencer().Timer2().enabled(); }, 5000));
    EXPECT_EQ(form->Memo1()->toPlainText(), "Programmer  Not  Found !");

    // The program stays usable: a chip can be chosen and the commands refuse or report, they do not crash.
    form->Form2()->ICtypeGroup()->setItemIndex(0);
    form->Form2()->Button1Click();
    form->menuItem("N10")->trigger();
    EXPECT_EQ(form->hexLines().size(), 128);
    form->button("EraseBut")->click(); // the write fails on the closed port: the general error report
    EXPECT_EQ(f.errors.size(), 1);
    form->close();
    EXPECT_TRUE(readWholeFile(portValues(home)).contains("\"Port\"=\"/dev/chipwright-no-such-port\""));
}

TEST(PortBringUp, AMissingPortKeyAfterTheFirstRunRestoresAnEmptyPortName) {
    TempConfigHome home;
    writeWholeFile(GuiFixture::valuesFile(home), "\"ComSeted\"=\"1\"\n");
    GuiFixture f;
    auto form = f.start();
    EXPECT_EQ(form->ComPort().Port(), "");
    EXPECT_EQ(f.messages, QStringList{"COM1 Open Fail ! Please Check !"});
    form->close();
    EXPECT_TRUE(readWholeFile(portValues(home)).startsWith("\"Port\"=\"\"\n"));
}

TEST(PortBringUp, AnUnwritablePortStoreEndsStartUpWithTheErrorReportAndTheWindowStillWorks) {
    TempConfigHome home;
    // A file where the port's key folder should be.
    writeWholeFile(home.registry() + "/HKEY_CURRENT_USER/HKEY_LOCAL_MACHINE/Software/HexFileOpenSet/ComPort",
                   "x");
    GuiFixture f;
    auto form = f.start();
    EXPECT_EQ(f.errors, QStringList{"Failed to store settings"});
    EXPECT_FALSE(form->portOpened());
    EXPECT_EQ(panelText(*form, "ICType"), "");
    form->close(); // saving fails again: reported, and the application settings are still written
    EXPECT_EQ(f.errors.size(), 2);
    EXPECT_TRUE(readWholeFile(GuiFixture::valuesFile(home)).contains("\"ComSeted\"=\"0\""))
        << "the port settings were never seeded";
}

TEST(PortSetup, TheMenuCommandRunsThePortsSetupDialog) {
    TempConfigHome home;
    GuiFixture f;
    auto form = f.start();
    QString title;
    bool wasModal = false;
    QTimer::singleShot(0, [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (!dialog) return;
        title = dialog->windowTitle();
        wasModal = dialog->isModal();
        dialog->close(); // cancel: nothing applied
    });
    const QString before = form->ComPort().Port();
    form->menuItem("N18")->trigger();
    EXPECT_EQ(title, "Setup");
    EXPECT_TRUE(wasModal);
    EXPECT_EQ(form->ComPort().Port(), before);
    EXPECT_TRUE(form->ComPort().Connected());
}
