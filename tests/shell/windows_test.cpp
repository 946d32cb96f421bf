#include "guitestsupport.h"

#include <QAction>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

// Every menu item that mirrors a toolbar button, with that button.
const std::pair<const char*, const char*> mirrors[] = {
    {"InterHex1", "OpenFileBut"}, {"N3", "SaveFileBut"},  {"N8", "EditFileBut"}, {"N11", "AutoProBut"},
    {"N12", "EraseBut"},          {"N13", "ProgramBut"},  {"N14", "VerifyBut"},  {"N15", "ReadBut"},
    {"N16", "LockBut"},           {"D1", "ICtypeBut"},    {"H1", "HelpBut"},
};

// The window each bring-up command shows.
QWidget* windowOf(TForm1& form, const QString& button) {
    if (button == "EditFileBut") return form.EditHexForm();
    if (button == "LockBut") return form.LockBitForm();
    if (button == "ICtypeBut") return form.Form2();
    if (button == "HelpBut") return form.Form3();
    return nullptr;
}

} // namespace

TEST(CommandMap, EveryMirroringMenuItemClicksItsButton) {
    TempConfigHome home;
    GuiFixture f;
    auto form = f.start();
    for (const auto& [item, buttonName] : mirrors) {
        QAction* action = form->menuItem(item);
        QToolButton* button = form->button(buttonName);
        ASSERT_TRUE(action && button) << item;
        EXPECT_EQ(action->isEnabled(), button->isEnabled()) << item;
        if (!button->isEnabled()) continue; // its command is not in this build yet
        QSignalSpy clicks(button, &QToolButton::clicked);
        action->trigger();
        EXPECT_EQ(clicks.count(), 1) << item;
    }
}

TEST(CommandMap, MenuItemAndButtonGiveTheSameWindowState) {
    for (const auto& [item, buttonName] : mirrors) {
        TempConfigHome home;
        GuiFixture byMenu, byButton;
        auto a = byMenu.start();
        auto b = byButton.start();
        QWidget* wa = windowOf(*a, buttonName);
        if (!wa) continue;
        a->menuItem(item)->trigger();
        b->button(buttonName)->click();
        QWidget* wb = windowOf(*b, buttonName);
        EXPECT_TRUE(wa->isVisible()) << item;
        EXPECT_EQ(wa->isVisible(), wb->isVisible()) << item;
        EXPECT_EQ(wa->windowFlags(), wb->windowFlags()) << item;
        EXPECT_TRUE(wa->windowFlags().testFlag(Qt::WindowStaysOnTopHint)) << item;
    }
}

TEST(SecondaryWindows, EachIsASingleInstanceBroughtForwardAgain) {
    TempConfigHome home;
    GuiFixture f;
    auto form = f.start();
    for (const char* buttonName : {"EditFileBut", "LockBut", "ICtypeBut", "HelpBut"}) {
        QWidget* window = windowOf(*form, buttonName);
        form->button(buttonName)->click();
        form->button(buttonName)->click();
        EXPECT_TRUE(window->isVisible()) << buttonName;
        window->close();
        EXPECT_FALSE(window->isVisible()) << buttonName << ": closing only hides";
        form->button(buttonName)->click();
        EXPECT_TRUE(window->isVisible()) << buttonName;
    }
    EXPECT_EQ(form->findChildren<TEditHexForm*>().size(), 1);
    EXPECT_EQ(form->findChildren<TForm2*>().size(), 1);
    EXPECT_EQ(form->findChildren<TLockBitForm*>().size(), 1);
    EXPECT_EQ(form->findChildren<TForm3*>().size(), 1);
    // The modeless windows never block the main window.
    for (QWidget* w : QList<QWidget*>{form->EditHexForm(), form->Form2(), form->LockBitForm(), form->Form3()})
        EXPECT_EQ(w->windowModality(), Qt::NonModal);
}

TEST(HexWindow, KeepsTypedTextWhileHiddenAndALaterDumpReplacesIt) {
    TempConfigHome home;
    GuiFixture f;
    auto form = f.start();
    form->button("EditFileBut")->click();
    QPlainTextEdit* view = form->EditHexForm()->DisHexFile();
    view->setFocus();
    QTest::keyClicks(view, "typed by hand");
    form->EditHexForm()->close();
    form->menuItem("N8")->trigger();
    EXPECT_EQ(form->hexLines(), QStringList{"typed by hand"});

    form->menuItem("N10")->trigger();
    EXPECT_EQ(form->hexLines().size(), 512);
    EXPECT_FALSE(view->toPlainText().contains("typed"));
}

