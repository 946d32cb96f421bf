#include "guitestsupport.h"

#include <gtest/gtest.h>

TEST(StartUp, FirstRunShowsTheDefaultChipAndShutdownWritesTheSettings) {
    TempConfigHome home;
    GuiFixture f;
    auto form = f.start();
    EXPECT_EQ(panelText(*form, "ICType"), "AT89S52");
    EXPECT_EQ(panelText(*form, "company"), "ATMEL");
    EXPECT_EQ(panelText(*form, "Vpp"), "5V");
    EXPECT_EQ(panelText(*form, "BufStart"), "000000H");
    EXPECT_EQ(panelText(*form, "BufEnd"), "001FFFH");
    EXPECT_EQ(panelText(*form, "DevStart"), "000000H");
    EXPECT_EQ(panelText(*form, "DevEnd"), "") << "no file loaded yet";
    EXPECT_EQ(panelText(*form, "CheckSum"), "");
    EXPECT_EQ(form->session().buffer().readBuffer().size(), 8192u);
    EXPECT_EQ(form->session().buffer().fillByte(), 0xFF);
    EXPECT_EQ(form->session().lockLevel(), 0);
    EXPECT_FALSE(form->CheckBox1()->isEnabled());
    EXPECT_EQ(form->ProgressBar1()->value(), 0);
    EXPECT_TRUE(form->Memo1()->toPlainText().isEmpty());

    form->close();
    EXPECT_EQ(readWholeFile(GuiFixture::valuesFile(home)), QByteArray("\"DownLoadset.Fill\"=\"255\"\n"
                                                                     "\"ICtypeGroup.ItemIndex\"=\"6\"\n"
                                                                     "\"LockBit.ItemIndex\"=\"0\"\n"
                                                                     "\"ComSeted\"=\"1\"\n"));
}

TEST(StartUp, ChoicesSurviveARestart) {
    TempConfigHome home;
    GuiFixture f;
    {
        auto form = f.start();
        form->menuItem("N001")->trigger();
        form->Form2()->ICtypeGroup()->setItemIndex(4);
        form->Form2()->Button1Click();
        form->LockBitForm()->LockBit()->setItemIndex(3);
        form->LockBitForm()->Button1Click();
        form->menuItem("N4")->trigger(); // 退出(&E)
    }
    auto form = f.start();
    EXPECT_EQ(form->session().buffer().fillByte(), 0x00);
    EXPECT_TRUE(form->menuItem("N001")->isChecked());
    EXPECT_EQ(form->session().chipIndex(), 4);
    EXPECT_EQ(panelText(*form, "ICType"), "AT89C55");
    EXPECT_EQ(form->Form2()->ICtypeGroup()->itemIndex(), 4);
    EXPECT_EQ(form->session().lockLevel(), 3);
    EXPECT_EQ(form->LockBitForm()->LockBit()->itemIndex(), 3);
}

TEST(StartUp, SavedIndexesOutsideTheirRangeAreClampedOnlyByTheDialogs) {
    struct Case {
        int savedChip, dialogChip, savedLock, dialogLock;
    };
    for (const Case c : {Case{9, 7, 7, 3}, Case{-1, -1, -2, -1}}) {
        TempConfigHome home;
        writeWholeFile(GuiFixture::valuesFile(home), QStringLiteral("\"ICtypeGroup.ItemIndex\"=\"%1\"\n"
                                                                   "\"LockBit.ItemIndex\"=\"%2\"\n")
                                                        .arg(c.savedChip)
                                                        .arg(c.savedLock)
                                                        .toUtf8());
        GuiFixture f;
        auto form = f.start();
        EXPECT_EQ(form->session().chipIndex(), c.savedChip);
        EXPECT_EQ(form->Form2()->ICtypeGroup()->itemIndex(), c.dialogChip);
        EXPECT_EQ(form->session().lockLevel(), c.savedLock);
        EXPECT_EQ(form->LockBitForm()->LockBit()->itemIndex(), c.dialogLock);
        EXPECT_EQ(panelText(*form, "ICType"), "") << "no chip is shown for a saved index outside the catalogue";
        EXPECT_EQ(form->session().buffer().capacityUnits(), 0);
        EXPECT_TRUE(form->session().buffer().readBuffer().empty());

        // Clear code before any chip is confirmed finds no capacity and shows nothing.
        form->menuItem("N10")->trigger();
        EXPECT_TRUE(form->hexLines().isEmpty());
        EXPECT_TRUE(form->CheckBox1()->isEnabled());
    }
}

