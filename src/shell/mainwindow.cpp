#include "shell/mainwindow.h"

#include "buffer/edithexform.h"
#include "buffer/filenames.h"
#include "platform/beeper.h"
#include "programmer/chipcatalogue.h"
#include "programmer/chipdialog.h"
#include "programmer/lockbitform.h"
#include "programmer/radiogroup.h"
#include "shell/aboutform.h"
#include "shell/chipwrightapp.h"
#include "shell/droppedfile.h"
#include "shell/fonts.h"
#include "shell/opendialog.h"
#include "shell/portbringup.h"
#include "shell/windowplacement.h"

#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <QWindow>

namespace {

// The IC message panel: caption, value label name, font.
struct PanelRow {
    const char* caption;
    const char* name;
};
const PanelRow panelRows[] = {
    {"Company :", "company"},    {"Type :", "ICType"},        {"Vpp :", "Vpp"},
    {"Buf Start :", "BufStart"}, {"Buf End :", "BufEnd"},     {"Dev Start :", "DevStart"},
    {"Dev End :", "DevEnd"},     {"Check Sum :", "CheckSum"},
};

} // namespace

TForm1::TForm1(const QString& settingsStoreName, Options options)
    : QMainWindow(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                               Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      options_(std::move(options)), store_(settingsStoreName), session_(*this) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("  Chipwright V2.0"));
    setWindowIcon(chipwrightIcon());
    setFont(sansFont(8));

    auto* client = new QWidget(this);
    client->setFixedSize(506, 382);
    setCentralWidget(client);
    buildToolBar(client);
    buildPanel(client);
    buildMenus();
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    // A file dropped anywhere on the window is the window's: the message log and the hex view take no drop
    // of their own (text views do by default).
    for (QWidget* child : findChildren<QWidget*>())
        child->setAcceptDrops(false);
    setAcceptDrops(true);

    if (LinkTrace* trace = options_.trace.get()) {
        trace->observe(&sequencer_);
        link_.setTrace(trace);
        ComPort_.OnAfterOpen = [this, trace](TCustomComPort* port) {
            trace->portOpened();
            const ChipInfo* chip = chipAt(session_.chipIndex());
            trace->header({QStringLiteral("chipwright %1 wire trace").arg(QLatin1String(CHIPWRIGHT_VERSION)),
                           portTraceLine(*port),
                           QStringLiteral("chip: %1").arg(chip ? QLatin1String(chip->type) : QLatin1String("none")),
                           startedTraceLine()});
        };
    }
    FormCreate();
}

TForm1::~TForm1() {
    // The port outlives the sequencer among the members, and stopping its event thread still delivers what
    // was handed over: nothing may reach the sequencer once it is gone.
    ComPort_.OnRxChar = nullptr;
    if (options_.trace) options_.trace->observe(nullptr);
}

QToolButton* TForm1::addButton(QWidget* bar, const QString& name, const QString& caption,
                               CommandPicture picture, int left, int width, void (TForm1::*handler)()) {
    auto* b = new QToolButton(bar);
    b->setObjectName(name);
    b->setText(caption);
    b->setIcon(commandIcon(picture));
    b->setIconSize(QSize(20, 20));
    b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    b->setAutoRaise(true);
    b->setGeometry(left, 2, width, 39);
    connect(b, &QToolButton::clicked, this,
            [this, handler] { guarded([this, handler] { (this->*handler)(); }); });
    buttons_[name] = b;
    return b;
}

