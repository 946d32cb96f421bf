#pragma once

#include "buffer/filecommands.h"

class HostSession;

// The ISP auto switch's look at the loaded file: when the stamp of the file last chosen in the Open dialog has
// changed, reload it with the chip's capacity in the kind of the last Open and show the new image.
class FileWatch {
public:
    FileWatch(HostSession& session, FileState& state) : session_(session), state_(state) {}

    // True when the file was reloaded and shown, so the Auto run should start. A file that cannot be read is
    // tried again on every tick until it can; the reason is logged once per change of the file. A file that no
    // longer fits the chip is shown, its size message logged, and no run starts.
    bool reloadIfChanged();

private:
    HostSession& session_;
    FileState& state_;
    QString reportedStamp_;
};
