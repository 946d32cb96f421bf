#pragma once

#include "buffer/filecommands.h"
#include "platform/filetime.h"

#include <optional>

class HostSession;

// The ISP auto switch's look at the loaded file, once per tick of Timer3: when the stamp of the file last
// chosen in the Open dialog has changed and the file has settled, reload it with the chip's capacity in the
// kind of the last Open and show the new image.
class FileWatch {
public:
    FileWatch(HostSession& session, FileState& state) : session_(session), state_(state) {}

    // One tick. True when the file was reloaded and shown, so the Auto run should start.
    //
    // A changed file is reloaded only once it has settled: its stamp, size and modification time were the
    // same at the previous tick, so a compiler or an editor still writing it is left alone. With mayReload
    // false (an operation is under way) the file is only watched; a file that settled meanwhile is reloaded
    // at the first tick that may reload. A file that cannot be read is tried again on every tick until it
    // can; the reason is logged once per change of the file. A file that no longer fits the chip is shown,
    // its size message logged, and no run starts.
    bool reloadIfChanged(bool mayReload = true);

private:
    struct Look {
        QString stamp;
        platform::FileSignature signature;
        bool operator==(const Look&) const = default;
    };

    HostSession& session_;
    FileState& state_;
    QString reportedStamp_;
    std::optional<Look> previousLook_; // at the previous tick, while the stamp differs from the loaded one
};