void TForm1::buildToolBar(QWidget* client) {
    auto* bar = new QFrame(client);
    bar->setObjectName(QStringLiteral("ToolBar1"));
    bar->setGeometry(0, 0, 506, 49);
    bar->setFrameShape(QFrame::NoFrame);
    addButton(bar, "OpenFileBut", "打開", CommandPicture::Open, 0, 49, &TForm1::OpenFileButClick);
    addButton(bar, "SaveFileBut", "保存", CommandPicture::Save, 49, 40, &TForm1::SaveFileButClick);
    addButton(bar, "EditFileBut", "編輯", CommandPicture::Edit, 89, 48, &TForm1::EditFileButClick);
    addButton(bar, "AutoProBut", "自動", CommandPicture::Auto, 137, 48, &TForm1::AutoProButClick);
    addButton(bar, "EraseBut", "擦除", CommandPicture::Erase, 185, 40, &TForm1::EraseButClick);
    addButton(bar, "ProgramBut", "燒錄", CommandPicture::Program, 225, 40, &TForm1::ProgramButClick);
    addButton(bar, "VerifyBut", "校驗", CommandPicture::Verify, 265, 48, &TForm1::VerifyButClick);
    addButton(bar, "ReadBut", "讀取", CommandPicture::Read, 313, 48, &TForm1::ReadButClick);
    addButton(bar, "LockBut", "加密", CommandPicture::Lock, 361, 48, &TForm1::LockButClick);
    addButton(bar, "ICtypeBut", "芯片", CommandPicture::Chip, 409, 49, &TForm1::ICtypeButClick);
    addButton(bar, "HelpBut", "幫助", CommandPicture::Help, 458, 48, &TForm1::HelpButClick);
}

void TForm1::buildPanel(QWidget* client) {
    Memo1_ = new QPlainTextEdit(client);
    Memo1_->setObjectName(QStringLiteral("Memo1"));
    Memo1_->setGeometry(0, 48, 337, 281);
    Memo1_->setReadOnly(true);
    Memo1_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1_->setFont(sansFont(10));

    auto* group = new QGroupBox(QStringLiteral("IC Message"), client);
    group->setObjectName(QStringLiteral("GroupBox"));
    group->setGeometry(337, 48, 169, 281);
    group->setFont(sansFont(10));
    int y = 20;
    for (const PanelRow& row : panelRows) {
        auto* caption = new QLabel(QLatin1String(row.caption), group);
        caption->setGeometry(8, y, 76, 22);
        auto* value = new QLabel(group);
        value->setObjectName(QLatin1String(row.name));
        value->setGeometry(82, y, 84, 22);
        const bool large = panelValues_.size() < 2; // company and ICType
        value->setFont(panelValues_.empty() ? mingFont(12) : newMingFont(large ? 12 : 11));
        QPalette palette = value->palette();
        palette.setColor(QPalette::WindowText, Qt::blue);
        value->setPalette(palette);
        panelValues_[QLatin1String(row.name)] = value;
        y += 23;
    }
    auto* isp = new QGroupBox(QStringLiteral("ISP Auto Switch"), group);
    isp->setGeometry(6, 208, 157, 66);
    CheckBox1_ = new QCheckBox(QStringLiteral("ISP Auto Enabled"), isp);
    CheckBox1_->setObjectName(QStringLiteral("CheckBox1"));
    CheckBox1_->setGeometry(10, 28, 140, 26);
    connect(CheckBox1_, &QCheckBox::clicked, this,
            [this](bool checked) { sequencer_.CheckBox1Click(checked); });

    auto* panel = new QFrame(client);
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setGeometry(0, 328, 145, 25);
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Sunken);
    Label1_ = new QLabel(panel);
    Label1_->setObjectName(QStringLiteral("Label1"));
    Label1_->setGeometry(2, 2, 141, 21);
    Label1_->setAlignment(Qt::AlignCenter);
    Label1_->setFont(sansFont(10));
    Label1_->setAutoFillBackground(true);

    ProgressBar1_ = new QProgressBar(client);
    ProgressBar1_->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1_->setGeometry(144, 328, 361, 25);
    ProgressBar1_->setRange(0, 100);
    ProgressBar1_->setTextVisible(false);

    auto* statusBar = new QStatusBar(client);
    statusBar->setObjectName(QStringLiteral("StatusBar1"));
    statusBar->setGeometry(0, 350, 506, 32);
    statusBar->setSizeGripEnabled(false);
    statusPanel_ = new QLabel(statusBar);
    statusPanel_->setMinimumWidth(100);
    statusBar->addWidget(statusPanel_, 1);
}