TEST(ChipDialog, ConfirmAppliesTheRowAndCancelChangesNothingButTheDialogsChoice) {
    TempConfigHome home;
    GuiFixture f;
    auto form = f.start();
    TForm2* dialog = form->Form2();

    form->button("ICtypeBut")->click();
    ASSERT_TRUE(dialog->isVisible());
    dialog->ICtypeGroup()->button(4)->click();
    dialog->Button1()->click();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(form->session().chipIndex(), 4);
    EXPECT_EQ(panelText(*form, "ICType"), "AT89C55");
    EXPECT_EQ(panelText(*form, "Vpp"), "12V");
    EXPECT_EQ(panelText(*form, "BufEnd"), "004FFFH");
    EXPECT_EQ(panelText(*form, "DevEnd"), "000000H") << "a confirm shows data end, 0 with no file";
    EXPECT_EQ(form->session().buffer().readBuffer().size(), 20480u);
    EXPECT_EQ(form->session().buffer().capacityUnits(), 10);

    // Cancel: nothing applied, but the dialog keeps the new choice, which the next confirm applies.
    form->button("ICtypeBut")->click();
    dialog->ICtypeGroup()->button(0)->click();
    dialog->Button2()->click();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(form->session().chipIndex(), 4);
    EXPECT_EQ(panelText(*form, "ICType"), "AT89C55");
    EXPECT_EQ(form->session().buffer().capacityUnits(), 10);
    EXPECT_EQ(dialog->ICtypeGroup()->itemIndex(), 0);

    // The next confirm applies the kept choice.
    form->session().buffer().setDataEnd(0x01FF);
    dialog->Button1Click();
    EXPECT_EQ(form->session().chipIndex(), 0);
    EXPECT_EQ(panelText(*form, "ICType"), "AT89C2051");
    EXPECT_EQ(panelText(*form, "DevEnd"), "0001FFH");
    EXPECT_EQ(form->session().buffer().readBuffer().size(), 2048u);

    // Confirming the same chip again re-applies the row and empties "Check Sum :".
    form->panelValue("CheckSum")->setText("stale");
    form->panelValue("BufEnd")->setText("stale");
    dialog->Button1Click();
    EXPECT_EQ(panelText(*form, "CheckSum"), "");
    EXPECT_EQ(panelText(*form, "BufEnd"), "0007FFH");
}

TEST(ChipDialog, ExitSavesTheDialogsChoiceEvenAfterCancel) {
    TempConfigHome home;
    GuiFixture f;
    {
        auto form = f.start();
        form->Form2()->ICtypeGroup()->button(2)->click();
        form->Form2()->Button2Click();
        EXPECT_EQ(form->session().chipIndex(), 6);
        form->close();
    }
    EXPECT_EQ(AppSettingsStore(GuiFixture::storeName()).readInteger("HexFileOpen", "ICtypeGroup.ItemIndex", -5), 2);
}

TEST(ChipDialog, ConfirmWithNothingSelectedOnlySetsTheIndex) {
    TempConfigHome home;
    GuiFixture f;
    auto form = f.start();
    form->Form2()->ICtypeGroup()->setItemIndex(-1);
    form->Form2()->Button1Click();
    EXPECT_EQ(form->session().chipIndex(), -1);
    EXPECT_EQ(panelText(*form, "ICType"), "AT89S52");
    EXPECT_EQ(form->session().buffer().capacityUnits(), 4);
}

TEST(LockBitDialog, ConfirmStoresTheLevelAndCancelKeepsIt) {
    TempConfigHome home;
    GuiFixture f;
    auto form = f.start();
    TLockBitForm* dialog = form->LockBitForm();
    form->button("LockBut")->click();
    ASSERT_TRUE(dialog->isVisible());
    dialog->LockBit()->button(2)->click();
    dialog->Button1()->click();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(form->session().lockLevel(), 2);

    form->button("LockBut")->click();
    dialog->LockBit()->button(0)->click();
    dialog->Button2()->click();
    EXPECT_EQ(form->session().lockLevel(), 2);
    EXPECT_EQ(dialog->LockBit()->itemIndex(), 0) << "the dialog keeps the new choice";
    form->close();
    EXPECT_EQ(AppSettingsStore(GuiFixture::storeName()).readInteger("HexFileOpen", "LockBit.ItemIndex", -5), 0);
}

TEST(ClearCode, FillsTheChipsCapacityBeforeAnyLoadAndAfterAChipChange) {
    TempConfigHome home;
    GuiFixture f;
    auto form = f.start();
    form->Form2()->ICtypeGroup()->setItemIndex(0);
    form->Form2()->Button1Click();

    form->menuItem("N10")->trigger();
    QStringList lines = form->hexLines();
    ASSERT_EQ(lines.size(), 128);
    EXPECT_EQ(lines.first(), "000000  FF FF FF FF FF FF FF FF  FF FF FF FF FF FF FF FF");
    EXPECT_TRUE(lines.last().startsWith("0007F0  FF"));
    EXPECT_TRUE(form->CheckBox1()->isEnabled());
    EXPECT_EQ(form->session().buffer().dataEnd(), 0) << "Program still refuses: clearing loads nothing";
    EXPECT_EQ(panelText(*form, "DevEnd"), "000000H");

    // The fill choice changes nothing until the next clear.
    form->menuItem("N001")->trigger();
    EXPECT_EQ(form->hexLines(), lines);
    EXPECT_EQ(form->session().buffer().code()[0], 0xFF);

    form->Form2()->ICtypeGroup()->setItemIndex(4);
    form->Form2()->Button1Click();
    form->menuItem("N10")->trigger();
    lines = form->hexLines();
    ASSERT_EQ(lines.size(), 1280);
    EXPECT_EQ(lines.first(), "000000  00 00 00 00 00 00 00 00  00 00 00 00 00 00 00 00");
    EXPECT_TRUE(lines.last().startsWith("004FF0  00"));
}

TEST(ClearWindow, EmptiesOnlyTheMessageLog) {
    TempConfigHome home;
    GuiFixture f;
    auto form = f.start();
    form->menuItem("N10")->trigger();
    form->log("Programmer is Ready !");
    form->Label1()->setText("OK   ");
    form->ProgressBar1()->setValue(40);
    const QStringList hex = form->hexLines();

    form->menuItem("N17")->trigger();
    EXPECT_TRUE(form->Memo1()->toPlainText().isEmpty());
    EXPECT_EQ(form->hexLines(), hex);
    EXPECT_EQ(form->Label1()->text(), "OK   ");
    EXPECT_EQ(form->ProgressBar1()->value(), 40);
    EXPECT_EQ(panelText(*form, "ICType"), "AT89S52");
}
