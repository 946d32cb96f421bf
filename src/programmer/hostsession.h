#pragma once

#include "buffer/codebuffer.h"
#include "programmer/hostview.h"

// The host's state for the whole run: the code and read buffers, the chip selection and the lock level. The
// windows forward their commands here; what the user is told goes through the HostView.
class HostSession {
public:
    explicit HostSession(HostView& view);

    HostView& view() { return view_; }
    CodeBuffer& buffer() { return buffer_; }
    const CodeBuffer& buffer() const { return buffer_; }

    // The selected chip, as saved or confirmed; may lie outside 0..7 when a saved setting did.
    int chipIndex() const { return chipIndex_; }
    void setChipIndex(int chipIndex) { chipIndex_ = chipIndex; }

    int lockLevel() const { return lockLevel_; }
    void setLockLevel(int lockLevel) { lockLevel_ = lockLevel; }

    const ChipPanel& panel() const { return panel_; }

    // Start-up: show the current chip and apply its sizes, with "Dev End :" left empty. Nothing happens for an
    // index outside 0..7.
    void showStartupChip();
    // The chip dialog's confirm: the chip index becomes index; for 0..7 the panel, the read buffer and the
    // capacity follow the row, with "Dev End :" showing the data end.
    void confirmChip(int index);

    // "Dev End :" shows the data end (after a successful load).
    void showDataEnd();

    // The two fill-value commands; they change no buffer until the next load or Clear code.
    void setFillByte(quint8 fill) { buffer_.setFillByte(fill); }
    // Clear code: fills the chip's capacity with the fill byte and shows it.
    void clearCode();
    // Rebuilds the hex view from the first length bytes of the code buffer.
    void dispData(int length);

private:
    void applyChip(int index, bool showDataEnd);

    HostView& view_;
    CodeBuffer buffer_;
    int chipIndex_ = 6;
    int lockLevel_ = 0;
    ChipPanel panel_;
};