QAction* TForm1::addItem(QMenu* menu, const QString& name, const QString& caption,
                         void (TForm1::*handler)()) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(name);
    connect(action, &QAction::triggered, this,
            [this, handler] { guarded([this, handler] { (this->*handler)(); }); });
    menuItems_[name] = action;
    return action;
}

QAction* TForm1::addMirror(QMenu* menu, const QString& name, const QString& caption,
                           const QString& buttonName, bool withPicture) {
    QToolButton* b = buttons_.at(buttonName);
    QAction* action = menu->addAction(caption);
    action->setObjectName(name);
    if (withPicture) action->setIcon(b->icon());
    action->setEnabled(b->isEnabled());
    // The menu item performs the button's click, so both paths behave the same.
    connect(action, &QAction::triggered, b, &QToolButton::click);
    menuItems_[name] = action;
    return action;
}

void TForm1::buildMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));

    QMenu* n1 = bar->addMenu(QStringLiteral("文件(&F)"));
    n1->setObjectName(QStringLiteral("N1"));
    QMenu* n2 = n1->addMenu(commandIcon(CommandPicture::Open), QStringLiteral("打開(&O)"));
    n2->setObjectName(QStringLiteral("N2"));
    addMirror(n2, "InterHex1", "LoadFile(&L)", "OpenFileBut", false);
    addMirror(n1, "N3", "保存(&S)", "SaveFileBut", true);
    QAction* exit = n1->addAction(commandIcon(CommandPicture::Exit), QStringLiteral("退出(&E)"));
    exit->setObjectName(QStringLiteral("N4"));
    connect(exit, &QAction::triggered, this, &QWidget::close);
    menuItems_[QStringLiteral("N4")] = exit;

    QMenu* n5 = bar->addMenu(QStringLiteral("編輯(&E)"));
    n5->setObjectName(QStringLiteral("N5"));
    QMenu* n9 = n5->addMenu(QStringLiteral("填充代碼"));
    n9->setObjectName(QStringLiteral("N9"));
    auto* fillGroup = new QActionGroup(this);
    for (QAction* fill : {addItem(n9, "FF1", "FF填充", &TForm1::FF1Click),
                          addItem(n9, "N001", "00填充", &TForm1::N001Click)}) {
        fill->setCheckable(true);
        fillGroup->addAction(fill);
    }
    addMirror(n5, "N8", "編輯代碼", "EditFileBut", false);
    addItem(n5, "N10", "清空代碼", &TForm1::N10Click);
    addItem(n5, "N17", "清空窗口", &TForm1::N17Click);
    addItem(n5, "N18", "通信設置", &TForm1::N18Click);

    QMenu* n6 = bar->addMenu(QStringLiteral("工具(&T)"));
    n6->setObjectName(QStringLiteral("N6"));
    addMirror(n6, "N11", "自動", "AutoProBut", true);
    addMirror(n6, "N12", "擦除", "EraseBut", true);
    addMirror(n6, "N13", "燒錄", "ProgramBut", true);
    addMirror(n6, "N15", "讀取", "ReadBut", true);
    addMirror(n6, "N14", "校驗", "VerifyBut", true);
    addMirror(n6, "N16", "加密", "LockBut", true);

    QAction* d1 = bar->addAction(QStringLiteral("芯片選擇(&D)"));
    d1->setObjectName(QStringLiteral("D1"));
    connect(d1, &QAction::triggered, buttons_.at("ICtypeBut"), &QToolButton::click);
    menuItems_[QStringLiteral("D1")] = d1;
    QAction* h1 = bar->addAction(QStringLiteral("幫助(&H)"));
    h1->setObjectName(QStringLiteral("H1"));
    connect(h1, &QAction::triggered, buttons_.at("HelpBut"), &QToolButton::click);
    menuItems_[QStringLiteral("H1")] = h1;
}

