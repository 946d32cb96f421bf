#include "serial/comsettings.h"
#include "serial/comsetupdialog.h"
#include "serial/cporttexts.h"
#include "serialtestsupport.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {

// Runs `drive` on the setup dialog once it is showing, then ShowSetup returns after drive closed it.
void runSetup(TCustomComPort& port, const std::function<void(TComSetupFrm&)>& drive) {
    bool driven = false;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<TComSetupFrm*>(QApplication::activeModalWidget());
        if (!dialog || driven) return;
        driven = true;
        drive(*dialog);
    });
    poll.start();
    port.ShowSetup();
    EXPECT_TRUE(driven);
}

// A user's pick of the entry with this text.
void pick(TComComboBox* combo, const QString& text) {
    const int i = combo->findText(text);
    ASSERT_GE(i, 0) << text.toStdString();
    combo->setCurrentIndex(i);
    emit combo->activated(i);
}

class ListedPorts {
public:
    explicit ListedPorts(QStringList names) {
        SetSerialPortListSource([names] { return names; });
    }
    ~ListedPorts() { SetSerialPortListSource(nullptr); }
};

} // namespace

TEST(ComSetup, OkAppliesEverySelectorInOrderInsideOneBatch) {
    PtyPair a, b;
    ListedPorts listed({b.slavePath(), a.slavePath()});
    RecordingPort port;
    port.SetPort(a.slavePath());
    port.Connect();
    port.pushes.clear();
    std::vector<TBaudRate> baudAtReopen;
    std::vector<unsigned> deviceSpeedAtReopen;
    port.OnAfterOpen = [&](TCustomComPort* p) {
        baudAtReopen.push_back(p->BaudRate());
        deviceSpeedAtReopen.push_back(b.lineState().ospeed);
    };

    runSetup(port, [&](TComSetupFrm& d) {
        EXPECT_EQ(d.windowTitle(), QStringLiteral("Setup"));
        EXPECT_EQ(d.Combo1->Text(), a.slavePath());
        EXPECT_EQ(d.Combo2->Text(), QStringLiteral("9600"));
        EXPECT_EQ(d.Combo6->Text(), QStringLiteral("None"));
        EXPECT_EQ(d.Combo2->count(), 16);
        pick(d.Combo1, b.slavePath());
        pick(d.Combo2, QStringLiteral("115200"));
        pick(d.Combo3, QStringLiteral("7"));
        pick(d.Combo4, QStringLiteral("2"));
        pick(d.Combo5, QStringLiteral("Even"));
        pick(d.Combo6, QStringLiteral("Hardware"));
        EXPECT_EQ(port.BaudRate(), br9600); // nothing applied before OK
        d.Button1->click();
    });

    EXPECT_EQ(port.Port(), b.slavePath());
    EXPECT_TRUE(port.Connected());
    // The port selector goes first: the reopening still saw the old line settings.
    EXPECT_EQ(baudAtReopen, std::vector<TBaudRate>{br9600});
    // ... and the new device had them from its first moment, not the terminal's defaults (38400, echo).
    EXPECT_EQ(deviceSpeedAtReopen, std::vector<unsigned>{9600u});
    EXPECT_EQ(port.BaudRate(), br115200);
    EXPECT_EQ(port.DataBits(), dbSeven);
    EXPECT_EQ(port.StopBits(), sbTwoStopBits);
    EXPECT_EQ(port.Parity().Bits(), prEven);
    EXPECT_EQ(port.FlowControl().FlowControl(), fcHardware);
    // Once when the new device opened, once with the changes at the batch's end.
    EXPECT_EQ(port.pushes,
              (std::vector<std::string>{"buffer", "line", "timeouts", "buffer", "line", "timeouts"}));
    EXPECT_EQ(b.lineState().ospeed, 115200u);
    EXPECT_TRUE(b.lineState().crtscts);
}

TEST(ComSetup, CancelAppliesNothing) {
    ListedPorts listed({QStringLiteral("COM1"), QStringLiteral("ttyUSB0")});
    TComPort port;
    port.FlowControl().SetControlRTS(rtsToggle);
    runSetup(port, [&](TComSetupFrm& d) {
        EXPECT_EQ(d.Combo6->Text(), QStringLiteral("Custom"));
        pick(d.Combo1, QStringLiteral("ttyUSB0"));
        pick(d.Combo2, QStringLiteral("300"));
        pick(d.Combo3, QStringLiteral("5"));
        pick(d.Combo4, QStringLiteral("1.5"));
        pick(d.Combo5, QStringLiteral("Odd"));
        pick(d.Combo6, QStringLiteral("Software"));
        d.Button2->click();
    });
    EXPECT_EQ(port.Port(), QStringLiteral("COM1"));
    EXPECT_EQ(port.BaudRate(), br9600);
    EXPECT_EQ(port.DataBits(), dbEight);
    EXPECT_EQ(port.StopBits(), sbOneStopBit);
    EXPECT_EQ(port.Parity().Bits(), prNone);
    EXPECT_EQ(port.FlowControl().ControlRTS(), rtsToggle);
}

