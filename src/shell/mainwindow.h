#pragma once

#include "buffer/filecommands.h"
#include "programmer/comportlink.h"
#include "programmer/filewatch.h"
#include "programmer/hostsession.h"
#include "programmer/hostview.h"
#include "programmer/linktrace.h"
#include "programmer/sequencer.h"
#include "serial/comport.h"
#include "shell/appsettings.h"
#include "shell/appsettingsstore.h"
#include "shell/toolbaricons.h"

#include <QMainWindow>

#include <functional>
#include <map>
#include <memory>

class QAction;
class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QStatusBar;
class QTimer;
class QToolButton;
class TEditHexForm;
class TForm2;
class TForm3;
class TLockBitForm;

// The main window: toolbar, menus, message log, IC message panel, status label, progress bar and status bar.
// It owns the host session and the four secondary windows; its handlers forward to the session.
class TForm1 : public QMainWindow, public HostView {
    Q_OBJECT
public:
    // Where the window's modal boxes go, for tests; by default they are shown. defaultPort replaces the
    // port's built-in default "COM1" (what a first run saves and opens).
    struct Options {
        std::function<void(const QString&)> messageBox;
        std::function<void(const QString&)> errorReport;
        QString defaultPort;
        // Plays the beeps instead of the sound card (tests).
        std::function<void(int frequencyHz, int durationMs)> beep;
        // The wire trace of the programmer's line (--trace), or none.
        std::shared_ptr<LinkTrace> trace;
    };

    // Runs the start-up sequence against the application settings store of that name.
    explicit TForm1(const QString& settingsStoreName, Options options = {});
    ~TForm1() override;

    // Creates the four secondary windows, after the main window, in the order hex text window, chip dialog,
    // lock-bit dialog, about window.
    void createSecondaryWindows();

    HostSession& session() { return session_; }
    Sequencer& sequencer() { return sequencer_; }
    TComPort& ComPort() { return ComPort_; }
    // Whether start-up opened the port.
    bool portOpened() const { return portOpened_; }
    const AppSettingsStore& settingsStore() const { return store_; }

    TEditHexForm* EditHexForm() const { return editHexForm_; }
    TForm2* Form2() const { return form2_; }
    TLockBitForm* LockBitForm() const { return lockBitForm_; }
    TForm3* Form3() const { return form3_; }

    QToolButton* button(const QString& name) const;
    QAction* menuItem(const QString& name) const;
    QPlainTextEdit* Memo1() const { return Memo1_; }
    QLabel* Label1() const { return Label1_; }
    QProgressBar* ProgressBar1() const { return ProgressBar1_; }
    QCheckBox* CheckBox1() const { return CheckBox1_; }
    QLabel* panelValue(const QString& name) const;
    QString statusBarText() const;

    // The file dialogs; tests replace them. Open gives the chosen path, Save the typed name and the chosen
    // filter's format; an empty path means the user cancelled.
    struct SaveChoice {
        QString baseName;
        SaveFormat format = SaveFormat::Hex;
    };
    void setFileDialogs(std::function<QString()> open, std::function<SaveChoice()> save) {
        openDialog_ = std::move(open);
        saveDialog_ = std::move(save);
    }
    const FileState& fileState() const { return fileState_; }

    // Opens path as the Open command does once its dialog returned that name: the file watch pauses, the file
    // is loaded with Open's checks and messages, and the watch goes on if the ISP switch is on.
    void openNamedFile(const QString& path);
    // A file from outside the window (its command line, another start of the program, a drop): opened as
    // above as soon as Open could be used, that is once no modal box is up; files wait in order until then.
    void openWhenFree(const QString& path);
    // Another start of the program asked for this window: it comes to the front, restored if minimised, and
    // opens path (if any) as openWhenFree does.
    void openFromOutside(const QString& path);

    // Command handlers.
    void OpenFileButClick();
    void SaveFileButClick();
    void EditFileButClick();
    void AutoProButClick();
    void EraseButClick();
    void ProgramButClick();
    void VerifyButClick();
    void ReadButClick();
    void N18Click();
    void ComPortRxChar(int count);
    void LockButClick();
    void ICtypeButClick();
    void HelpButClick();
    void FF1Click();
    void N001Click();
    void N10Click();
    void N17Click();

    // HostView
    void log(const QString& line) override;
    void showMessage(const QString& text) override;
    void showChipPanel(const ChipPanel& panel) override;
    void setStatusBarText(const QString& text) override;
    void setHexLines(const QStringList& lines) override;
    void clearHexView() override;
    void appendHexLine(const QString& line) override;
    QStringList hexLines() const override;
    void enableIspSwitch() override;
    void setStatus(const QString& text, StatusColour colour) override;
    void setProgress(int percent) override;
    void beep(int frequencyHz, int durationMs) override;
    void raiseWindow() override;
    void lowerWindow() override;

signals:
    // The main window has closed and its shutdown has run: the program ends.
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    // One local file dropped anywhere on the window opens as Open does; anything else is refused.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void setStaysOnTop(bool onTop);
    void buildToolBar(QWidget* client);
    void buildMenus();
    void buildPanel(QWidget* client);
    QToolButton* addButton(QWidget* bar, const QString& name, const QString& caption, CommandPicture picture,
                           int left, int width, void (TForm1::*handler)());
    QAction* addMirror(QMenu* menu, const QString& name, const QString& caption, const QString& buttonName,
                       bool withPicture);
    QAction* addItem(QMenu* menu, const QString& name, const QString& caption, void (TForm1::*handler)());

    void FormCreate();
    void FormClose();
    void reportError(const QString& text);
    void guarded(const std::function<void()>& command);
    void showFillChoice();
    QString runOpenDialog();
    // The Open command around the name choose gives (empty: nothing chosen).
    void runOpen(const std::function<QString()>& choose);
    void openFilesWaiting();
    SaveChoice runSaveDialog();

    Options options_;
    AppSettingsStore store_;
    HostSession session_;
    TComPort ComPort_;
    ComPortLink comLink_{ComPort_};
    TracingLink link_{comLink_};
    Sequencer sequencer_{session_, link_};
    FileState fileState_;
    FileWatch fileWatch_{session_, fileState_};
    bool comSeted_ = false;
    bool portOpened_ = false;
    bool closed_ = false;

    QPlainTextEdit* Memo1_ = nullptr;
    QLabel* Label1_ = nullptr;
    QProgressBar* ProgressBar1_ = nullptr;
    QCheckBox* CheckBox1_ = nullptr;
    QLabel* statusPanel_ = nullptr;
    std::map<QString, QToolButton*> buttons_;
    std::map<QString, QAction*> menuItems_;
    std::map<QString, QLabel*> panelValues_;

    TEditHexForm* editHexForm_ = nullptr;
    TForm2* form2_ = nullptr;
    TLockBitForm* lockBitForm_ = nullptr;
    TForm3* form3_ = nullptr;
    int savedChipIndex_ = 6;
    int savedLockLevel_ = 0;

    QStringList filesWaiting_;
    QTimer* waitForModal_ = nullptr;

    std::function<QString()> openDialog_;
    std::function<SaveChoice()> saveDialog_;
};
