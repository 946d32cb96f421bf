#include "serial/comsettings.h"

#include "platform/portlist.h"
#include "serial/comport.h"
#include "serial/comtextforms.h"
#include "serial/ecomport.h"
#include "serial/inifile.h"

#include <algorithm>
#include <stdexcept>

namespace {

struct StoreFailure : std::runtime_error {
    StoreFailure() : std::runtime_error("settings store") {}
};

void check(bool ok) {
    if (!ok) throw StoreFailure();
}

// The keys and value forms shared by both store kinds, so that the two stay in the same order.
class SettingsWriter {
public:
    virtual ~SettingsWriter() = default;
    virtual void text(const char* key, const QString& value) = 0;
    virtual void number(const char* key, std::int32_t value) = 0;
};

class SettingsReader {
public:
    virtual ~SettingsReader() = default;
    // present: the text form of the setting's present value (the ini file's default).
    virtual QString text(const char* key, const QString& present) = 0;
    virtual std::int32_t number(const char* key, std::int32_t present) = 0;
};

void writeAll(const TCustomComPort& p, SettingsWriter& w) {
    const TPersistGroups g = p.PersistGroups();
    if (g.contains(pgLine)) {
        w.text("Port", p.Port());
        w.text("BaudRate", BaudRateName(p.BaudRate()));
        if (p.BaudRate() == brCustom) w.number("CustomBaudRate", p.CustomBaudRate());
        w.text("StopBits", StopBitsName(p.StopBits()));
        w.text("DataBits", DataBitsName(p.DataBits()));
        w.text("Parity", ParityName(p.Parity().Bits()));
        w.text("FlowControl", FlowControlName(p.FlowControl().FlowControl()));
    }
    if (g.contains(pgOther)) {
        w.text("EventChar", CharName(p.EventChar()));
        w.text("DiscardNull", YesNoName(p.DiscardNull()));
    }
    if (g.contains(pgParityDetail)) {
        w.text("Parity.Check", YesNoName(p.Parity().Check()));
        w.text("Parity.Replace", YesNoName(p.Parity().Replace()));
        w.text("Parity.ReplaceChar", CharName(p.Parity().ReplaceChar()));
    }
    if (g.contains(pgBuffer)) {
        w.number("Buffer.OutputSize", p.Buffer().OutputSize());
        w.number("Buffer.InputSize", p.Buffer().InputSize());
    }
    if (g.contains(pgTimeouts)) {
        const TComTimeouts& t = p.Timeouts();
        w.number("Timeouts.ReadInterval", t.ReadInterval());
        w.number("Timeouts.ReadTotalConstant", t.ReadTotalConstant());
        w.number("Timeouts.ReadTotalMultiplier", t.ReadTotalMultiplier());
        w.number("Timeouts.WriteTotalConstant", t.WriteTotalConstant());
        w.number("Timeouts.WriteTotalMultiplier", t.WriteTotalMultiplier());
    }
    if (g.contains(pgFlowDetail)) {
        const TComFlowControl& f = p.FlowControl();
        w.text("FlowControl.ControlRTS", RtsModeName(f.ControlRTS()));
        w.text("FlowControl.ControlDTR", DtrModeName(f.ControlDTR()));
        w.text("FlowControl.DSRSensitivity", YesNoName(f.DSRSensitivity()));
        w.text("FlowControl.OutCTSFlow", YesNoName(f.OutCTSFlow()));
        w.text("FlowControl.OutDSRFlow", YesNoName(f.OutDSRFlow()));
        w.text("FlowControl.TxContinueOnXoff", YesNoName(f.TxContinueOnXoff()));
        w.text("FlowControl.XonXoffIn", YesNoName(f.XonXoffIn()));
        w.text("FlowControl.XonXoffOut", YesNoName(f.XonXoffOut()));
        w.text("FlowControl.XoffChar", CharName(f.XoffChar()));
        w.text("FlowControl.XonChar", CharName(f.XonChar()));
    }
}

void readAll(TCustomComPort& p, SettingsReader& r) {
    const TPersistGroups g = p.PersistGroups();
    if (g.contains(pgLine)) {
        p.SetPort(r.text("Port", p.Port()));
        p.SetBaudRate(ParseBaudRate(r.text("BaudRate", BaudRateName(p.BaudRate()))));
        if (p.BaudRate() == brCustom) p.SetCustomBaudRate(r.number("CustomBaudRate", 9600));
        p.SetStopBits(ParseStopBits(r.text("StopBits", StopBitsName(p.StopBits()))));
        p.SetDataBits(ParseDataBits(r.text("DataBits", DataBitsName(p.DataBits()))));
        p.Parity().SetBits(ParseParity(r.text("Parity", ParityName(p.Parity().Bits()))));
        p.FlowControl().SetFlowControl(
            ParseFlowControl(r.text("FlowControl", FlowControlName(p.FlowControl().FlowControl()))));
    }
    if (g.contains(pgOther)) {
        p.SetEventChar(ParseCharName(r.text("EventChar", CharName(p.EventChar()))));
        p.SetDiscardNull(ParseYesNo(r.text("DiscardNull", YesNoName(p.DiscardNull()))));
    }
    if (g.contains(pgParityDetail)) {
        TComParity& par = p.Parity();
        par.SetCheck(ParseYesNo(r.text("Parity.Check", YesNoName(par.Check()))));
        par.SetReplace(ParseYesNo(r.text("Parity.Replace", YesNoName(par.Replace()))));
        par.SetReplaceChar(ParseCharName(r.text("Parity.ReplaceChar", CharName(par.ReplaceChar()))));
    }
    if (g.contains(pgBuffer)) {
        TComBuffer& b = p.Buffer();
        b.SetOutputSize(r.number("Buffer.OutputSize", b.OutputSize()));
        b.SetInputSize(r.number("Buffer.InputSize", b.InputSize()));
    }
    if (g.contains(pgTimeouts)) {
        TComTimeouts& t = p.Timeouts();
        t.SetReadInterval(r.number("Timeouts.ReadInterval", t.ReadInterval()));
        t.SetReadTotalConstant(r.number("Timeouts.ReadTotalConstant", t.ReadTotalConstant()));
        t.SetReadTotalMultiplier(r.number("Timeouts.ReadTotalMultiplier", t.ReadTotalMultiplier()));
        t.SetWriteTotalConstant(r.number("Timeouts.WriteTotalConstant", t.WriteTotalConstant()));
        t.SetWriteTotalMultiplier(r.number("Timeouts.WriteTotalMultiplier", t.WriteTotalMultiplier()));
    }
    if (g.contains(pgFlowDetail)) {
        TComFlowControl& f = p.FlowControl();
        f.SetControlRTS(ParseRtsMode(r.text("FlowControl.ControlRTS", RtsModeName(f.ControlRTS()))));
        f.SetControlDTR(ParseDtrMode(r.text("FlowControl.ControlDTR", DtrModeName(f.ControlDTR()))));
        f.SetDSRSensitivity(ParseYesNo(r.text("FlowControl.DSRSensitivity", YesNoName(f.DSRSensitivity()))));
        f.SetOutCTSFlow(ParseYesNo(r.text("FlowControl.OutCTSFlow", YesNoName(f.OutCTSFlow()))));
        f.SetOutDSRFlow(ParseYesNo(r.text("FlowControl.OutDSRFlow", YesNoName(f.OutDSRFlow()))));
        f.SetTxContinueOnXoff(
            ParseYesNo(r.text("FlowControl.TxContinueOnXoff", YesNoName(f.TxContinueOnXoff()))));
        f.SetXonXoffIn(ParseYesNo(r.text("FlowControl.XonXoffIn", YesNoName(f.XonXoffIn()))));
        f.SetXonXoffOut(ParseYesNo(r.text("FlowControl.XonXoffOut", YesNoName(f.XonXoffOut()))));
        f.SetXoffChar(ParseCharName(r.text("FlowControl.XoffChar", CharName(f.XoffChar()))));
        f.SetXonChar(ParseCharName(r.text("FlowControl.XonChar", CharName(f.XonChar()))));
    }
}

// Collects the values and writes them to the key in one go, so that the key's file is replaced once per save
// and a crash leaves all values old or all new.
class RegistryWriter : public SettingsWriter {
public:
    void text(const char* key, const QString& value) override {
        platform::RegistryValue v;
        v.name = QLatin1String(key);
        v.text = value;
        values_.push_back(std::move(v));
    }
    void number(const char* key, std::int32_t value) override {
        platform::RegistryValue v;
        v.name = QLatin1String(key);
        v.type = platform::RegistryValue::Type::Dword;
        v.number = static_cast<quint32>(value);
        values_.push_back(std::move(v));
    }
    void commit(platform::RegistryKey& key) { check(key.writeValues(values_)); }

private:
    std::vector<platform::RegistryValue> values_;
};

// Strings are read without defaults: a missing one is the empty text and gives the parser's fallback. A
// missing or non-number integer is a failure.
class RegistryReader : public SettingsReader {
public:
    explicit RegistryReader(platform::RegistryKey* key) : key_(key) {}
    QString text(const char* key, const QString&) override {
        if (!key_) return {};
        return key_->readString(QLatin1String(key)).value_or(QString());
    }
    std::int32_t number(const char* key, std::int32_t) override {
        if (!key_) throw StoreFailure();
        const std::optional<quint32> value = key_->readDword(QLatin1String(key));
        if (!value) throw StoreFailure();
        return static_cast<std::int32_t>(*value);
    }

private:
    platform::RegistryKey* key_;
};

class IniWriter : public SettingsWriter {
public:
    IniWriter(TIniFile& ini, const QString& section) : ini_(ini), section_(section) {}
    void text(const char* key, const QString& value) override {
        check(ini_.WriteString(section_, QLatin1String(key), value));
    }
    void number(const char* key, std::int32_t value) override {
        check(ini_.WriteInteger(section_, QLatin1String(key), value));
    }

private:
    TIniFile& ini_;
    QString section_;
};

class IniReader : public SettingsReader {
public:
    IniReader(TIniFile& ini, const QString& section) : ini_(ini), section_(section) {}
    QString text(const char* key, const QString& present) override {
        return ini_.ReadString(section_, QLatin1String(key), present);
    }
    std::int32_t number(const char* key, std::int32_t present) override {
        return ini_.ReadInteger(section_, QLatin1String(key), present);
    }

private:
    TIniFile& ini_;
    QString section_;
};

std::optional<platform::RegistryKey> openKey(const QString& location, const QString& name) {
    const auto where = ResolveComRegistryLocation(location, name);
    if (!where) return std::nullopt;
    return platform::RegistryKey::open(where->hive, where->keyPath, true);
}

} // namespace