TEST(ComSetup, APortNameNotInTheListIsOfferedAndKeptByOk) {
    ListedPorts listed({QStringLiteral("ttyUSB0")});
    TComPort port;
    port.SetPort(QStringLiteral("/dev/pts/7"));
    port.SetBaudRate(brCustom);
    port.FlowControl().SetXonXoffIn(true); // matches no preset
    runSetup(port, [&](TComSetupFrm& d) {
        EXPECT_EQ(d.Combo1->Text(), QStringLiteral("/dev/pts/7"));
        EXPECT_EQ(d.Combo1->count(), 2) << "the listed port stays pickable";
        EXPECT_EQ(d.Combo2->Text(), QStringLiteral("Custom"));
        EXPECT_EQ(d.Combo6->Text(), QStringLiteral("Custom"));
        d.Button1->click();
    });
    EXPECT_EQ(port.Port(), QStringLiteral("/dev/pts/7")) << "changing other settings never loses the port";
    EXPECT_EQ(port.BaudRate(), brCustom);
    EXPECT_TRUE(port.FlowControl().XonXoffIn()); // "Custom" leaves the details alone
}

// The port box takes a typed name (a programmer on another machine); the other boxes stay lists.
TEST(ComSetup, ATypedNetworkPortIsKeptByOkAndAPickReplacesIt) {
    ListedPorts listed({QStringLiteral("COM1"), QStringLiteral("ttyUSB0")});
    for (bool pickAfterwards : {false, true}) {
        TComPort port;
        runSetup(port, [&](TComSetupFrm& d) {
            ASSERT_TRUE(d.Combo1->isEditable());
            for (TComComboBox* other : {d.Combo2, d.Combo3, d.Combo4, d.Combo5, d.Combo6})
                EXPECT_FALSE(other->isEditable());
            d.Combo1->lineEdit()->selectAll();
            QTest::keyClicks(d.Combo1->lineEdit(), QStringLiteral(" rfc2217://[::1]:3333"));
            EXPECT_EQ(d.Combo1->Text(), QStringLiteral("rfc2217://[::1]:3333"));
            EXPECT_EQ(d.Combo1->count(), 2) << "a typed name is not added to the list";
            if (pickAfterwards) pick(d.Combo1, QStringLiteral("ttyUSB0"));
            d.Button1->click();
        });
        EXPECT_EQ(port.Port(), pickAfterwards ? QStringLiteral("ttyUSB0") : QStringLiteral("rfc2217://[::1]:3333"));
    }
}

TEST(ComSetup, SelectorRules) {
    TComComboBox combo;
    combo.SetComProperty(cpParity);
    EXPECT_EQ(combo.Text(), QStringLiteral("None")); // unbound: entry 0
    combo.SetText(QStringLiteral("Mark"));
    EXPECT_EQ(combo.Text(), QStringLiteral("Mark"));
    combo.SetText(QStringLiteral("Nothing"));
    EXPECT_EQ(combo.Text(), QStringLiteral("Mark"));

    int changes = 0;
    QObject::connect(&combo, &TComComboBox::Change, [&] { ++changes; });
    {
        TComPort port;
        port.Parity().SetBits(prSpace);
        combo.SetComPort(&port);
        EXPECT_EQ(combo.Text(), QStringLiteral("Space"));
        combo.SetAutoApply(true);
        pick(&combo, QStringLiteral("Odd"));
        EXPECT_EQ(port.Parity().Bits(), prOdd);
        EXPECT_EQ(changes, 1);
    }
    // The bound port went away: unbound, entry 0.
    EXPECT_EQ(combo.ComPort(), nullptr);
    EXPECT_EQ(combo.Text(), QStringLiteral("None"));
}

TEST(ComSetup, AFailingPortListingEndsTheDialogBeforeItShows) {
    SetSerialPortListSource([]() -> QStringList { throw EComPort(CError_RegError, 2); });
    TComPort port;
    const EComPort failure = raisedBy([&] { port.ShowSetup(); });
    SetSerialPortListSource(nullptr);
    EXPECT_EQ(failure.PortErrorCode(), 23);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST(ComSetup, DialogTextsFollowTheCatalogue) {
    const QByteArray previous = qgetenv("LANG");
    qputenv("LANG", "zh_TW.UTF-8");
    LoadSerialLibraryTexts(QStringLiteral(SERIAL_TEST_BUILD_DIR "/locale"));
    {
        ListedPorts listed({QStringLiteral("COM1")});
        TComSetupFrm dialog;
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("設定"));
        EXPECT_EQ(dialog.Button2->text(), QStringLiteral("取消"));
        EXPECT_EQ(dialog.Combo5->itemText(0), QStringLiteral("None")); // entries stay as stored
    }
    qputenv("LANG", previous);
    LoadSerialLibraryTexts();
}