void TForm1::createSecondaryWindows() {
    editHexForm_ = new TEditHexForm(this);
    form2_ = new TForm2(this, savedChipIndex_, [this](int index) { session_.confirmChip(index); });
    lockBitForm_ = new TLockBitForm(this, savedLockLevel_, [this](int level) {
        session_.setLockLevel(level);
        guarded([this] { sequencer_.sendLock(); });
    });
    form3_ = new TForm3(this);
}

QToolButton* TForm1::button(const QString& name) const {
    auto it = buttons_.find(name);
    return it == buttons_.end() ? nullptr : it->second;
}

QAction* TForm1::menuItem(const QString& name) const {
    auto it = menuItems_.find(name);
    return it == menuItems_.end() ? nullptr : it->second;
}

QLabel* TForm1::panelValue(const QString& name) const {
    auto it = panelValues_.find(name);
    return it == panelValues_.end() ? nullptr : it->second;
}

QString TForm1::statusBarText() const {
    return statusPanel_->text();
}

// ---- start-up and shutdown

void TForm1::FormCreate() {
    // The ready check runs once, 100 ms from here; the probe it judges is sent further down.
    sequencer_.Timer1().setEnabled(false);
    sequencer_.Timer2().setEnabled(true);
    CheckBox1_->setEnabled(false);
    ProgressBar1_->setValue(0);
    sequencer_.setFileWatch([this](bool mayReload) { return fileWatch_.reloadIfChanged(mayReload); });
    ComPort_.OnRxChar = [this](TCustomComPort*, int count) { ComPortRxChar(count); };
    if (!options_.defaultPort.isEmpty()) ComPort_.SetPort(options_.defaultPort);

    const AppSettings saved = AppSettings::read(store_);
    session_.setFillByte(static_cast<quint8>(saved.fill));
    savedChipIndex_ = saved.chipIndex;
    savedLockLevel_ = saved.lockLevel;
    comSeted_ = saved.comSeted;
    session_.setChipIndex(savedChipIndex_);
    session_.setLockLevel(savedLockLevel_);
    showFillChoice();

    try {
        portOpened_ = bringUpPort(ComPort_, comSeted_, sequencer_, *this);
    } catch (const std::exception& e) {
        // A port settings store that cannot be written or read ends the start-up here; the window still
        // comes up and works without the port.
        reportError(QString::fromUtf8(e.what()));
        return;
    }
    if (portOpened_) session_.showStartupChip();
}

void TForm1::FormClose() {
    if (closed_) return;
    closed_ = true;
    try {
        releasePort(ComPort_);
    } catch (const std::exception& e) {
        // The port's settings could not be saved: say so, then still close the port and keep the user's
        // other choices.
        reportError(QString::fromUtf8(e.what()));
        ComPort_.Disconnect();
    }
    AppSettings s;
    s.fill = session_.buffer().fillByte();
    s.chipIndex = form2_ ? form2_->ICtypeGroup()->itemIndex() : session_.chipIndex();
    s.lockLevel = lockBitForm_ ? lockBitForm_->LockBit()->itemIndex() : session_.lockLevel();
    s.comSeted = comSeted_;
    s.write(store_);
}

void TForm1::guarded(const std::function<void()>& command) {
    // A failure ends the command where it arose and is shown in the general error report; the program goes
    // on.
    try {
        command();
    } catch (const std::exception& e) {
        reportError(QString::fromUtf8(e.what()));
    }
}

void TForm1::reportError(const QString& text) {
    if (options_.errorReport)
        options_.errorReport(text);
    else
        showErrorReport(text);
}

void TForm1::closeEvent(QCloseEvent* event) {
    FormClose();
    event->accept();
    emit closed();
}

// ---- commands

QString TForm1::runOpenDialog() {
    if (openDialog_) return openDialog_();
    return askForFileToOpen(this);
}

