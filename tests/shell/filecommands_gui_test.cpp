#include "guitestsupport.h"

#include "buffer/filenames.h"
#include "shell/opendialog.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QListView>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// The Open and Save commands as the window runs them: dialogs, status bar, hex view and "Dev End :".
TEST(FileCommandsInTheWindow, OpenShowsTheImageAndSaveWritesTheViewByMenuOrButton) {
    TempConfigHome home;
    QTemporaryDir dir;
    const QString source = dir.filePath("prog.HEX");
    writeWholeFile(source, ":0300000002003BC0\r\n:0100100055\x39\r\n:00000001FF\r\n");

    GuiFixture f;
    auto form = f.start();
    f.openChoice = source;
    form->menuItem("InterHex1")->trigger();
    EXPECT_TRUE(f.messages.isEmpty()) << f.messages.join('|').toStdString();
    EXPECT_EQ(form->statusBarText(), "Open File:   " + source);
    EXPECT_EQ(panelText(*form, "DevEnd"), "000010H");
    const QStringList lines = form->hexLines();
    ASSERT_EQ(lines.size(), 512) << "an AT89S52 shows its whole capacity";
    EXPECT_EQ(lines[0], "000000  02 00 3B FF FF FF FF FF  FF FF FF FF FF FF FF FF");
    EXPECT_EQ(lines[1], "000010  55 FF FF FF FF FF FF FF  FF FF FF FF FF FF FF FF");
    EXPECT_TRUE(form->CheckBox1()->isEnabled());

    f.saveChoice = {dir.filePath("copy"), SaveFormat::Binary};
    form->button("SaveFileBut")->click();
    const QByteArray written = readWholeFile(dir.filePath("copy.bin"));
    ASSERT_EQ(written.size(), 8192);
    EXPECT_EQ(written.left(4), QByteArray("\x02\x00\x3B\xFF", 4));

    f.saveChoice = {dir.filePath("copy.hex"), SaveFormat::Hex};
    form->menuItem("N3")->trigger();
    const QByteArray hex = readWholeFile(dir.filePath("copy.hex.hex"));
    EXPECT_TRUE(hex.startsWith(":1000000002003BFFFFFFFFFFFFFFFFFFFFFFFFFFC0\r\n")) << hex.left(50).toStdString();
    EXPECT_TRUE(hex.endsWith(":00000001FF\r\n"));
}

TEST(FileCommandsInTheWindow, CancelledDialogsChangeNothingAndAnEmptyViewRefusesToSave) {
    TempConfigHome home;
    QTemporaryDir dir;
    GuiFixture f;
    auto form = f.start();
    form->button("SaveFileBut")->click();
    EXPECT_EQ(f.messages, QStringList{"Please Open *.Hex , *.Bin File Or Read IC Data Firstly !"});

    form->button("OpenFileBut")->click(); // cancelled
    EXPECT_EQ(form->statusBarText(), "");
    EXPECT_TRUE(form->hexLines().isEmpty());

    form->menuItem("N10")->trigger();
    f.saveChoice = {};
    form->button("SaveFileBut")->click(); // cancelled
    EXPECT_TRUE(QDir(dir.path()).isEmpty());
    EXPECT_EQ(f.messages.size(), 1);
}

TEST(FileCommandsInTheWindow, AFileTooLargeForTheChipShowsTheChipsMessageAndKeepsTheView) {
    TempConfigHome home;
    QTemporaryDir dir;
    const QString big = dir.filePath("big.bin");
    writeWholeFile(big, QByteArray(8193, '\x11'));
    GuiFixture f;
    auto form = f.start();
    form->menuItem("N10")->trigger();
    const QStringList before = form->hexLines();
    f.openChoice = big;
    form->button("OpenFileBut")->click();
    EXPECT_EQ(f.messages,
              QStringList{"Open File Error ! AT89S52 Cant Be Program 8K Active Byte Only ! Please Choose Again !"});
    EXPECT_EQ(form->hexLines(), before);
    EXPECT_EQ(panelText(*form, "DevEnd"), "");
    EXPECT_EQ(form->statusBarText(), "Open File:   " + big);
}

// The Open dialog as the user sees it: its filter reads "OpenFile(*.hex;*.bin)", and the files it lists are
// the loadable ones in any letter case.
TEST(FileCommandsInTheWindow, TheOpenDialogsFilterReadsCleanlyAndFindsEveryLoadableFile) {
    QTemporaryDir dir;
    const QStringList loadable = {"a.hex", "B.HEX", "c.ihx", "D.IHX", "e.ihex", "F.iHeX", "g.bin", "H.BIN"};
    for (const QString& name : loadable + QStringList{"notes.txt", "a.hex.txt", "fw.s19", "ahex"})
        writeWholeFile(dir.filePath(name), "x");
    QFileDialog dialog(nullptr, QString(), dir.path(), openDialogFilter());
    dialog.setOptions(openDialogOptions() | QFileDialog::DontUseNativeDialog);
    dialog.show();
    const auto* filter = dialog.findChild<QComboBox*>("fileTypeCombo");
    ASSERT_NE(filter, nullptr);
    EXPECT_EQ(filter->currentText(), "OpenFile(*.hex;*.bin)");

    const auto* list = dialog.findChild<QListView*>("listView");
    ASSERT_NE(list, nullptr);
    QStringList shown;
    QElapsedTimer clock;
    clock.start();
    // The dialog reads the folder on a thread of its own.
    while (clock.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        shown.clear();
        const QModelIndex root = list->rootIndex();
        for (int row = 0; row < list->model()->rowCount(root); ++row)
            shown << list->model()->index(row, 0, root).data().toString();
        if (shown.size() >= loadable.size()) break;
    }
    shown.sort(Qt::CaseInsensitive);
    QStringList expected = loadable;
    expected.sort(Qt::CaseInsensitive);
    EXPECT_EQ(shown, expected);
}