std::optional<ComRegistryLocation> ResolveComRegistryLocation(const QString& location,
                                                              const QString& componentName) {
    const qsizetype slash = location.indexOf(QLatin1Char('\\'));
    if (slash < 0) return std::nullopt;
    ComRegistryLocation result;
    const QString root = location.left(slash);
    if (root.compare(QLatin1String("HKEY_LOCAL_MACHINE"), Qt::CaseInsensitive) == 0)
        result.hive = platform::RegistryHive::LocalMachine;
    QString path = location.mid(slash + 1);
    if (!path.endsWith(QLatin1Char('\\'))) path += QLatin1Char('\\');
    result.keyPath = path + componentName;
    return result;
}

void TCustomComPort::WriteRegistry(platform::RegistryKey& key) {
    RegistryWriter w;
    writeAll(*this, w);
    w.commit(key);
}

void TCustomComPort::WriteIniFile(TIniFile& ini) {
    IniWriter w(ini, name_);
    writeAll(*this, w);
}

void TCustomComPort::ReadRegistry(platform::RegistryKey* key) {
    RegistryReader r(key);
    readAll(*this, r);
}

void TCustomComPort::ReadIniFile(TIniFile& ini) {
    IniReader r(ini, name_);
    readAll(*this, r);
}

void TCustomComPort::SaveSettings(SettingsStoreKind StoreType, const QString& StoreTo) {
    try {
        if (StoreType == IniFileStore) {
            TIniFile ini(StoreTo);
            WriteIniFile(ini);
        } else {
            std::optional<platform::RegistryKey> key = openKey(StoreTo, name_);
            if (!key) throw StoreFailure();
            WriteRegistry(*key);
        }
    } catch (const std::exception&) {
        throw EComPort(CError_StoreFailed);
    }
}