TForm1::SaveChoice TForm1::runSaveDialog() {
    if (saveDialog_) return saveDialog_();
    const QString hexFilter = QStringLiteral("Intel hex(*.hex) (*.hex)");
    const QString binFilter = QStringLiteral("Binary(*.bin) (*.bin)");
    QString selected = hexFilter;
    // The writer appends the ending itself, so the typed name is never the file written: no overwrite
    // question.
    SaveChoice choice;
    choice.baseName =
        QFileDialog::getSaveFileName(this, QString(), QString(), hexFilter + QLatin1String(";;") + binFilter,
                                     &selected, QFileDialog::DontConfirmOverwrite);
    choice.format = selected == binFilter ? SaveFormat::Binary : SaveFormat::Hex;
    return choice;
}

void TForm1::OpenFileButClick() {
    runOpen([this] { return runOpenDialog(); });
}

void TForm1::openNamedFile(const QString& path) {
    runOpen([&path] { return path; });
}

void TForm1::runOpen(const std::function<QString()>& choose) {
    sequencer_.Timer3().setEnabled(false);
    const QString path = choose();
    if (!path.isEmpty()) openFile(session_, fileState_, path);
    if (CheckBox1_->isChecked()) sequencer_.Timer3().setEnabled(true);
}

void TForm1::openWhenFree(const QString& path) {
    filesWaiting_ << path;
    openFilesWaiting();
}

void TForm1::openFromOutside(const QString& path) {
    if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
    if (!path.isEmpty()) openWhenFree(path);
}

void TForm1::openFilesWaiting() {
    while (!filesWaiting_.isEmpty()) {
        // The user cannot reach Open while a modal box is up; a file from outside waits for it as a click would.
        if (QApplication::activeModalWidget()) {
            if (!waitForModal_) {
                waitForModal_ = new QTimer(this);
                waitForModal_->setSingleShot(true);
                waitForModal_->setInterval(100);
                connect(waitForModal_, &QTimer::timeout, this, &TForm1::openFilesWaiting);
            }
            waitForModal_->start();
            return;
        }
        const QString path = filesWaiting_.takeFirst();
        guarded([this, &path] { openNamedFile(path); });
    }
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
    dragMoveEvent(event);
}

