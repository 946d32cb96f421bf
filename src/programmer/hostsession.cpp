#include "programmer/hostsession.h"

#include "buffer/dumpline.h"
#include "programmer/chipcatalogue.h"

HostSession::HostSession(HostView& view) : view_(view) {}

void HostSession::applyChip(int index, bool showDataEnd) {
    const ChipInfo* chip = chipAt(index);
    if (!chip) return;
    panel_.company = QLatin1String(chip->company);
    panel_.type = QLatin1String(chip->type);
    panel_.vpp = QLatin1String(chip->vpp);
    panel_.bufStart = addressText(0);
    panel_.bufEnd = addressText(chip->lastAddress());
    panel_.devStart = addressText(0);
    panel_.devEnd = showDataEnd ? addressText(buffer_.dataEnd()) : QString();
    panel_.checkSum.clear();
    buffer_.applyCapacity(chip->capacityUnits());
    view_.showChipPanel(panel_);
}

void HostSession::showStartupChip() { applyChip(chipIndex_, false); }

void HostSession::confirmChip(int index) {
    chipIndex_ = index;
    applyChip(index, true);
}

void HostSession::showDataEnd() {
    panel_.devEnd = addressText(buffer_.dataEnd());
    view_.showChipPanel(panel_);
}

void HostSession::clearCode() { dispData(buffer_.clearCode()); }

void HostSession::dispData(int length) {
    view_.setHexLines(dumpLines(buffer_.code(), length));
    view_.enableIspSwitch();
}