void TCustomComPort::RestoreSettings(SettingsStoreKind StoreType, const QString& StoreFrom) {
    BeginSettingsBatch();
    try {
        if (StoreType == IniFileStore) {
            TIniFile ini(StoreFrom);
            ReadIniFile(ini);
        } else {
            std::optional<platform::RegistryKey> key;
            if (ResolveComRegistryLocation(StoreFrom, name_)) {
                key = openKey(StoreFrom, name_);
                if (!key) throw StoreFailure();
            }
            ReadRegistry(key ? &*key : nullptr);
        }
    } catch (const std::exception&) {
        // The values applied so far stay in force and reach the device now.
        EndSettingsBatch();
        throw EComPort(CError_LoadFailed);
    }
    EndSettingsBatch();
}

namespace {
std::function<QStringList()>& listSource() {
    static std::function<QStringList()> source;
    return source;
}
} // namespace

void SetSerialPortListSource(std::function<QStringList()> source) {
    listSource() = std::move(source);
}

void ListSerialPorts(QStringList& list) {
    if (listSource()) {
        QStringList names = listSource()();
        SortSerialPortNames(names);
        list = names;
        return;
    }
    std::vector<std::string> names;
    if (const int err = platform::listSerialDevices(names)) throw EComPort(CError_RegError, err);
    QStringList found;
    for (const std::string& n : names)
        found << QString::fromStdString(n);
    SortSerialPortNames(found);
    list = found;
}

void SortSerialPortNames(QStringList& names) {
    std::stable_sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
}