void TForm1::dragMoveEvent(QDragMoveEvent* event) {
    if (droppedFile(event->mimeData()).isEmpty())
        event->ignore();
    else
        event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
    const QString path = droppedFile(event->mimeData());
    if (path.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    openWhenFree(path);
}

void TForm1::AutoProButClick() {
    sequencer_.AutoProButClick();
}
void TForm1::EraseButClick() {
    sequencer_.EraseButClick();
}
void TForm1::ProgramButClick() {
    sequencer_.ProgramButClick();
}
void TForm1::VerifyButClick() {
    sequencer_.VerifyButClick();
}
void TForm1::ReadButClick() {
    sequencer_.ReadButClick();
}
void TForm1::N18Click() {
    ComPort_.ShowSetup();
}

void TForm1::ComPortRxChar(int count) {
    try {
        sequencer_.ComPortRxChar(count);
    } catch (const std::exception& e) {
        // A reply the host could not answer (the port failed while writing): report it once the delivery has
        // returned, so the port's event thread keeps serving later replies.
        const QString text = QString::fromUtf8(e.what());
        QTimer::singleShot(0, this, [this, text] { reportError(text); });
    }
}

void TForm1::SaveFileButClick() {
    if (!canSave(session_)) return;
    const SaveChoice choice = runSaveDialog();
    if (!choice.baseName.isEmpty()) saveFile(session_, choice.baseName, choice.format);
}

void TForm1::EditFileButClick() {
    if (editHexForm_) editHexForm_->bringUp();
}

void TForm1::LockButClick() {
    if (lockBitForm_) showStayOnTop(lockBitForm_, this);
}

void TForm1::ICtypeButClick() {
    if (form2_) showStayOnTop(form2_, this);
}

void TForm1::HelpButClick() {
    if (form3_) showStayOnTop(form3_, this);
}

void TForm1::FF1Click() {
    session_.setFillByte(0xFF);
    showFillChoice();
}

void TForm1::N001Click() {
    session_.setFillByte(0x00);
    showFillChoice();
}

void TForm1::showFillChoice() {
    const quint8 fill = session_.buffer().fillByte();
    menuItems_.at("FF1")->setChecked(fill == 0xFF);
    menuItems_.at("N001")->setChecked(fill == 0x00);
}

void TForm1::N10Click() {
    session_.clearCode();
}

void TForm1::N17Click() {
    Memo1_->clear();
}

// ---- HostView

void TForm1::log(const QString& line) {
    Memo1_->appendPlainText(line);
}

void TForm1::showMessage(const QString& text) {
    if (options_.messageBox) {
        options_.messageBox(text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Chipwright"), text, QMessageBox::Ok, this);
    box.exec();
}

void TForm1::showChipPanel(const ChipPanel& panel) {
    panelValues_.at("company")->setText(panel.company);
    panelValues_.at("ICType")->setText(panel.type);
    panelValues_.at("Vpp")->setText(panel.vpp);
    panelValues_.at("BufStart")->setText(panel.bufStart);
    panelValues_.at("BufEnd")->setText(panel.bufEnd);
    panelValues_.at("DevStart")->setText(panel.devStart);
    panelValues_.at("DevEnd")->setText(panel.devEnd);
    panelValues_.at("CheckSum")->setText(panel.checkSum);
}

void TForm1::setStatusBarText(const QString& text) {
    statusPanel_->setText(text);
}

void TForm1::setHexLines(const QStringList& lines) {
    if (editHexForm_) editHexForm_->setLines(lines);
}

void TForm1::clearHexView() {
    if (editHexForm_) editHexForm_->clear();
}

void TForm1::appendHexLine(const QString& line) {
    if (editHexForm_) editHexForm_->appendLine(line);
}

QStringList TForm1::hexLines() const {
    return editHexForm_ ? editHexForm_->lines() : QStringList();
}

void TForm1::enableIspSwitch() {
    CheckBox1_->setEnabled(true);
}

void TForm1::setStatus(const QString& text, StatusColour colour) {
    QPalette palette = Label1_->palette();
    switch (colour) {
    case StatusColour::ButtonFace:
        palette.setColor(QPalette::Window, QApplication::palette().color(QPalette::Button));
        break;
    case StatusColour::Success:
        palette.setColor(QPalette::Window, QColor(0, 128, 0));
        break;
    case StatusColour::Failure:
        palette.setColor(QPalette::Window, QColor(255, 0, 0));
        break;
    }
    Label1_->setPalette(palette);
    Label1_->setText(text);
}

void TForm1::setProgress(int percent) {
    ProgressBar1_->setValue(std::clamp(percent, 0, 100));
}

void TForm1::beep(int frequencyHz, int durationMs) {
    if (options_.beep) {
        options_.beep(frequencyHz, durationMs);
        return;
    }
    platform::beep(frequencyHz, durationMs);
}

void TForm1::setStaysOnTop(bool onTop) {
    // QWidget::setWindowFlag would destroy and re-create the native window of a visible window: it flashes,
    // and the hex window that belongs to it stops repainting. The window handle changes the window manager's
    // "above" state in place; the widget only records the flag.
    Qt::WindowFlags flags = windowFlags();
    flags.setFlag(Qt::WindowStaysOnTopHint, onTop);
    if (QWindow* handle = windowHandle()) {
        handle->setFlag(Qt::WindowStaysOnTopHint, onTop);
        overrideWindowFlags(flags);
    } else {
        setWindowFlags(flags); // no native window yet: nothing to re-create
    }
}

void TForm1::raiseWindow() {
    // Topmost and shown, where it is and as large as it is.
    setStaysOnTop(true);
    show();
    raise();
}

void TForm1::lowerWindow() {
    setStaysOnTop(false);
    show();
    lower();
    if (isMinimized()) showNormal();
}