TEST(HexWindow, ADumpIsOneUpdateOfTheText) {
    TempConfigHome home;
    GuiFixture f;
    auto form = f.start();
    form->Form2()->ICtypeGroup()->setItemIndex(4);
    form->Form2()->Button1Click();
    form->button("EditFileBut")->click();
    QSignalSpy changes(form->EditHexForm()->DisHexFile()->document(), &QTextDocument::contentsChange);
    form->menuItem("N10")->trigger();
    EXPECT_LE(changes.count(), 2) << "one replacement of the text (removal and insertion), not one per line";
    EXPECT_EQ(form->hexLines().size(), 1280);
    for (const QString& line : form->hexLines()) ASSERT_EQ(line.size(), 56) << "no line may wrap or grow";
}

class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

TEST(AboutWindow, ItsLinkOpensTheUserGuideThatComesWithTheProgram) {
    TempConfigHome home;
    GuiFixture f;
    auto form = f.start();
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("file", &catcher, "open");
    form->menuItem("H1")->trigger();
    ASSERT_TRUE(form->Form3()->isVisible());
    EXPECT_EQ(form->Form3()->windowTitle(), "Help");
    QTest::mouseClick(form->Form3()->link(), Qt::LeftButton);
    QDesktopServices::unsetUrlHandler("file");
    EXPECT_EQ(catcher.opened, QList<QUrl>{TForm3::userGuideAddress(QCoreApplication::applicationDirPath())});
    // The programs in the build folder open the build's copy, which is the source's.
    const QString built = TForm3::userGuideAddress(qEnvironmentVariable("CHIPWRIGHT_BUILD_DIR")).toLocalFile();
    EXPECT_EQ(QFileInfo(built).canonicalFilePath(),
              QFileInfo(qEnvironmentVariable("CHIPWRIGHT_BUILD_DIR") + "/doc/user-guide.html").canonicalFilePath());
    EXPECT_EQ(readWholeFile(built),
              readWholeFile(qEnvironmentVariable("CHIPWRIGHT_SOURCE_DIR") + "/docs/user-guide.html"));
}

// Installed, the guide is the one in the package's documentation folder; where none is, the build's.
TEST(AboutWindow, TheUserGuideIsTheInstalledOneWhereThereIsOne) {
    QTemporaryDir prefix;
    QDir(prefix.path()).mkpath("bin");
    QDir(prefix.path()).mkpath("share/doc/chipwright");
    EXPECT_EQ(TForm3::userGuideAddress(prefix.filePath("bin")),
              QUrl::fromLocalFile(prefix.filePath("bin/doc/user-guide.html")));
    writeWholeFile(prefix.filePath("share/doc/chipwright/user-guide.html"), "<html></html>");
    EXPECT_EQ(TForm3::userGuideAddress(prefix.filePath("bin")),
              QUrl::fromLocalFile(prefix.filePath("share/doc/chipwright/user-guide.html")));
}

TEST(MainWindow, CloseBoxAndExitRunTheSameShutdown) {
    QByteArray written[2];
    for (int way = 0; way < 2; ++way) {
        TempConfigHome home;
        GuiFixture f;
        auto form = f.start();
        QSignalSpy closed(form.get(), &TForm1::closed);
        form->show();
        form->menuItem("FF1")->trigger();
        if (way == 0)
            form->close();
        else
            form->menuItem("N4")->trigger();
        EXPECT_EQ(closed.count(), 1);
        written[way] = readWholeFile(GuiFixture::valuesFile(home));
    }
    EXPECT_FALSE(written[0].isEmpty());
    EXPECT_EQ(written[0], written[1]);
}

TEST(MainWindow, LayoutKeepsItsSizesAndCaptions) {
    TempConfigHome home;
    GuiFixture f;
    auto form = f.start();
    EXPECT_EQ(form->windowTitle(), "  Chipwright V2.0");
    EXPECT_EQ(form->centralWidget()->size(), QSize(506, 382));
    EXPECT_FALSE(form->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    const char* captions[][2] = {{"OpenFileBut", "打開"}, {"SaveFileBut", "保存"}, {"EditFileBut", "編輯"},
                                 {"AutoProBut", "自動"},  {"EraseBut", "擦除"},    {"ProgramBut", "燒錄"},
                                 {"VerifyBut", "校驗"},   {"ReadBut", "讀取"},     {"LockBut", "加密"},
                                 {"ICtypeBut", "芯片"},   {"HelpBut", "幫助"}};
    int left = -1;
    for (const auto& [name, caption] : captions) {
        QToolButton* b = form->button(name);
        ASSERT_TRUE(b) << name;
        EXPECT_EQ(b->text(), QString::fromUtf8(caption));
        EXPECT_FALSE(b->icon().isNull()) << name;
        EXPECT_GT(b->x(), left) << name << " keeps the toolbar order";
        left = b->x();
    }
    for (const char* item : {"N3", "N4", "N11", "N12", "N13", "N14", "N15", "N16"})
        EXPECT_FALSE(form->menuItem(item)->icon().isNull()) << item;
}

#include "windows_test.moc"
